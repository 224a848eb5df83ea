"""End-to-end tests of quib in tmux: the editor, the solution screen, the
failure message, the ways out and the terminal settings after each of them.

    python3 test_quib.py --quib PATH [unittest arguments, e.g. Editing]

Each test class is one scenario with a private tmux server; every test in
it starts the program afresh. Rows and columns are those of the puzzle: row
8 is the top row on the screen, row 0 the bottom one, column 0 the left.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
# The shared harness stands in tests/.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tmux_harness import (DEADLINE, HEIGHT, NEWSPAPER, SHAPE, SHAPE_NORMAL,
                          SHAPE_SOLID, Server, cell_cursor, cells_of,
                          grid_problems, grid_screen, rows_of, solved_grid,
                          typed, wait_until)

QUIB = None

FAILURE = "Konnte keine Loesung finden"

# The first completion in the solver's order, top row first.
EMPTY_GRID_SOLUTION = [
    "978531642", "642978531", "531642978",
    "897214365", "365897214", "214365897",
    "789123456", "456789123", "123456789",
]

# No digit fits the bottom left cell: its row holds 1-8, its column the 9.
NO_COMPLETION = [
    "9........", ".........", ".........",
    ".........", ".........", ".........",
    ".........", ".........", ".12345678",
]

# A puzzle made against plain backtracking in reading order, turned upside
# down so that the solver (which starts at the bottom row) meets it in that
# order: the search takes far longer than any test waits.
LONG_SEARCH = [
    "....4...9", "..2.1....", "5......73",
    ".9.......", "..4...1..", "...5.7...",
    "..1.2....", ".....3.85", ".........",
]

# A puzzle whose search takes one or two seconds in an optimised build
# (several under the sanitizers): long enough to type a key during it.
SECONDS_SEARCH = [
    "52...6...", "......7.1", "3........",
    "...4..8..", "6...7..5.", "4........",
    ".418.....", "....3..2.", "..87.....",
]

# The search runs long under the sanitizers on a busy machine.
SEARCH_DEADLINE = 300.0


class Board:
    """What the grid should hold, cells[row * 9 + col], 0 for empty."""

    def __init__(self, lines=None):
        self.cells = cells_of(lines) if lines else [0] * 81

    def set(self, row, col, value):
        self.cells[row * 9 + col] = value

    def typed(self):
        return typed(self.cells)

    def screen(self):
        """The whole screen of the editor or the solution display."""
        return grid_screen(self.cells)

    def file_bytes(self):
        """foo.dat: top row first, groups of three, CR LF line ends and an
        empty line after each band."""
        out = b""
        for row in range(8, -1, -1):
            values = tuple(self.cells[row * 9:row * 9 + 9])
            out += b"%d %d %d   %d %d %d   %d %d %d\r\n" % values
            if row % 3 == 0:
                out += b"\r\n"
        return out


def blank_screen(first_line=""):
    return [first_line] + [""] * (HEIGHT - 1)


class Scenario(unittest.TestCase):
    """One private tmux server for the tests of a class."""

    @classmethod
    def setUpClass(cls):
        cls.term = Server()

    @classmethod
    def tearDownClass(cls):
        cls.term.close()

    def start(self):
        """Starts the program and waits for the empty grid with the cursor
        visible on the top left cell in advance mode (normal cursor)."""
        run = self.term.run(QUIB)
        self.addCleanup(run.close)
        run.expect_screen(Board().screen(), cursor=cell_cursor(8, 0))
        self.expect_normal_cursor(run)
        return run

    def expect_normal_cursor(self, run):
        wait_until(lambda: run.last_shape() == SHAPE_NORMAL,
                   lambda: f"the cursor shape is not normal\n{run.dump()}")

    def goto(self, run, row, col):
        """Top left with Page Up and Home, then down and right."""
        run.step(lambda: run.keys("PPage", "Home", *["Down"] * (8 - row),
                                  *["Right"] * col))

    def assert_ended(self, run, first_line="", status=0, deadline=None):
        """The end of every run: a cleared screen (only the failure message,
        when expected, in the first line), the normal cursor visible after
        the text at the left, the exit status and the terminal settings as
        before the run."""
        code, before, after = run.wait_exit(deadline or DEADLINE)
        self.assertEqual(code, status, run.dump())
        self.assertEqual(after, before, "terminal settings changed")
        if status == 0:
            cursor_y = 1 if first_line else 0
            run.expect_screen(blank_screen(first_line), cursor=(0, cursor_y))
            self.expect_normal_cursor(run)


class Editing(Scenario):
    def test_digits_conflicts_and_saving(self):
        run = self.start()
        board = Board()

        # Advance mode walks the top row and goes on to the row below.
        run.step(lambda: run.text("123456789"))
        for col in range(9):
            board.set(8, col, col + 1)
        run.expect_screen(board.screen(), cursor=cell_cursor(7, 0))
        run.step(lambda: run.text("9"))
        board.set(7, 0, 9)
        run.expect_screen(board.screen(), cursor=cell_cursor(7, 1))

        # Each digit conflicts through one unit only (or is the cell's own);
        # it rings once, the cell shows what it held and the cursor stays.
        rejected = [
            ("row", 7, 4, "9"),
            ("column", 0, 0, "1"),
            ("block", 6, 1, "3"),
            ("own digit", 7, 0, "9"),
        ]
        for name, row, col, digit in rejected:
            with self.subTest(conflict=name):
                self.goto(run, row, col)
                run.step(lambda: run.text(digit), bells=1)
                run.expect_screen(board.screen(), cursor=cell_cursor(row, col))

        # The bottom right cell: the digit is stored, the cursor stays.
        self.goto(run, 0, 8)
        run.step(lambda: run.text("5"))
        board.set(0, 8, 5)
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))
        # A rejected digit (9 is in the column) leaves the stored 5 shown.
        run.step(lambda: run.text("9"), bells=1)
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))

        # 'w' saves what the grid holds, the 5 included, and shows nothing.
        foo = run.file("foo.dat")
        out = run.step(lambda: run.text("w"))
        self.assertEqual(out, b"", "'w' wrote to the terminal")
        with open(foo, "rb") as f:
            self.assertEqual(f.read(), board.file_bytes())
        self.assertEqual(os.path.getsize(foo), 213)
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))

        # The editor carries on: another allowed digit replaces the 5, and
        # 'W' saves again over the old file.
        run.step(lambda: run.text("6"))
        board.set(0, 8, 6)
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))
        run.step(lambda: run.text("W"))
        with open(foo, "rb") as f:
            self.assertEqual(f.read(), board.file_bytes())

        run.text("Q")
        self.assert_ended(run)


class Keys(Scenario):
    def test_navigation(self):
        run = self.start()
        empty = Board().screen()
        # (keys, bells, cell after); no wrap at the edges, and Home, End,
        # Page Up and Page Down never ring, also where they already are.
        moves = [
            (["Up"], 1, (8, 0)),
            (["Left"], 1, (8, 0)),
            (["Home"], 0, (8, 0)),
            (["PPage"], 0, (8, 0)),
            (["Right"] * 8, 0, (8, 8)),
            (["Right"], 1, (8, 8)),
            (["End"], 0, (8, 8)),
            (["Down"] * 8, 0, (0, 8)),
            (["Down"], 1, (0, 8)),
            (["NPage"], 0, (0, 8)),
            (["Left"], 0, (0, 7)),
            (["Up"], 0, (1, 7)),
            (["Home"], 0, (1, 0)),
            (["Left"], 1, (1, 0)),
            (["End"], 0, (1, 8)),
            (["PPage"], 0, (8, 8)),
            (["Up"], 1, (8, 8)),
            (["NPage"], 0, (0, 8)),
            (["Right"], 1, (0, 8)),
            (["Home", "PPage", "Down", "Right"], 0, (7, 1)),
        ]
        for keys, bells, (row, col) in moves:
            with self.subTest(keys=keys, at=(row, col)):
                run.step(lambda: run.keys(*keys), bells=bells)
                run.expect_screen(empty, cursor=cell_cursor(row, col))
        run.keys("Escape")
        self.assert_ended(run)

    def test_insert_switches_advance_mode(self):
        run = self.start()
        board = Board()

        out = run.step(lambda: run.keys("IC"), shapes=1)
        self.assertEqual(SHAPE.findall(out), [SHAPE_SOLID])
        # Digits and blanks no longer move the cursor; a digit replaces.
        for digit in "12":
            run.step(lambda: run.text(digit))
            board.set(8, 0, int(digit))
            run.expect_screen(board.screen(), cursor=cell_cursor(8, 0))
        run.step(lambda: run.text(" "))
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 0))

        out = run.step(lambda: run.keys("IC"), shapes=1)
        self.assertEqual(SHAPE.findall(out), [SHAPE_NORMAL])
        run.step(lambda: run.text("3"))
        board.set(8, 0, 3)
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 1))
        # A blank steps over a cell without changing it, also from the end
        # of a row to the start of the next one, but not past the last cell.
        run.step(lambda: run.text(" "))
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 2))
        self.goto(run, 8, 8)
        run.step(lambda: run.text(" "))
        run.expect_screen(board.screen(), cursor=cell_cursor(7, 0))
        self.goto(run, 0, 8)
        run.step(lambda: run.text(" "))
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))
        run.keys("Escape")
        self.assert_ended(run)

    def test_clearing_keys(self):
        run = self.start()
        board = Board()
        run.step(lambda: run.text("123"))
        for col in range(3):
            board.set(8, col, col + 1)
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 3))

        # Backspace clears the cell to the left, whether the terminal
        # sends DEL (tmux's BSpace) or BS.
        backspaces = [("DEL", lambda: run.keys("BSpace"), 2),
                      ("BS", lambda: run.bytes(b"\x08"), 1)]
        for name, send, col in backspaces:
            with self.subTest(backspace=name):
                run.step(send)
                board.set(8, col, 0)
                run.expect_screen(board.screen(), cursor=cell_cursor(8, col))

        # Backspace on the first column rings and clears nothing.
        run.step(lambda: run.keys("Home"))
        run.step(lambda: run.keys("BSpace"), bells=1)
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 0))

        # Delete and ',' clear the cell under the cursor, which stays.
        run.step(lambda: run.keys("DC"))
        board.set(8, 0, 0)
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 0))
        run.step(lambda: run.text("45"))
        board.set(8, 0, 4)
        board.set(8, 1, 5)
        run.step(lambda: run.keys("Left"))
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 1))
        run.step(lambda: run.text(","))
        board.set(8, 1, 0)
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 1))
        # Clearing an empty cell is no error.
        run.step(lambda: run.keys("DC"))
        run.expect_screen(board.screen(), cursor=cell_cursor(8, 1))

        # The grid holds what the screen shows.
        run.step(lambda: run.text("w"))
        with open(run.file("foo.dat"), "rb") as f:
            self.assertEqual(f.read(), board.file_bytes())
        run.keys("Escape")
        self.assert_ended(run)

    def test_unusable_keys_ring_once(self):
        run = self.start()
        board = Board()
        self.goto(run, 4, 4)
        run.step(lambda: run.text("5"))
        run.step(lambda: run.keys("Left"))
        board.set(4, 4, 5)
        run.expect_screen(board.screen(), cursor=cell_cursor(4, 4))

        unusable = [
            ("digit 0", lambda: run.text("0")),
            ("letter a", lambda: run.text("a")),
            ("letter J", lambda: run.text("J")),
            ("plus", lambda: run.text("+")),
            ("full stop", lambda: run.text(".")),
            ("Tab", lambda: run.keys("Tab")),
            ("F1", lambda: run.keys("F1")),
            ("Ctrl+C while a key is awaited", lambda: run.keys("C-c")),
            ("Ctrl+Up", lambda: run.keys("C-Up")),
            ("Alt+x", lambda: run.keys("M-x")),
            ("a-umlaut in UTF-8", lambda: run.bytes("ä".encode())),
        ]
        for name, send in unusable:
            with self.subTest(key=name):
                run.step(send, bells=1)
                run.expect_screen(board.screen(), cursor=cell_cursor(4, 4))
        run.keys("Escape")
        self.assert_ended(run)


class Solving(Scenario):
    def expect_solution(self, run, board):
        run.expect_screen(board.screen())
        wait_until(lambda: not run.cursor()[2],
                   lambda: f"the cursor is not hidden\n{run.dump()}")
        self.assertTrue(run.is_running(), "ended without waiting for a key")

    def type_board(self, run, board):
        run.step(lambda: run.text(board.typed()))
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))

    def test_empty_grid_gives_the_first_completion(self):
        run = self.start()
        run.keys("Enter")
        self.expect_solution(run, Board(EMPTY_GRID_SOLUTION))
        run.text("x")
        self.assert_ended(run)

    def test_keys_typed_during_the_search_are_kept(self):
        run = self.start()
        givens = Board(SECONDS_SEARCH)
        self.type_board(run, givens)
        run.keys("Enter")
        # The editor has left (cleared screen) and the search runs; the 'x'
        # typed now, before any solution is drawn, must end the solution
        # display as soon as it has been drawn.
        run.expect_screen(blank_screen())
        run.text("x")
        self.assertEqual(run.screen(), blank_screen(),
                         "the search ended before the key was typed\n"
                         + run.dump())
        self.assertTrue(run.is_running(), run.dump())
        self.assert_ended(run, deadline=SEARCH_DEADLINE)
        # The solution was drawn in between: one of the screens the output
        # shows just before each screen clear is a completion of the
        # puzzle.
        screens = self.term.screens_before_clears(run.raw())
        solved = [cells for cells in map(solved_grid, screens) if cells]
        self.assertTrue(solved, "no solution screen between the search and "
                        "the end; screens:\n" + "\n".join(
                            "\n".join(s) for s in screens))
        self.assertEqual(grid_problems(solved[-1], givens.cells, True), [],
                         rows_of(solved[-1]))

    def test_newspaper_puzzle_is_solved(self):
        run = self.start()
        givens = Board(NEWSPAPER)
        self.type_board(run, givens)
        run.keys("Enter")
        # The screen must be exactly a frame and 81 digits that solve it.
        cells = run.wait_screen(solved_grid, "no completed grid shown")
        self.assertEqual(grid_problems(cells, givens.cells, True), [],
                         run.dump())
        solved = Board(rows_of(cells))
        self.expect_solution(run, solved)
        # A two-code key ends the display like any other.
        run.keys("Right")
        self.assert_ended(run)

    def test_grids_without_completion_give_the_failure_message(self):
        full = Board(EMPTY_GRID_SOLUTION)
        # (name, board, the key that ends the editor: Enter or Ctrl+Enter)
        cases = [("no digit fits", Board(NO_COMPLETION), b"\r"),
                 ("every cell filled", full, b"\n")]
        for name, board, enter in cases:
            with self.subTest(grid=name):
                run = self.start()
                self.type_board(run, board)
                run.bytes(enter)
                self.assert_ended(run, first_line=FAILURE)


class Leaving(Scenario):
    def test_esc_and_q_leave_without_solving(self):
        keys = [("Esc", lambda run: run.keys("Escape")),
                ("q", lambda run: run.text("q")),
                ("Q", lambda run: run.text("Q"))]
        for name, send in keys:
            with self.subTest(key=name):
                run = self.start()
                # A solvable grid and the solid cursor: leaving must neither
                # solve it nor keep the solid cursor.
                run.step(lambda: run.text("5"))
                run.step(lambda: run.keys("IC"), shapes=1)
                send(run)
                self.assert_ended(run)


class Interrupt(Scenario):
    def test_ctrl_c_during_a_long_search(self):
        run = self.start()
        board = Board(LONG_SEARCH)
        run.step(lambda: run.text(board.typed()))
        run.expect_screen(board.screen(), cursor=cell_cursor(0, 8))
        run.keys("Enter")
        # The editor has left (cleared screen) and the search is running.
        run.expect_screen(blank_screen())
        self.assertTrue(run.is_running())
        run.keys("C-c")
        code, before, after = run.wait_exit()
        self.assertEqual(code, 128 + 2, "not ended by SIGINT\n" + run.dump())
        self.assertEqual(after, before, "terminal settings changed")


class NoTerminal(unittest.TestCase):
    def test_without_a_terminal_the_editor_leaves(self):
        # In a new session there is no controlling terminal: every key read
        # fails, and the editor must leave instead of ringing the bell for
        # ever. Nothing reaches standard output, not even one bell.
        with tempfile.TemporaryDirectory() as work:
            result = subprocess.run([QUIB], cwd=work, start_new_session=True,
                                    stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, b"")


def main():
    global QUIB
    args = sys.argv[1:]
    if len(args) < 2 or args[0] != "--quib":
        sys.exit("usage: test_quib.py --quib PATH [unittest arguments]")
    QUIB = os.path.abspath(args[1])
    if shutil.which("tmux") is None:
        print("tmux not found: skipped")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v", *args[2:]])


if __name__ == "__main__":
    main()
