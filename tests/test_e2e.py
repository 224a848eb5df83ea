# End to end: the program, and the console layer through its driver, on a
# pseudo-terminal (harness.py). Each class is one CTest test; one runs as
#   QUIB=build/quib QUIB_DRIVER=build/tests/console_driver \
#   python3 tests/test_e2e.py Ends
# With QUIB_RUNNER=wine (and WINEPREFIX) the Windows program runs instead,
# under Wine's console, which draws on the terminal; harness.py says what
# each console shows.
import contextlib
import os
import random
import re
import resource
import shlex
import signal
import subprocess
import sys
import termios
import time
import unittest

from harness import (CELL_X, CELL_Y, DEADLINE, EMPTY, LONG, ON_SCREEN,
                     READ_BACK, RUNNER, SIGNAL_KEYS, W, Term, picture)

# A program of another architecture runs through the emulator in
# QUIB_EMULATOR (qemu-user), which the terminal does not see.
QUIB, DRIVER = ([RUNNER] * READ_BACK + os.environ.get("QUIB_EMULATOR", "").split()
                + [os.path.abspath(os.environ[n])] for n in ("QUIB", "QUIB_DRIVER"))
SHELL_QUIB = shlex.join(QUIB)  # as a shell starts it
HERE = os.path.dirname(os.path.abspath(__file__))
ENV = {"TERM": "xterm", "PATH": "/usr/bin:/bin", **{
    n: os.environ[n] for n in ("WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES")
    if n in os.environ}}
UP, DOWN, RIGHT, LEFT = "\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D"
HOME, END, PGUP, PGDN, INS, DEL = ("\x1b[H", "\x1b[F", "\x1b[5~", "\x1b[6~", "\x1b[2~", "\x1b[3~")
# The texts byte for byte, as standard output carries them to a file.
HELP, USAGE, PROMPT = (open(os.path.join(HERE, "golden", name), "rb").read()
                       for name in ("help.txt", "usage.txt", "prompt.txt"))
BANNER = (rb"\r\n   Quib - Sudoku Solver\r\n\r\n   Version 0\.9\.1, [A-Z][a-z]"
          rb"{2} [ 1-3]\d \d{4}, \d\d:\d\d:\d\d\r\n   www\.quib\.example\r\n")
SOLVED = ["978531642", "642978531", "531642978", "897214365", "365897214",
          "214365897", "789123456", "456789123", "123456789"]
# What the shell reads next, with Esc shown as E: an answer of the terminal's
# that reached the shell shows.
THEN_READ = '; IFS= read -r line; echo "GOT:[$line]" | tr "\\033" E'
resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # crashes leave no core


def typed(rows):
    return "".join(rows).replace(".", " ")


def grid(*top_rows):
    return [r.ljust(9, ".") for r in top_rows] + EMPTY[len(top_rows):]


class Case(unittest.TestCase):
    def term(self, argv, env=ENV, **kw):
        t = Term(argv, env, **kw)
        self.addCleanup(t.close)
        return t

    def editor(self, keys="", argv=QUIB, **kw):
        t = self.term(argv, **kw)
        t.wait(lambda: b"\x1b[2J" in t.raw or t.text() == picture(EMPTY), "no clear")
        cleared = time.monotonic()
        t.wait(lambda: t.text() == picture(EMPTY), "no start screen")
        if ON_SCREEN and kw.get("late"):  # no wait for the answers (once 0.5 s)
            self.assertLess(time.monotonic() - cleared, 0.4)
        self.ready(t).send(keys)
        return t

    def ready(self, t):
        # Until the program waits for a key (Ctrl+C is no signal then), or
        # under Wine until its console reads the terminal's keys.
        t.wait(lambda: t.status is not None or (
            t.settings()[6][termios.VINTR] == b"\0" if SIGNAL_KEYS else
            not t.settings()[3] & termios.ICANON), "no key awaited")
        return t

    def shows(self, t, rows, xy, bells, shape):
        # The grid and the cursor's place; on the screen also the bells and
        # the cursor's shape, shown.
        return (t.text(), (t.x, t.y)) == (picture(rows), xy) and (
            not ON_SCREEN or (t.bells(), t.cursor()) == (bells, (shape, True)))

    def child(self, t):  # the program a shell on the terminal started
        with open(f"/proc/{t.pid}/task/{t.pid}/children") as children:
            return int(children.read())

    def assert_given_back(self, t, style):
        self.assertEqual((t.settings(), t.cursor()),
                         (t.initial, (style if ON_SCREEN else None, True)),
                         t.raw[-80:])


class CommandLine(Case):
    def answer(self, args, key, files={1: "out"}, **env):
        # By default standard output to a file, in a UTF-8 locale, which must
        # not change a byte that goes there.
        t = self.ready(self.term([*QUIB, *args], files=files, env={
            **ENV, "PATH": os.path.join(HERE, "bin") + ":/bin",
            "LANG": "C.UTF-8", **env}))
        t.send(key)
        self.assertEqual(t.end(), 0)
        return t, files and t.file("out")

    def test_texts_by_argument(self):
        for arg, text in [(a, HELP) for a in ("-h", "--help", "?")] + [
                (a, b"") for a in ("-v", "--version", "-i", "--info")] + [
                (a, USAGE) for a in ("-H", "--Help", "-help", "/?", "i", "h", "")]:
            with self.subTest(arg=arg):
                self.assertRegex(self.answer([arg], "n")[1], b"^" + (
                    re.escape(text) or BANNER) + (b"" if text == USAGE else
                    re.escape(PROMPT + b"N\r\n")) + rb"\Z")
        self.editor(argv=[*QUIB, "-h", "x"])  # two arguments: the solver

    def test_prompt_answers(self):
        no = ["n", "N", "\x1b", "a", "1", UP]
        if SIGNAL_KEYS:
            no.append("\x03")
        for key, yes in [(k, 1) for k in "\r\n JjYy"] + [(k, 0) for k in no]:
            with self.subTest(key=key):
                t, out = self.answer(["-v"], key)
                self.assertTrue(out.endswith(PROMPT + b"NJ"[yes:yes + 1] + b"\r\n"))
                page = os.path.join(t.dir, "opened")
                if yes:
                    t.wait(lambda: os.path.exists(page) and t.file("opened")
                           == b"http://www.quib.example/cpp/sudoku\n", "no page")
                self.assertEqual(os.path.exists(page), bool(yes))

    def test_a_pipe_gets_standard_output_in_512_byte_blocks(self):
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        os.set_blocking(reader, False)
        got = []

        def received():
            with contextlib.suppress(BlockingIOError):
                got.append(os.read(reader, 4096))
            return b"".join(got)
        # The stream's buffer holds the text before the line ends become
        # CR LF: its first 512 bytes go out while the prompt waits.
        first = HELP.replace(b"\r\n", b"\n")[:512].replace(b"\n", b"\r\n")
        t = self.term([*QUIB, "-h"], files={1: writer})
        os.close(writer)
        t.wait(lambda: len(received()) >= len(first), "no first block")
        self.ready(t)
        self.assertEqual(received(), first)
        t.send("n")
        self.assertEqual(t.end(), 0)
        self.assertEqual(received(), HELP + PROMPT + b"N\r\n")

    def test_latin1_text_in_the_terminals_encoding(self):
        # The Windows program hands the o umlaut to the console as the
        # character it is, which Wine shows in the terminal's UTF-8; as the
        # byte 0xF6 it would show as the ÷ of code page 437.
        rows = [({}, b"k\xc3\xb6nnen")]
        if ON_SCREEN:
            rows += [({"LC_ALL": "de_DE.utf8", "LANG": "C"}, b"k\xc3\xb6nnen"),
                     ({"LC_ALL": "C"}, b"k\xf6nnen")]
        for env, raw in rows:
            with self.subTest(env=env):
                t = self.answer(["-h"], "n", files=(), **env)[0]
                self.assertIn(raw + b" durch", t.raw)
                if ON_SCREEN:
                    self.assertNotIn(b"\x1b[", t.raw, "no cursor sequence")
                self.assertEqual(HELP.decode("latin-1").splitlines()[8] in
                                 t.lines(), b"\xc3" in raw)
                self.assertIn("(J/N)? N", t.text())


class Editor(Case):
    # Keys; the grid, top row first; the cursor; bells; the cursor shape.
    # The storm types the editor's other keys against a model from the start
    # (the top row's first cell, moving on); these are keys it does not type
    # and a row that passes its end on the way; then keys that are the
    # terminal's signals under Wine, and st's forms, which Wine does not know.
    TABLE = [
        (HOME + PGUP + END * 2 + PGDN * 2 + HOME + PGUP, EMPTY, (31, 3), 0, 4),
        ("\x1bP1", grid("1"), (33, 3), 1, 4),
    ]
    if SIGNAL_KEYS:
        TABLE += [
            ("12\x1a3", grid("123"), (39, 3), 0, 4),  # Ctrl+Z, no job control
            ("0x\x1bOP\x03\x1c\x13", EMPTY, (31, 3), 6, 4),
            ("12" + LEFT + "\x1b[P\x1b[M5\x1b[J\x1b[4h6", grid("156"), (35, 3),
             2, 2),
        ]

    def test_keys(self):
        # From a terminal 1 s away, whose answers come after the keys.
        for keys, rows, xy, bells, shape in self.TABLE:
            with self.subTest(keys=keys):
                t = self.editor(keys, style=5, late=1)
                t.wait(lambda: self.shows(t, rows, xy, bells, shape),
                       f"expected {rows} at {xy}, {bells} bells", settled=True)

    def test_w_saves_the_grid_and_the_bell_goes_to_standard_output(self):
        # After w a digit the rule rejects, a key the editor does not use, the edge.
        t = self.editor("5" + PGDN + "1w1x" + DOWN + "\x1b", files={1: "out"})
        self.assertEqual((t.end(), t.file("out")), (0, b"\a" * 3))
        saved = t.file("foo.dat")
        self.assertEqual((len(saved), saved.split(b"\r\n")[::10]),
                         (213, [b"5 0 0   0 0 0   0 0 0", b"0 1 0   0 0 0   0 0 0"]))


class Ends(Case):
    def test_every_end_gives_the_terminal_back(self):
        ends = [("\x1b", "xterm", 3, 3), ("q", "xterm", None, 0), ("Q", "rxvt-unicode", None, 2)]
        if ON_SCREEN:
            ends += [(sig, "xterm", 5, 5) for sig in (
                signal.SIGTERM, signal.SIGHUP, signal.SIGUSR1, signal.SIGALRM,
                signal.SIGXCPU, signal.SIGSEGV, signal.SIGABRT)]
        for how, term, style, restored in ends:
            with self.subTest(how=how):
                t = self.editor(INS, env=dict(ENV, TERM=term), style=style)
                t.wait(lambda: READ_BACK or t.cursor()[0] == 2, "Insert not on")
                if isinstance(how, str):
                    t.send(how)
                    self.assertEqual((t.end(), t.text(), t.x, t.y), (0, "", 1, 1))
                else:
                    os.kill(t.pid, how)
                    self.assertEqual(t.end(), -how)
                self.assert_given_back(t, restored)
                if ON_SCREEN:
                    self.assertIn(b"\x1bP$q q", t.raw)  # never on the screen

    def test_search_ends(self):
        # The puzzle; whether it has a completion; keys typed during the
        # search, which the solution screen then takes.
        dead = [""] * 3 + [f"{d}" for d in range(5, 10)] + [".1234"]
        for rows, solvable, ahead in [(grid(*dead), 0, ""), (SOLVED, 0, ""),
                                      (EMPTY, 1, ""), (LONG, 1, "x")]:
            t = self.editor(typed(rows) + "\r" + ahead)
            if solvable and not ahead:
                t.wait(lambda: t.text() == picture(SOLVED), "no solution")
                self.assertFalse(t.cursor()[1], "the cursor shows")
                t.send("x")
            self.assertEqual((t.end(), t.text(), t.x, t.y), (0, "", 1, 1) if
                             solvable else (0, "Konnte keine Loesung finden", 1, 2))

    def test_ctrl_c_during_a_search_ends_the_program(self):
        # On Linux in a shell that reads on: the keys typed before die with
        # the program, as the terminal discards them. (Wine's console on a
        # terminal ends with the program, and the keys it held with it.)
        t = self.editor(typed(LONG) + "\r", QUIB if not SIGNAL_KEYS else [
            "/bin/sh", "-c", "trap : INT; " + SHELL_QUIB + THEN_READ])
        t.wait(lambda: t.text() == "", "no search")
        searching = len(t.raw)
        t.send("abc\x03")
        t.wait(lambda: t.status is not None or t.settings() == t.initial,
               "the program did not end")
        self.assertNotIn(b"-----", t.raw[searching:], "the search went on")
        if SIGNAL_KEYS:
            t.send("hello\n")
            t.wait_text("GOT:[hello]")

    def test_failed_assertion_in_the_layer(self):
        # It gives the terminal back the short way, with the user's cursor
        # style as read while a key was awaited.
        t = self.ready(self.term([*DRIVER, "c", "s:1", "w", "a"], files={2: "err"}, style=4))
        t.send("x")
        self.assertEqual(t.end(), 3)
        self.assert_given_back(t, 4)
        self.assertIn(b"\r\nAssertion failed: bytes != nullptr", t.file("err"))

    @unittest.skipUnless(SIGNAL_KEYS, "they stay in Wine's console")
    def test_keys_the_program_does_not_read_are_left_for_the_shell(self):
        # Keys typed before the program asked the terminal for its cursor
        # style stand before the answers, which never reach the shell: also
        # from a terminal 0.7 s away when Esc, q or a signal ends the program
        # before they come (the end waits for them; then "hello" is typed).
        for command, keys, ahead, late in [
                ("", "qhello\r", 1, 0), ("", "qhello\n", 0, 0.7), ("", "\x1b", 0, 0.7),
                ("", signal.SIGTERM, 0, 0.7), (" -h", "nhello\n", 0, 0),
                (" -h", "\x1bPhello\r", 0, 0), (" > out", "", 0, 0)]:
            with self.subTest(command=command, keys=keys, late=late):
                t = self.term(["/bin/sh", "-c", SHELL_QUIB + command + THEN_READ],
                              style=5, late=late)
                t.send(keys if ahead else "")
                self.ready(t)
                if not keys:  # during a search, standard output in a file
                    t.send(typed(LONG) + "\r")
                    t.wait(lambda: t.text() == "", "not blank")
                    self.assertFalse(t.settings()[3] & termios.ECHO)
                    keys = "xhello\n"
                if isinstance(keys, int):
                    os.kill(self.child(t), keys)
                elif not ahead:
                    t.send(keys)
                t.wait(lambda: not t.late, "not answered")
                t.send("" if "hello" in str(keys) else "hello\n")
                t.wait_text("GOT:[hello]", 2 * DEADLINE)
                self.assertEqual(t.cursor()[0], 5 if command == "" else None)

    def test_without_a_terminal(self):
        for args, out in [([], b""), (["-h"], HELP + PROMPT + b"N\r\n")]:
            done = subprocess.run([*QUIB, *args], env=ENV, capture_output=True,
                                  stdin=subprocess.DEVNULL, start_new_session=True)
            self.assertEqual((done.returncode, done.stdout), (0, out))


class Suspend(Case):
    def stop(self, typing, ready, late=0):
        # In an interactive shell: starts the program, types, stops it with
        # Ctrl+Z once ready, checks the shell's terminal and, once the
        # terminal has answered, runs fg.
        t = self.term(["/bin/dash", "-i"], dict(ENV, PS1="$ ", ENV=""), style=3, late=late)
        t.wait_text("$")
        t.send(SHELL_QUIB + "\n")
        t.wait(lambda: t.text() == picture(EMPTY), "did not start")
        t.send(typing)
        t.wait(lambda: ready(t.text()), "not ready to stop")
        t.send("x\x1a")  # a key typed ahead, then Ctrl+Z
        t.wait_text("Stopped")
        self.assertEqual((t.settings(), t.cursor()), (t.initial, (3, True)))
        t.wait(lambda: not t.late, "not answered")
        t.send("fg\n")
        return t

    def test_ctrl_z_in_the_editor_and_fg(self):
        # From a terminal 0.7 s away the stop waits for its answers, or the
        # shell would read them in front of fg.
        t = self.stop("12" + INS + "3", picture(grid("123")).__eq__, late=0.7)
        t.wait(lambda: (t.text(), t.x, t.y, t.cursor(), t.bells()) ==
               (picture(grid("123")), 35, 3, (2, True), 1), "not repainted")
        self.ready(t).send("4\x03")  # Ctrl+C only once a key is awaited
        t.wait(lambda: t.text() == picture(grid("124")) and t.bells() == 2,
               "typing does not go on")

    def test_ctrl_z_during_a_search_keeps_the_key_typed_before(self):
        t = self.stop(typed(LONG) + "\r", "".__eq__)
        t.send("echo rc=$?\n")
        t.wait_text("rc=0", 2 * DEADLINE)


class Resize(Case):
    def test_a_resize_repaints_the_grid_and_puts_the_cursor_back(self):
        t = self.editor("12" + INS)
        t.wait(lambda: t.cursor()[0] == 2, "Insert not on")
        t.resize(100, 30)
        t.wait(lambda: (t.text(), t.x, t.y) == (picture(grid("12")), 35, 3), "not repainted")


class Editing:
    # The editor as the storm sees it: the grid, the cursor's row and column,
    # whether a digit moves on, and the bells rung. A move past the grid's
    # edge only rings the bell.
    MOVES = {UP: lambda r, c: (r + 1, c), DOWN: lambda r, c: (r - 1, c),
             LEFT: lambda r, c: (r, c - 1), RIGHT: lambda r, c: (r, c + 1),
             "\x7f": lambda r, c: (r, c - 1), HOME: lambda r, c: (r, 0),
             END: lambda r, c: (r, 8), PGUP: lambda r, c: (8, c), PGDN: lambda r, c: (0, c)}

    def __init__(self):
        self.cells, self.row, self.col, self.advance, self.bells = [0] * 81, 8, 0, True, 0

    def cell(self):
        return self.row * 9 + self.col

    def allows(self, digit):  # not in the cell's row, column or block
        r, c = self.row, self.col
        return digit not in [self.cells[i] for j in range(9) for i in (
            r * 9 + j, j * 9 + c, (r // 3 * 3 + j // 3) * 9 + c // 3 * 3 + j % 3)]

    def press(self, key):
        if key == " " or key in "123456789" and self.allows(int(key)):
            if key != " ":
                self.cells[self.cell()] = int(key)
            if self.advance and self.cell() != 8:  # stops at the last cell
                self.row, self.col = (self.row, self.col + 1) if self.col < 8 else (self.row - 1, 0)
        elif key in self.MOVES:
            row, col = self.MOVES[key](self.row, self.col)
            if not (0 <= row <= 8 and 0 <= col <= 8):
                self.bells += 1
                return
            self.row, self.col = row, col
            if key == "\x7f":  # Backspace clears the cell it comes to
                self.cells[self.cell()] = 0
        elif key in (DEL, ","):
            self.cells[self.cell()] = 0
        elif key == INS:
            self.advance = not self.advance
        else:
            self.bells += 1

    def rows(self):  # top row first, as picture() takes them
        return ["".join(str(self.cells[r * 9 + c] or ".") for c in range(9))
                for r in range(8, -1, -1)]


class Storm(Case):
    KEYS = [*"123456789", UP, DOWN, LEFT, RIGHT, HOME, END, PGUP, PGDN, INS,
            DEL, "\x7f", ",", " ", "0", "x", "\x1bOP"]

    def test_random_keys_against_a_model(self):
        rng, t, model = random.Random(1), self.editor(), Editing()
        for burst in range(12):
            keys = [rng.choice(self.KEYS) for _ in range(60)]
            for key in keys:
                model.press(key)
            t.send("".join(keys))
            xy = CELL_X[model.col], CELL_Y[8 - model.row]
            t.wait(lambda: self.shows(t, model.rows(), xy, model.bells,
                                      4 if model.advance else 2),
                   f"burst {burst}: {model.rows()}")

    @unittest.skipUnless(ON_SCREEN, "Wine's console has signals of its own")
    def test_a_signal_in_a_burst_ends_cleanly(self):
        # SIGTERM while the editor works through a burst of keys, at a point
        # chosen by how far its output has come: the terminal comes back,
        # and the keys it did not read reach the shell whole and in order.
        rng = random.Random(2)
        keys = [k for k in self.KEYS if k != "\x7f"]  # the shell's erase key
        for _ in range(6):
            burst = "".join(rng.choice(keys) for _ in range(300))
            t = self.ready(self.term(["/bin/sh", "-c", SHELL_QUIB + "; echo GONE;"
                                      ' IFS= read -r l; printf %s "$l" >got'], style=5))
            start = len(t.raw) + rng.randrange(1500)
            t.send(burst)
            t.wait(lambda: len(t.raw) >= start, "no progress")
            os.kill(self.child(t), signal.SIGTERM)
            t.wait(lambda: b"GONE" in t.raw, "still there")
            self.assertEqual((t.settings(), t.cursor()), (t.initial, (5, True)))
            t.send("\n")
            self.assertEqual(t.end(), 0)
            self.assertTrue(burst.endswith(t.file("got").decode("latin-1")))


class Layer(Case):
    # Operations after a clear; the screen lines expected, from line 1; the
    # cursor.
    TABLE = [
        ("m:5:5 m:0:5 p:65 m:81:5 p:66 m:5:0 p:67 m:5:26 p:68".split(),
         ["", "", "", "", "    ABCD"], (9, 5)),
        ("m:79:3 p:65 p:66 p:67".split(), ["", "", " " * 78 + "AB", "C"], (2, 4)),
        ("p:88 m:80:25 p:65".split(), [""] * 23 + [" " * 79 + "A", ""], (1, 25)),
        ("m:10:25 p:90 p:10 p:89 p:13 p:87".split(),
         [""] * 23 + [" " * 9 + "Z", "W" + " " * 9 + "Y"], (2, 25)),
        ("m:5:3 p:65 p:8 p:8 p:66 m:1:2 p:8 p:67 p:7".split(),
         ["", "C", "   BA"], (2, 2)),
        (["t:x", "b", "p:65", "t:" + "y" * 81, "p:66"],
         ["xA" + "y" * 78, "yyyB"], (5, 2)),
    ]
    if ON_SCREEN:
        TABLE.append(([b"t:k\xf6", "p:65"], ["k\xf6A"], (4, 1)))

    def test_drawing(self):
        # Under Wine also read back from a console of yellow on blue, where
        # every cell written, cleared or scrolled in must be so.
        for ops, lines, xy in self.TABLE:
            with self.subTest(ops=ops):
                argv = ["o:30", "c", *ops, "d"] if READ_BACK else ["c", *ops]
                t = self.term([*DRIVER, *argv], dict(ENV, LANG="C.UTF-8"), files={2: "dump"})
                self.assertEqual(t.end(), 0)
                self.assertEqual((t.lines()[:len(lines)], (t.x, t.y)), (lines, xy))
                if READ_BACK:
                    rows = t.file("dump").decode("latin-1").splitlines()
                    self.assertEqual(([r[:W].rstrip() for r in rows][
                        :len(lines)], {r[W:] for r in rows}),
                                     (lines, {"1e" * W}))
                # Wine's console drops the bell of standard output and
                # rings putChar's tone as one.
                bells = ops.count("p:7")
                if ON_SCREEN:
                    bells += ops.count("b")
                self.assertEqual(t.bells(), bells)

    def test_cursor_shapes(self):
        if READ_BACK:
            t = self.term([*DRIVER, "c", "s:0", "k", "s:1", "k", "s:2", "k"])
            self.assertEqual((t.end(), t.lines()[0]), (0, "[1,0][99,1][25,1]"))
        terms = [("xterm", 6, [b"\x1b[2 q", b"\x1b[4 q", b"\x1b[6 q"]),
                 ("linux", 6, [b"\x1b[?6c", b"\x1b[?2c", b"\x1b[?0c"])]
        for term, style, shapes in terms if ON_SCREEN else []:
            with self.subTest(term=term):
                t = self.term([*DRIVER, "c", "s:0", "s:1", "s:2"],
                              dict(ENV, TERM=term), style=style)
                self.assertEqual(t.end(), 0)
                self.assertTrue(t.raw.endswith(b"\x1b[?25l" + b"".join(
                    b"\x1b[?25h" + shape for shape in shapes)), t.raw)
                self.assertEqual(b"\x1bP$q q" in t.raw, term != "linux")
        # Standard output to a file, not the terminal.
        ops = ["z:500", "c", "m:3:3", "p:65", "s:1", "t:x"]
        if READ_BACK:
            ops.insert(-1, "k")
        t = self.term([*DRIVER, *ops], files={1: "out"})
        t.wait(lambda: READ_BACK or not t.settings()[3] & termios.ECHO, "keys would show")
        self.assertEqual((t.end(), t.lines()[2], t.file("out")),
                         (0, "  A", b"[25,1]x" if READ_BACK else b"x"))
        self.assertNotIn(b" q", t.raw)

    @unittest.skipUnless(ON_SCREEN, "the terminal layer's own check")
    def test_which_descriptor_is_the_terminal(self):
        # Standard input, output and error (a file) as the layer takes them:
        # by the device where the kernel tells it (not under qemu-user) and
        # by the controlling terminal alone, which must agree.
        other = os.openpty()
        for fd in other:
            self.addCleanup(os.close, fd)
        # The terminal, another terminal, a file and /dev/tty.
        t = self.term([*DRIVER, "g:0", "g:1", "g:2", "g:3"],
                      files={1: other[1], 2: "err", 3: "/dev/tty"})
        self.assertEqual((t.end(), t.file("err")), (0, b"11000011"))

    @unittest.skipUnless(READ_BACK, "only a console's mode is read back")
    def test_ctrl_c_is_a_key_while_one_is_awaited(self):
        # No processed input, line input or echo while readKey waits; the
        # console's own mode after it.
        t = self.term([*DRIVER, "r"], files={1: "out"})
        self.assertEqual((t.end(), t.file("out")), (0, b"[7,0,3,1]"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv, verbosity=2)
