"""A private tmux server with one 80 x 25 pane, for the hardening tests.

The server runs on its own socket in a temporary directory, without any
configuration (-f /dev/null) and without a status line. The pane runs a
shell script given by the test; the script waits for a file "go" in the
pane's directory, which appears once the pane has its size, so that the
program never sees a terminal of another size.

Waiting is a poll with a deadline; a failure message carries the whole
screen. Screen positions here are tmux's, x and y counted from 0, so the
program's (31, 3) is (30, 2).
"""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

WIDTH = 80
HEIGHT = 25

# Generous, for a loaded two-core machine and for sanitizer builds.
DEADLINE = 60.0
POLL = 0.02

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class Failure(AssertionError):
    pass


def wait_until(condition, describe, deadline=DEADLINE):
    """Polls condition() until it gives a true value, and returns it; raises
    Failure with describe() when the deadline passes first."""
    end = time.monotonic() + deadline
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(describe())
        time.sleep(POLL)


def skip(reason):
    """Ends the test as skipped (CTest's SKIP_RETURN_CODE 77)."""
    print(f"SKIPPED: {reason}")
    sys.exit(77)


def require_tools(*tools):
    for tool in tools:
        if shutil.which(tool) is None:
            skip(f"{tool} is not installed")


class Pane:
    """One tmux server with one pane running `script` (sh) with `args`."""

    def __init__(self, script, *args):
        self.dir = tempfile.mkdtemp(prefix="quib-hardening-")
        self.socket = os.path.join(self.dir, "tmux.sock")
        self.env = {k: v for k, v in os.environ.items() if k != "TMUX"}
        path = self.file("pane.sh")
        with open(path, "w") as f:
            f.write('cd "$(dirname "$0")" || exit 1\n'
                    "while [ ! -e go ]; do sleep 0.02; done\n")
            f.write(script)
        command = " ".join(shlex.quote(a) for a in ("/bin/sh", path, *args))
        self.tmux("new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT),
                  "-s", "main", command)
        self.tmux("set-option", "-g", "status", "off")
        # Per window: tmux 3.3 does not take window-size manual globally.
        self.tmux("set-option", "-w", "-t", "main", "window-size", "manual")
        self.tmux("resize-window", "-t", "main", "-x", str(WIDTH), "-y",
                  str(HEIGHT))
        size = self.display("#{pane_width}x#{pane_height}")
        if size != f"{WIDTH}x{HEIGHT}":
            raise Failure(f"the pane is {size}, not {WIDTH}x{HEIGHT}")
        self.shell_pid = int(self.display("#{pane_pid}"))
        self.tty = self.display("#{pane_tty}")
        open(self.file("go"), "w").close()

    def tmux(self, *args, check=True):
        result = subprocess.run(
            ["tmux", "-S", self.socket, "-f", "/dev/null", *args],
            env=self.env, capture_output=True, timeout=DEADLINE)
        if check and result.returncode != 0:
            raise Failure(f"tmux {' '.join(args)} failed: "
                          f"{result.stderr.decode(errors='replace')}")
        return result.stdout.decode("latin-1")

    def display(self, fmt):
        return self.tmux("display-message", "-p", "-t", "main", fmt).strip()

    def file(self, name):
        return os.path.join(self.dir, name)

    def read(self, name):
        """A file of the pane's directory, or None while it does not exist."""
        try:
            with open(self.file(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def close(self):
        self.tmux("kill-server", check=False)
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- the terminal --------------------------------------------------

    def screen(self):
        """The pane as HEIGHT lines, trailing blanks removed."""
        text = self.tmux("capture-pane", "-p", "-t", "main")
        lines = [line.rstrip() for line in text.split("\n")[:HEIGHT]]
        return lines + [""] * (HEIGHT - len(lines))

    def cursor(self):
        """(x, y, visible) of the pane's cursor."""
        x, y, flag = self.display(
            "#{cursor_x} #{cursor_y} #{cursor_flag}").split()
        return int(x), int(y), flag == "1"

    def settings(self):
        """The terminal's settings as stty -g gives them, read from outside,
        whoever is in the foreground."""
        with open(self.tty, "rb", buffering=0) as tty:
            result = subprocess.run(["stty", "-g"], stdin=tty,
                                    capture_output=True, timeout=DEADLINE)
        if result.returncode != 0:
            raise Failure(f"stty -g failed: {result.stderr!r}")
        return result.stdout.decode().strip()

    def dump(self, expected=None):
        lines = ["--- screen (x, y from 0) ---"]
        lines += [f"{y:2}|{line}" for y, line in enumerate(self.screen())]
        lines.append(f"cursor (x, y, visible): {self.cursor()}")
        if expected is not None:
            lines.append("--- expected ---")
            lines += [f"{y:2}|{line}" for y, line in enumerate(expected)]
        return "\n".join(lines)

    def wait_screen(self, predicate, what, deadline=DEADLINE):
        return wait_until(lambda: predicate(self.screen()),
                          lambda: f"{what}\n{self.dump()}", deadline)

    # -- keys ------------------------------------------------------------

    def send_bytes(self, data):
        """Bytes as they are, in one burst (one write to the terminal)."""
        if data:
            self.tmux("send-keys", "-t", "main", "-H",
                      *(f"{b:02x}" for b in data))

    def send_text(self, text):
        self.tmux("send-keys", "-t", "main", "-l", text)

    def send_keys(self, *names):
        self.tmux("send-keys", "-t", "main", *names)


# -- processes -------------------------------------------------------------

def proc_stat(pid):
    """(state, parent pid, CPU seconds used) of a process, None once gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            text = f.read()
    except (FileNotFoundError, ProcessLookupError):
        return None
    # The command name stands in parentheses and may hold blanks.
    fields = text[text.rindex(")") + 2:].split()
    state, ppid = fields[0], int(fields[1])
    cpu = (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
    return state, ppid, cpu


def children(pid):
    """The pids whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = proc_stat(int(entry))
            if stat is not None and stat[1] == pid:
                found.append(int(entry))
    return found


def child_running(pane, program):
    """The pid of the pane shell's child that runs program, waiting for it."""
    name = os.path.basename(program)[:15]

    def find():
        for pid in children(pane.shell_pid):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() == name:
                        return pid
            except FileNotFoundError:
                pass
        return None

    return wait_until(find, lambda: (
        f"{program} did not start in the pane\n{pane.dump()}"))


# -- the program's screen ----------------------------------------------------

CELL_X = [31, 33, 35, 39, 41, 43, 47, 49, 51]  # by column, from 1
CELL_Y = [23, 21, 19, 15, 13, 11, 7, 5, 3]  # by row, from 1


def grid_screen(cells):
    """The screen the editor shows for cells[row * 9 + col] (0 for empty):
    the frame, the 81 cells and nothing else, as HEIGHT stripped lines."""
    rows = [[" "] * WIDTH for _ in range(HEIGHT)]
    for y in list(range(3, 9)) + list(range(10, 17)) + list(range(18, 24)):
        rows[y - 1][37 - 1] = "|"
        rows[y - 1][45 - 1] = "|"
    for y in (9, 17):
        for x in range(31, 52):
            rows[y - 1][x - 1] = "-"
    for i, value in enumerate(cells):
        row, col = divmod(i, 9)
        rows[CELL_Y[row] - 1][CELL_X[col] - 1] = str(value) if value else "."
    return ["".join(r).rstrip() for r in rows]


def cell_cursor(row, col):
    """tmux's cursor position (from 0) on a cell."""
    return CELL_X[col] - 1, CELL_Y[row] - 1


def type_puzzle(pane, lines):
    """Types a puzzle given as nine lines, top row first, '.' for empty,
    from the start position in advance mode: a digit for a given, a blank
    (which moves on) for an empty cell."""
    for line in lines:
        pane.send_text(line.replace(".", " "))
