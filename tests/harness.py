# The one harness for everything that needs a terminal: a program on a
# pseudo-terminal of 80 x 25 read through a small VT screen model. It keeps
# the raw output (bells, cursor shapes), answers the terminal's questions as
# xterm does (the cursor style only when given one, else it shows strings
# as PuTTY does), and reads the terminal's settings and the exit status. Waiting
# is a poll with a deadline; what must stay so is looked at once no byte has
# come for QUIET seconds. A failure shows the whole screen. Positions are the
# program's: x and y from 1.
import contextlib
import fcntl
import os
import re
import select
import shutil
import struct
import tempfile
import termios
import time

W, H = 80, 25
# What the console under test lets a test see, said once. The Linux program
# is a terminal program: the bell and the cursor's shape are in its output,
# it asks the terminal for the cursor style, and the terminal's Ctrl+C,
# Ctrl+Z, Ctrl+\ and Ctrl+S reach it as keys while it waits for one. The
# Windows program runs under Wine (QUIB_RUNNER), whose console draws on the
# terminal but shows neither the bell nor the cursor, asks nothing, takes
# those keys for the terminal's signals and ends with the program: the tests
# read the bell from standard output and the cursor, the cells and the
# input's mode back from the console.
RUNNER = os.environ.get("QUIB_RUNNER")
ON_SCREEN = RUNNER is None  # the bell, the cursor's shape, the terminal asked
SIGNAL_KEYS = ON_SCREEN  # Ctrl+C and the like are keys while one is awaited
READ_BACK = not ON_SCREEN  # the console's cursor, cells and modes
DEADLINE = float(os.environ.get("QUIB_DEADLINE", "30"))
QUIET = 0.3
TOKEN = rb"\x1b\[([0-9;?]*) ?([@-~])|\x1b(%s)|([\xc0-\xf7][\x80-\xbf]+|[^\x1b])"
# A terminal that answers the cursor-style question parses DCS strings; one
# that does not, like PuTTY, takes Esc P and Esc \ for escapes of their own
# and prints what stands between them.
PARSES = re.compile(rb"\x1bP(.*?)\x1b\\|" + TOKEN % rb"[^P[]", re.S)
PRINTS = re.compile(rb"(?!)()|" + TOKEN % rb"[^[]", re.S)


class Term:
    def __init__(self, argv, env, style=None, files=(), late=0):
        # Runs argv in a directory of its own; files maps standard
        # descriptors to names there, or to descriptors. style: what DECRQSS
        # answers; late: the answers go out that many seconds after the
        # question, as from a terminal far away (pump sends them; late holds
        # what is to come).
        self.style, self.dir = style, tempfile.mkdtemp(prefix="quib-")
        self.delay, self.late = late, []
        self.tokens = PRINTS if style is None else PARSES
        self.fd, tty = os.openpty()
        fcntl.ioctl(tty, termios.TIOCSWINSZ, struct.pack("4H", H, W, 0, 0))
        self.initial = self.settings()
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.login_tty(tty)
                os.chdir(self.dir)
                for fd, name in dict(files).items():
                    os.dup2(name if isinstance(name, int) else os.open(
                        name, os.O_WRONLY | os.O_CREAT, 0o644), fd)
                os.execve(argv[0], argv, env)
            finally:
                os._exit(127)
        os.close(tty)
        self.raw, self.pos, self.status = b"", 0, None
        self.last, self.closed = time.monotonic(), False
        self.rows = [" " * W] * H
        self.x = self.y = 1

    def send(self, keys):
        os.write(self.fd, keys.encode("latin-1"))

    def answer(self, text):
        if self.delay:
            self.late.append((time.monotonic() + self.delay, text))
        else:
            self.send(text)

    def pump(self, timeout=0.02):
        while self.late and self.late[0][0] <= time.monotonic():
            with contextlib.suppress(OSError):  # no process on the terminal
                self.send(self.late.pop(0)[1])
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            self.status = os.waitstatus_to_exitcode(status) if pid else None
        if select.select([self.fd], [], [], timeout)[0]:
            try:
                self.raw += os.read(self.fd, 65536)
                self.last = time.monotonic()
            except OSError:  # the last process on the terminal has gone
                self.closed = True
                time.sleep(timeout)
        while m := self.tokens.match(self.raw, self.pos):
            self.pos = m.end()
            self.token(*m.groups())

    def token(self, dcs, params, final, esc, chars):
        if dcs == b"$q q" and self.style is not None:
            self.answer(f"\x1bP1$r{self.style} q\x1b\\")
        elif final == b"H":
            nums = [int(n or 1) for n in params.split(b";")] + [1]
            self.y, self.x = nums[0], nums[1]
        elif final == b"J" and params == b"2":
            self.rows = [" " * W] * H
        elif final == b"K" and params in (b"", b"0", b"2"):
            keep = 0 if params == b"2" else self.x - 1
            self.rows[self.y - 1] = self.rows[self.y - 1][:keep].ljust(W)
        elif final in (b"C", b"D") and (params.isdigit() or not params):
            step = int(params or 1) * (1 if final == b"C" else -1)
            self.x = max(1, min(W, self.x + step))
        elif final == b"c" and not params:
            self.answer("\x1b[?64;1;2;22c")
        elif esc == b"D" or chars == b"\n":
            self.down()
        elif chars == b"\r" or chars == b"\b":
            self.x = 1 if chars == b"\r" else max(1, self.x - 1)
        elif chars and chars >= b" ":
            # The cursor stays in the last column, as on a terminal that does
            # not wrap: the Linux layer and Wine's console go to the next row
            # themselves, which a real terminal's deferred wrap would hide.
            row = self.rows[self.y - 1]
            char = chars.decode("utf-8", "replace")
            self.rows[self.y - 1] = row[:self.x - 1] + char + row[self.x:]
            self.x = min(self.x + 1, W)

    def down(self):
        if self.y == H:
            self.rows = self.rows[1:] + [" " * W]
        self.y = min(self.y + 1, H)

    def resize(self, cols, rows):
        # Like a terminal that loses what was drawn, and the cursor's place,
        # when its window changes size; the model keeps its 80 x 25.
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("4H", rows, cols, 0, 0))
        self.rows, self.x, self.y = [" " * W] * H, 1, 1

    def lines(self):
        return [row.rstrip() for row in self.rows]

    def text(self):  # the screen without its empty lines at the bottom
        return "\n".join(self.lines()).rstrip("\n")

    def bells(self):
        return self.raw.count(b"\a")

    def cursor(self):
        # The last cursor shape sent (None: none) and whether it shows.
        shapes = re.findall(rb"\x1b\[(\d*) q", self.raw)
        shown = self.raw.rfind(b"\x1b[?25h") >= self.raw.rfind(b"\x1b[?25l")
        return (int(shapes[-1] or 0) if shapes else None), shown

    def settings(self):
        return termios.tcgetattr(self.fd)

    def quiet(self, period=QUIET):  # no byte for a while, or none to come
        return self.closed or time.monotonic() - self.last >= period

    def wait(self, cond, what, deadline=DEADLINE, settled=False):
        # settled: cond must hold once the output has gone quiet.
        end = time.monotonic() + deadline
        while not (cond() and (not settled or self.quiet())):
            if time.monotonic() > end:
                rows = "\n".join(f"{y:2}|{line}" for y, line in enumerate(self.lines(), 1))
                raise AssertionError(
                    f"{what}\n{rows}\ncursor ({self.x}, {self.y}), status "
                    f"{self.status}, last output {self.raw[-160:]!r}")
            self.pump()

    def wait_text(self, text, deadline=DEADLINE):
        self.wait(lambda: text in self.text(), f"no {text!r}", deadline)

    def end(self):
        # Then what is still on its way: until the terminal is closed, or
        # quiet for long where a process stays on it.
        self.wait(lambda: self.status is not None, "the program did not end")
        self.wait(lambda: self.quiet(2.0), "the output goes on")
        return self.status

    def file(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def close(self):
        if self.status is None:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        os.close(self.fd)
        shutil.rmtree(self.dir, ignore_errors=True)


# The grid on the screen: row 8 (top) at y 3, columns 0-8 at these x.
CELL_X = [31, 33, 35, 39, 41, 43, 47, 49, 51]
CELL_Y = [3, 5, 7, 11, 13, 15, 19, 21, 23]
EMPTY = ["........."] * 9
# A puzzle whose plain search takes seconds; top row first.
LONG = ["52...6...", "......7.1", "3........", "...4..8..", "6...7..5.",
        ".........", ".418.....", "....3..2.", "..87....."]


def picture(rows):
    # The whole screen the program shows for a grid, given top row first as
    # nine strings of digits and dots.
    cells = iter(rows)
    return "\n".join(["", ""] + [" " * 30 + (
        "-" * 21 if y in (9, 17) else "{} {} {} | {} {} {} | {} {} {}".format(
            *next(cells)) if y in CELL_Y else "      |       |")
        for y in range(3, 24)])
