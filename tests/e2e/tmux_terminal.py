"""Runs the real program in a private tmux server and watches its terminal.

One Terminal is one tmux server on its own socket in a temporary directory,
started without any configuration (-f /dev/null) and with every window fixed
at 80 x 25. Each Run starts the program once in a session of its own and in
a working directory of its own, through a small shell script that records the
terminal settings (stty -g) before and after the program and its exit status.
Everything the program writes to the terminal is kept with pipe-pane, so the
tests can count bells (BEL, 0x07) and see the cursor-shape sequences.

Waiting is always a poll with a deadline; when an expectation is not met in
time the failure message holds the whole screen, the cursor and the tail of
the raw output.

Screen positions here are those of tmux: x and y counted from 0, so the
program's (31, 3) is tmux's (30, 2).
"""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time

WIDTH = 80
HEIGHT = 25

# Generous, for a loaded machine and for sanitizer builds.
DEADLINE = 30.0
POLL = 0.02

# DECSCUSR, the cursor-shape sequence CSI Ps SP q, with the DECTCEM "show"
# that the program sends with it.
SHAPE = re.compile(rb"(?:\x1b\[\?25h)?\x1b\[(\d*) q")
SHAPE_SOLID = b"2"
SHAPE_NORMAL = b"0"
HIDE = b"\x1b[?25l"
SHOW = b"\x1b[?25h"
BEL = 0x07

# The pane runs this; "$1" is the run's directory, "$2" the program. The
# trap keeps the shell alive through a Ctrl+C (the program gets the default
# action back on exec) so that it can still record the status and settings.
RUNNER = """\
cd "$1" || exit 1
trap : INT
while [ ! -e go ]; do sleep 0.02; done
stty -g > stty.before
"$2"
status=$?
stty -g > stty.after
echo "$status" > status.tmp
mv status.tmp status
exec sleep 86400
"""


class Timeout(AssertionError):
    pass


def wait_until(condition, describe, deadline=DEADLINE):
    """Polls condition() until it returns a true value, which it returns.

    On timeout raises Timeout with describe(), which should say what was
    expected and show the screen.
    """
    end = time.monotonic() + deadline
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise Timeout(describe())
        time.sleep(POLL)


class Terminal:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="quib-e2e-")
        self.socket = os.path.join(self.dir, "tmux.sock")
        self.env = {k: v for k, v in os.environ.items() if k != "TMUX"}
        self.runs = 0
        # A session that keeps the server up between runs and ends it, with
        # every program still running in it, once this test process is
        # gone, however it ended.
        watchdog = (f"while kill -0 {os.getpid()} 2>/dev/null; do sleep 1; "
                    f"done; exec tmux -S {shlex.quote(self.socket)} "
                    "kill-server")
        self.tmux("new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT),
                  "-s", "keep", watchdog)
        # window-size is set per window: tmux 3.3 crashes creating a session
        # when it is set globally to manual.
        for option in (("status", "off"), ("remain-on-exit", "off"),
                       ("default-size", f"{WIDTH}x{HEIGHT}")):
            self.tmux("set-option", "-g", *option)

    def tmux(self, *args):
        result = subprocess.run(
            ["tmux", "-S", self.socket, "-f", "/dev/null", *args],
            env=self.env, capture_output=True, timeout=DEADLINE)
        if result.returncode != 0:
            raise AssertionError(
                f"tmux {' '.join(args)} failed: {result.stderr.decode()}")
        return result.stdout.decode("latin-1")

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"],
                       env=self.env, capture_output=True, timeout=DEADLINE)
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, program, args=()):
        self.runs += 1
        return Run(self, f"run{self.runs}", program, args)


class Run:
    """One start of the program, from the first byte it writes to its end."""

    def __init__(self, terminal, name, program, args):
        self.term = terminal
        self.name = name
        self.dir = os.path.join(terminal.dir, name)
        os.mkdir(self.dir)
        script = os.path.join(self.dir, "run.sh")
        with open(script, "w") as f:
            f.write(RUNNER)
        self.raw_path = os.path.join(self.dir, "output.raw")
        command = " ".join(shlex.quote(a) for a in
                           ("/bin/sh", script, self.dir, program, *args))
        terminal.tmux("new-session", "-d", "-x", str(WIDTH), "-y",
                      str(HEIGHT), "-s", name, command)
        terminal.tmux("set-option", "-w", "-t", name, "window-size",
                      "manual")
        size = terminal.tmux("display-message", "-p", "-t", name,
                             "#{pane_width}x#{pane_height}").strip()
        if size != f"{WIDTH}x{HEIGHT}":
            raise AssertionError(f"the pane is {size}, not {WIDTH}x{HEIGHT}")
        terminal.tmux("pipe-pane", "-t", name, "-o",
                      f"cat >> {shlex.quote(self.raw_path)}")
        open(os.path.join(self.dir, "go"), "w").close()

    # -- what the terminal shows ---------------------------------------

    def screen(self):
        """The pane as HEIGHT lines, trailing blanks removed."""
        text = self.term.tmux("capture-pane", "-p", "-t", self.name)
        lines = [line.rstrip() for line in text.split("\n")[:HEIGHT]]
        return lines + [""] * (HEIGHT - len(lines))

    def cursor(self):
        """(x, y, visible) of the pane's cursor."""
        out = self.term.tmux("display-message", "-p", "-t", self.name,
                             "#{cursor_x} #{cursor_y} #{cursor_flag}")
        x, y, flag = out.split()
        return int(x), int(y), flag == "1"

    def raw(self):
        try:
            with open(self.raw_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def file(self, name):
        return os.path.join(self.dir, name)

    def dump(self, expected=None):
        """The whole screen, the cursor and the raw tail for a failure."""
        lines = [f"--- screen of {self.name} (x, y from 0) ---"]
        lines += [f"{y:2}|{line}" for y, line in enumerate(self.screen())]
        lines.append(f"cursor (x, y, visible): {self.cursor()}")
        if expected is not None:
            lines.append("--- expected ---")
            lines += [f"{y:2}|{line}" for y, line in enumerate(expected)]
        lines.append(f"raw output tail: {self.raw()[-300:]!r}")
        return "\n".join(lines)

    # -- keys ----------------------------------------------------------

    def keys(self, *names):
        """tmux key names: Up, Home, IC (Insert), DC (Delete), BSpace ..."""
        self.term.tmux("send-keys", "-t", self.name, *names)

    def text(self, chars):
        self.term.tmux("send-keys", "-t", self.name, "-l", chars)

    def bytes(self, *hex_bytes):
        self.term.tmux("send-keys", "-t", self.name, "-H", *hex_bytes)

    def step(self, send, bells=0, shapes=0):
        """Sends keys and returns what the program wrote in answer to them.

        Two Inserts follow the keys as a sentinel: each toggles the advance
        mode and writes a cursor-shape sequence, so once `shapes` sequences
        of the keys themselves and the sentinel's two have arrived, every
        byte the keys caused has arrived too, and the bells among them are
        counted exactly. The mode is the same afterwards.
        """
        mark = len(self.raw())
        send()
        self.keys("IC", "IC")

        def sentinel_seen():
            found = list(SHAPE.finditer(self.raw(), mark))
            if len(found) < shapes + 2:
                return None
            return (found[shapes].start(),)

        (end,) = wait_until(sentinel_seen, lambda: (
            f"the cursor-shape sentinel never arrived\n{self.dump()}"))
        out = self.raw()[mark:end]
        rang = out.count(BEL)
        if rang != bells:
            raise AssertionError(
                f"{rang} bells instead of {bells}; output {out!r}\n"
                f"{self.dump()}")
        return out

    # -- waiting for a state --------------------------------------------

    def expect_screen(self, lines, cursor=None, visible=True):
        """Waits until the screen is exactly lines and, if given, the
        cursor stands at cursor (x, y) with the given visibility."""
        expected = [line.rstrip() for line in lines]

        def matches():
            if self.screen() != expected:
                return False
            return cursor is None or self.cursor() == (*cursor, visible)

        wait_until(matches, lambda: (
            f"screen or cursor not as expected (cursor {cursor}, visible "
            f"{visible})\n{self.dump(expected)}"))

    def last_shape(self):
        found = SHAPE.findall(self.raw())
        return found[-1] if found else None

    def is_running(self):
        return not os.path.exists(self.file("status"))

    def wait_exit(self):
        """Waits for the end; returns the exit status as the shell saw it
        (128 + n for signal n) and the terminal settings before and after."""
        wait_until(lambda: not self.is_running(), lambda: (
            f"the program did not end\n{self.dump()}"))
        with open(self.file("status")) as f:
            status = int(f.read())
        with open(self.file("stty.before")) as f:
            before = f.read()
        with open(self.file("stty.after")) as f:
            after = f.read()
        return status, before, after

    def close(self):
        self.term.tmux("kill-session", "-t", self.name)
