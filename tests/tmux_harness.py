"""Runs the real program in a private tmux server and watches its terminal:
the harness of the end-to-end tests (e2e/) and of the hardening scripts
(hardening/).

A Server is one tmux server on its own socket in a temporary directory,
started without any configuration (-f /dev/null), without a status line and
with every window fixed at 80 x 25 (window-size is set per window: tmux 3.3
crashes creating a session when it is set globally to manual). It ends with
the test process, however that ends. A Pane is one session of it, running a
shell script in a directory of its own; the script waits for a file "go",
which appears once the pane has its size, so that the program never sees a
terminal of another size. Everything written to the pane is kept with
pipe-pane, so that the tests can count bells and see cursor-shape sequences.

Waiting is always a poll with a deadline; when an expectation is not met in
time the failure message holds the whole screen, the cursor and the tail of
the raw output.

Screen positions here are those of tmux: x and y counted from 0, so the
program's (31, 3) is tmux's (30, 2). A grid is a list of 81 digits,
cells[row * 9 + col], 0 for empty; row 8 is the top row on the screen, row
0 the bottom one, column 0 the left.
"""

import os
import re
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

# DECSCUSR, the cursor-shape sequence CSI Ps SP q, with the DECTCEM "show"
# that the program sends with it.
SHAPE = re.compile(rb"(?:\x1b\[\?25h)?\x1b\[(\d*) q")
SHAPE_SOLID = b"2"
SHAPE_NORMAL = b"0"
BEL = 0x07

# Every pane script starts so: in its own directory, waiting for "go".
PANE_PROLOGUE = ('cd "$(dirname "$0")" || exit 1\n'
                 "while [ ! -e go ]; do sleep 0.02; done\n")

# Runs its arguments as the program and records the terminal settings
# (stty -g) before and after it and its exit status. The trap keeps the
# shell alive through a Ctrl+C (the program gets the default action back on
# exec) so that it can still record them; the status file appears whole.
RUN_PROGRAM = """\
trap : INT
stty -g > stty.before
"$@"
status=$?
stty -g > stty.after
echo "$status" > status.tmp
mv status.tmp status
exec sleep 86400
"""


class Failure(AssertionError):
    pass


def wait_until(condition, describe, deadline=DEADLINE):
    """Polls condition() until it gives a true value, and returns it; raises
    Failure with describe(), which should say what was expected and show
    the screen, when the deadline passes first."""
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


class Server:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="quib-tmux-")
        self.socket = os.path.join(self.dir, "tmux.sock")
        self.env = {k: v for k, v in os.environ.items() if k != "TMUX"}
        self.panes = 0
        # A session that keeps the server up between panes and ends it,
        # with every program still running in it, once this test process
        # is gone.
        watchdog = (f"while kill -0 {os.getpid()} 2>/dev/null; do sleep 1; "
                    f"done; exec tmux -S {shlex.quote(self.socket)} "
                    "kill-server")
        self.tmux("new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT),
                  "-s", "keep", watchdog)
        for option in (("status", "off"), ("remain-on-exit", "off"),
                       ("default-size", f"{WIDTH}x{HEIGHT}")):
            self.tmux("set-option", "-g", *option)

    def tmux(self, *args, check=True):
        result = subprocess.run(
            ["tmux", "-S", self.socket, "-f", "/dev/null", *args],
            env=self.env, capture_output=True, timeout=DEADLINE)
        if check and result.returncode != 0:
            raise Failure(f"tmux {' '.join(args)} failed: "
                          f"{result.stderr.decode(errors='replace')}")
        return result.stdout.decode("latin-1")

    def pane(self, script, *args):
        """A new pane running the sh script with args."""
        self.panes += 1
        return Pane(self, f"pane{self.panes}", script, args)

    def run(self, *command):
        """A new pane running command under RUN_PROGRAM."""
        return self.pane(RUN_PROGRAM, *command)

    def replay(self, data):
        """The screen that data, written to a fresh pane, leaves."""
        pane = self.pane("stty -opost\n"
                         "while [ ! -e output ]; do sleep 0.02; done\n"
                         "cat output\nexec sleep 86400\n")
        with open(pane.file("output.tmp"), "wb") as f:
            f.write(data)
        os.rename(pane.file("output.tmp"), pane.file("output"))
        try:
            # tmux has taken in every byte once pipe-pane has passed it on.
            wait_until(lambda: len(pane.raw()) >= len(data), lambda: (
                f"the replay did not arrive whole\n{pane.dump()}"))
            return pane.screen()
        finally:
            pane.close()

    def screens_before_clears(self, output):
        """Each screen the output showed just before it cleared the screen
        (ED 2) and the one it ends with: what output written to a terminal
        showed, also screens that lasted too short a time to be seen."""
        ends = [m.start() for m in re.finditer(rb"\x1b\[2J", output)]
        return [self.replay(output[:end]) for end in ends + [len(output)]]

    def close(self):
        self.tmux("kill-server", check=False)
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Pane:
    def __init__(self, server, name, script, args):
        self.server = server
        self.name = name
        self.dir = os.path.join(server.dir, name)
        os.mkdir(self.dir)
        path = self.file("pane.sh")
        with open(path, "w") as f:
            f.write(PANE_PROLOGUE + script)
        self.raw_path = self.file("output.raw")
        command = " ".join(shlex.quote(a) for a in ("/bin/sh", path, *args))
        self.tmux("new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT),
                  "-s", name, command)
        self.tmux("set-option", "-w", "-t", name, "window-size", "manual")
        self.tmux("resize-window", "-t", name, "-x", str(WIDTH), "-y",
                  str(HEIGHT))
        size = self.display("#{pane_width}x#{pane_height}")
        if size != f"{WIDTH}x{HEIGHT}":
            raise Failure(f"the pane is {size}, not {WIDTH}x{HEIGHT}")
        self.shell_pid = int(self.display("#{pane_pid}"))
        self.tty = self.display("#{pane_tty}")
        self.tmux("pipe-pane", "-t", name, "-o",
                  f"cat >> {shlex.quote(self.raw_path)}")
        open(self.file("go"), "w").close()

    def tmux(self, *args, check=True):
        return self.server.tmux(*args, check=check)

    def display(self, fmt):
        return self.tmux("display-message", "-p", "-t", self.name,
                         fmt).strip()

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
        self.tmux("kill-session", "-t", self.name, check=False)

    # -- what the terminal shows ---------------------------------------

    def screen(self):
        """The pane as HEIGHT lines, trailing blanks removed."""
        text = self.tmux("capture-pane", "-p", "-t", self.name)
        lines = [line.rstrip() for line in text.split("\n")[:HEIGHT]]
        return lines + [""] * (HEIGHT - len(lines))

    def cursor(self):
        """(x, y, visible) of the pane's cursor."""
        x, y, flag = self.display(
            "#{cursor_x} #{cursor_y} #{cursor_flag}").split()
        return int(x), int(y), flag == "1"

    def raw(self):
        """Everything written to the pane so far."""
        return self.read("output.raw") or b""

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
        """The whole screen, the cursor and the raw tail, for a failure."""
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
        self.tmux("send-keys", "-t", self.name, *names)

    def text(self, chars):
        self.tmux("send-keys", "-t", self.name, "-l", chars)

    def bytes(self, data):
        """Bytes as they are, in one burst (one write to the terminal)."""
        if data:
            self.tmux("send-keys", "-t", self.name, "-H",
                      *(f"{b:02x}" for b in data))

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
            raise Failure(f"{rang} bells instead of {bells}; output "
                          f"{out!r}\n{self.dump()}")
        return out

    # -- waiting for a state --------------------------------------------

    def wait_screen(self, predicate, what, deadline=DEADLINE):
        """Waits until predicate(screen) gives a true value, and returns
        it."""
        return wait_until(lambda: predicate(self.screen()),
                          lambda: f"{what}\n{self.dump()}", deadline)

    def expect_screen(self, lines, cursor=None, visible=True,
                      deadline=DEADLINE):
        """Waits until the screen is exactly lines and, if given, the
        cursor stands at cursor (x, y) with the given visibility."""
        expected = [line.rstrip() for line in lines]

        def matches():
            if self.screen() != expected:
                return False
            return cursor is None or self.cursor() == (*cursor, visible)

        wait_until(matches, lambda: (
            f"screen or cursor not as expected (cursor {cursor}, visible "
            f"{visible})\n{self.dump(expected)}"), deadline)

    def last_shape(self):
        found = SHAPE.findall(self.raw())
        return found[-1] if found else None

    # -- a program under RUN_PROGRAM ---------------------------------------

    def is_running(self):
        return self.read("status") is None

    def wait_exit(self, deadline=DEADLINE):
        """Waits for the end; returns the exit status as the shell saw it
        (128 + n for signal n) and the terminal settings before and after."""
        wait_until(lambda: not self.is_running(), lambda: (
            f"the program did not end\n{self.dump()}"), deadline)
        return (int(self.read("status")), self.read("stty.before"),
                self.read("stty.after"))


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


# -- the program's grid --------------------------------------------------

# Where the cells stand, as the program counts (from 1).
CELL_X = [31, 33, 35, 39, 41, 43, 47, 49, 51]  # by column
CELL_Y = [23, 21, 19, 15, 13, 11, 7, 5, 3]  # by row, row 0 at the bottom

# A puzzle as printed in a newspaper, top row first.
NEWSPAPER = [
    "53..7....", "6..195...", ".98....6.",
    "8...6...3", "4..8.3..1", "7...2...6",
    ".6....28.", "...419..5", "....8..79",
]


def cells_of(lines):
    """The grid of nine lines, top row first, '.' for an empty cell."""
    cells = [0] * 81
    for k, line in enumerate(lines):
        for col, ch in enumerate(line):
            cells[(8 - k) * 9 + col] = 0 if ch == "." else int(ch)
    return cells


def rows_of(cells):
    """The grid as nine lines, top row first, for messages and cells_of."""
    return ["".join(str(v) if v else "." for v in cells[r * 9:r * 9 + 9])
            for r in range(8, -1, -1)]


def grid_screen(cells):
    """The whole screen the editor or the solution display shows for the
    grid: the frame, the 81 cells and nothing else, as HEIGHT stripped
    lines."""
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


def shown_grid(screen):
    """The grid the screen shows, or None when the screen is anything but
    exactly the frame and 81 cells."""
    cells = []
    for i in range(81):
        row, col = divmod(i, 9)
        line, x = screen[CELL_Y[row] - 1], CELL_X[col] - 1
        ch = line[x] if x < len(line) else " "
        if ch not in ".123456789":
            return None
        cells.append(0 if ch == "." else int(ch))
    return cells if grid_screen(cells) == screen else None


def solved_grid(screen):
    """The grid the screen shows when every cell holds a digit, else None."""
    cells = shown_grid(screen)
    return cells if cells is not None and 0 not in cells else None


def cell_cursor(row, col):
    """tmux's cursor position (from 0) on a cell."""
    return CELL_X[col] - 1, CELL_Y[row] - 1


def typed(cells):
    """The keys that enter the grid from the start position (top left) in
    advance mode: a digit, or a blank that steps over an empty cell."""
    return "".join(str(cells[row * 9 + col]) if cells[row * 9 + col]
                   else " " for row in range(8, -1, -1) for col in range(9))


def grid_problems(cells, givens=None, complete=False):
    """What is wrong with a grid: every unit that holds a digit twice, a
    given digit not kept and, when it must be complete, an empty cell.
    Complete and without repeats, every row, column and block is a
    permutation of 1-9. An empty list when nothing is wrong."""
    units = ([(f"row {r}", [r * 9 + c for c in range(9)]) for r in range(9)]
             + [(f"column {c}", [r * 9 + c for r in range(9)])
                for c in range(9)]
             + [(f"block {b}", [(b // 3 * 3 + r) * 9 + b % 3 * 3 + c
                                for r in range(3) for c in range(3)])
                for b in range(9)])
    problems = []
    for name, unit in units:
        digits = [cells[i] for i in unit if cells[i]]
        if len(digits) != len(set(digits)):
            problems.append(f"{name} holds {digits}")
    if complete:
        problems += [f"row {i // 9} column {i % 9} is empty"
                     for i in range(81) if not cells[i]]
    for i, given in enumerate(givens or []):
        if given and cells[i] != given:
            problems.append(f"given {given} at row {i // 9} column {i % 9} "
                            f"became {cells[i]}")
    return problems
