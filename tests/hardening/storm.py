"""A seeded random storm of keys against the editor, in tmux.

    python3 storm.py --quib PATH [--seed N] [--keys N]

A few thousand keys in random bursts: digits (main row and application
keypad), the navigation keys in their xterm, VT220, rxvt and application
cursor forms and with Shift, Insert, Delete, ',', Backspace (DEL and BS),
the space bar, unusable keys (letters, '0', function keys, Ctrl and Alt
combinations, control bytes, UTF-8 characters, a stray byte) and sequences
that are no key at all (focus reports, bracketed paste marks, unknown CSI,
OSC and DCS strings). No key that leaves the editor is sent, nor Ctrl+C,
Ctrl+Z or Ctrl+\, which would signal the program between two key reads, nor
Ctrl+S and Ctrl+Q.

Each burst ends with 'w'. Then foo.dat must hold no row, column or block
with a repeated digit, must be exactly the grid that a model of the editor
predicts, and the screen must show exactly the frame and that grid with the
cursor on the predicted cell. At the end Esc leaves with status 0 and the
terminal's settings as they were. The seed is printed first and again on a
failure, so that a run can be repeated with --seed.
"""

import argparse
import os
import random
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
# The shared harness stands in tests/.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tmux_harness import (Failure, Server, cell_cursor, grid_problems,
                          grid_screen, require_tools, rows_of, wait_until)

CSI = b"\x1b["
SS3 = b"\x1bO"

HOME, UP, PAGE_UP, LEFT, RIGHT, END, DOWN, PAGE_DOWN = (
    71, 72, 73, 75, 77, 79, 80, 81)

# The encodings each navigation key arrives in.
NAVIGATION = {
    HOME: [CSI + b"H", SS3 + b"H", CSI + b"1~", CSI + b"7~", CSI + b"1;2H"],
    END: [CSI + b"F", SS3 + b"F", CSI + b"4~", CSI + b"8~", CSI + b"1;2F"],
    PAGE_UP: [CSI + b"5~", CSI + b"5;2~"],
    PAGE_DOWN: [CSI + b"6~", CSI + b"6;2~"],
    # rxvt sends Shift with the arrows as CSI a to d.
    UP: [CSI + b"A", SS3 + b"A", CSI + b"1;2A", CSI + b"a"],
    DOWN: [CSI + b"B", SS3 + b"B", CSI + b"1;2B", CSI + b"b"],
    LEFT: [CSI + b"D", SS3 + b"D", CSI + b"1;2D", CSI + b"d"],
    RIGHT: [CSI + b"C", SS3 + b"C", CSI + b"1;2C", CSI + b"c"],
}
INSERT = [CSI + b"2~", CSI + b"2;2~", CSI + b"2$"]
DELETE = [CSI + b"3~", CSI + b"3;2~", CSI + b"3$"]
BACKSPACE = [b"\x7f", b"\x08"]

# Keys the editor only rings the bell for.
UNUSABLE = (
    [bytes([c]) for c in b"abcdefghiklmnoprstuvxzABCDEFGHIKLMNOPRSTUVXZ"]
    + [b"0", b"J", b"j", b"Y", b"y", b"!", b"#", b"+", b".", b"/", b"~"]
    + [SS3 + b"p", SS3 + b"j", SS3 + b"k", SS3 + b"m", SS3 + b"n",
       SS3 + b"o"]  # keypad 0 * + - . / in application mode
    + [SS3 + b"P", SS3 + b"Q", CSI + b"15~", CSI + b"24~", CSI + b"11~",
       CSI + b"[A", CSI + b"[E", CSI + b"1;5P"]  # function keys
    + [CSI + b"1;5A", CSI + b"1;3B", CSI + b"1;5D", CSI + b"3;5~",
       CSI + b"2;3~", SS3 + b"c", CSI + b"3^", CSI + b"Z"]  # Ctrl, Alt and Shift with navigation keys, Shift+Tab
    + [b"\x1b" + bytes([c]) for c in b"aqwzQW19,-"]  # Alt+key
    # Alt+Backspace and Alt+Tab. Not Alt+Esc: its second Esc would make a
    # following 'O' or '[' the start of a sequence.
    + [b"\x1b\x7f", b"\x1b\t"]
    + [bytes([c]) for c in (1, 2, 5, 6, 7, 9, 11, 12, 14, 16, 18, 20, 21,
                            24, 0)]  # control bytes, NUL
    + ["ä".encode(), "ß".encode(), "€".encode(), "中".encode(),
       "😀".encode(), b"\xff"])

# Sequences that are no key: skipped whole, nothing happens.
NOT_KEYS = [CSI + b"I", CSI + b"O", CSI + b"200~", CSI + b"201~",
            CSI + b"99;99z", CSI + b"?1;2c", CSI + b"12;40R",
            b"\x1b]0;storm\x07", b"\x1b]11;rgb:0000/0000/0000\x1b\\",
            b"\x1bP1$r0m\x1b\\", CSI + b"<0;10;20M"]


class Editor:
    """What the editor does with each key, as its rules say."""

    def __init__(self):
        self.cells = [0] * 81
        self.row, self.col = 8, 0
        self.advance = True

    def allowed(self, i, digit):
        row, col = divmod(i, 9)
        band, stack = row // 3 * 3, col // 3 * 3
        units = ([row * 9 + c for c in range(9)]
                 + [r * 9 + col for r in range(9)]
                 + [(band + r) * 9 + stack + c
                    for r in range(3) for c in range(3)])
        # The cell's own value takes part: re-typing it is refused.
        return all(self.cells[j] != digit for j in units)

    def step_on(self):
        if not self.advance:
            return
        if self.col < 8:
            self.col += 1
        elif self.row > 0:
            self.row, self.col = self.row - 1, 0

    def digit(self, d):
        i = self.row * 9 + self.col
        if self.allowed(i, d):
            self.cells[i] = d
            self.step_on()

    def navigate(self, code):
        if code == HOME:
            self.col = 0
        elif code == END:
            self.col = 8
        elif code == PAGE_UP:
            self.row = 8
        elif code == PAGE_DOWN:
            self.row = 0
        elif code == UP:
            self.row = min(self.row + 1, 8)
        elif code == DOWN:
            self.row = max(self.row - 1, 0)
        elif code == LEFT:
            self.col = max(self.col - 1, 0)
        elif code == RIGHT:
            self.col = min(self.col + 1, 8)

    def clear(self):
        self.cells[self.row * 9 + self.col] = 0

    def backspace(self):
        if self.col > 0:
            self.col -= 1
            self.clear()

    def toggle_advance(self):
        self.advance = not self.advance


def random_key(rng, editor):
    """One random key: its bytes, and its effect applied to the model."""
    kind = rng.choices(
        ["digit", "keypad", "nav", "insert", "delete", "comma", "backspace",
         "space", "unusable", "none"],
        [26, 6, 26, 2, 3, 2, 3, 5, 18, 9])[0]
    if kind in ("digit", "keypad"):
        d = rng.randint(1, 9)
        editor.digit(d)
        return bytes([48 + d]) if kind == "digit" else SS3 + bytes([112 + d])
    if kind == "nav":
        code = rng.choice(list(NAVIGATION))
        editor.navigate(code)
        return rng.choice(NAVIGATION[code])
    if kind == "insert":
        editor.toggle_advance()
        return rng.choice(INSERT)
    if kind in ("delete", "comma"):
        editor.clear()
        return rng.choice(DELETE) if kind == "delete" else b","
    if kind == "backspace":
        editor.backspace()
        return rng.choice(BACKSPACE)
    if kind == "space":
        editor.step_on()
        return b" "
    if kind == "unusable":
        return rng.choice(UNUSABLE)
    return rng.choice(NOT_KEYS)


def parse_grid_file(data):
    """The cells of a foo.dat, or None while it is not completely there."""
    if data is None or len(data) != 213:
        return None
    lines = data.split(b"\r\n")
    rows = [lines[k] for k in (0, 1, 2, 4, 5, 6, 8, 9, 10)]
    cells = [0] * 81
    for k, line in enumerate(rows):
        groups = line.split(b"   ")
        values = [int(v) for g in groups for v in g.split(b" ")]
        if len(groups) != 3 or len(values) != 9:
            raise Failure(f"foo.dat line {k} malformed: {data!r}")
        row = 8 - k
        cells[row * 9:row * 9 + 9] = values
    return cells


def storm(quib, seed, key_count):
    rng = random.Random(seed)
    editor = Editor()
    with Server() as server:
        pane = server.run(quib)
        pane.wait_screen(lambda s: s == grid_screen(editor.cells),
                         "the start screen did not appear")
        sent = 0
        bursts = 0
        while sent < key_count:
            burst = []
            for _ in range(rng.randint(40, 160)):
                burst.append(random_key(rng, editor))
            sent += len(burst)
            bursts += 1
            if os.path.exists(pane.file("foo.dat")):
                os.unlink(pane.file("foo.dat"))
            pane.bytes(b"".join(burst) + b"w")
            check_saved(pane, editor, bursts, burst)
        pane.bytes(b"\x1b")
        status, before, after = pane.wait_exit()
        if status != 0:
            raise Failure(f"exit status {status} after Esc\n{pane.dump()}")
        if before != after:
            raise Failure(f"terminal settings not restored: {before!r} "
                          f"before, {after!r} after")
        pane.wait_screen(lambda s: not any(s),
                         "the screen was not cleared after Esc")
        print(f"{sent} keys in {bursts} bursts, final grid "
              f"{sum(1 for c in editor.cells if c)} digits")


def check_saved(pane, editor, bursts, burst):
    def context():
        return (f"after burst {bursts}, whose keys were {burst!r}\n"
                f"{pane.dump(grid_screen(editor.cells))}")

    def saved():
        if pane.read("status") is not None:
            raise Failure(f"the program ended on its own\n{context()}")
        return parse_grid_file(pane.read("foo.dat"))

    cells = wait_until(saved, lambda: f"'w' wrote no foo.dat\n{context()}")
    bad = grid_problems(cells)
    if bad:
        raise Failure(f"foo.dat holds repeated digits: {bad}\n{context()}")
    if cells != editor.cells:
        raise Failure(f"foo.dat holds {rows_of(cells)}, the editor's rules "
                      f"give {rows_of(editor.cells)}\n{context()}")
    expected = grid_screen(cells)
    where = cell_cursor(editor.row, editor.col)
    wait_until(
        lambda: pane.screen() == expected and pane.cursor()[:2] == where
        and pane.cursor()[2],
        lambda: (f"the screen does not show the saved grid with the cursor "
                 f"at {where}\n{context()}"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quib", required=True)
    parser.add_argument("--seed", type=int,
                        default=int(os.environ.get("QUIB_STORM_SEED", "0"))
                        or random.SystemRandom().randrange(1, 2**31))
    parser.add_argument("--keys", type=int, default=3000)
    args = parser.parse_args()
    require_tools("tmux")
    print(f"storm seed {args.seed}", flush=True)
    try:
        storm(os.path.abspath(args.quib), args.seed, args.keys)
    except Failure as failure:
        print(f"FAILED with seed {args.seed} (repeat with --seed "
              f"{args.seed}):\n{failure}")
        sys.exit(1)
    print(f"passed with seed {args.seed}")


if __name__ == "__main__":
    main()
