"""A whole session under valgrind's memcheck, in tmux.

    python3 valgrind.py --quib PATH [--sanitized]

Start, type a newspaper puzzle, Return, the solution screen, a key, the
end. memcheck must report no error and no leak, and the program must end
with status 0 and the terminal's settings as they were. A build with the
sanitizers cannot run under valgrind: --sanitized skips the test.
"""

import argparse
import os
import re
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tmux_pane import (CELL_X, CELL_Y, Failure, Pane, grid_screen,
                       require_tools, skip, type_puzzle, wait_until)

# Top row first.
NEWSPAPER = [
    "53..7....", "6..195...", ".98....6.",
    "8...6...3", "4..8.3..1", "7...2...6",
    ".6....28.", "...419..5", "....8..79",
]

# memcheck's own exit status for a run with errors; distinct from the
# program's statuses (0, 1 and 3).
ERROR_STATUS = 99

# valgrind slows the program down many times.
SLOW = 180.0


def solved_cells(screen):
    cells = []
    for i in range(81):
        row, col = divmod(i, 9)
        line = screen[CELL_Y[row] - 1]
        ch = line[CELL_X[col] - 1] if CELL_X[col] - 1 < len(line) else " "
        if ch not in "123456789":
            return None
        cells.append(int(ch))
    return cells if grid_screen(cells) == screen else None


def session(quib):
    runner = (f'stty -g > stty.before\n'
              f'valgrind --error-exitcode={ERROR_STATUS} --leak-check=full '
              f'--errors-for-leak-kinds=definite,indirect,possible '
              f'--log-file=valgrind.log "$1"\n'
              f'status=$?\nstty -g > stty.after\necho $status > status\n'
              f'exec sleep 86400\n')
    with Pane(runner, quib) as pane:
        def log():
            return (pane.read("valgrind.log") or b"").decode(errors="replace")

        givens = [0] * 81
        for k, line in enumerate(NEWSPAPER):
            for col, ch in enumerate(line):
                givens[(8 - k) * 9 + col] = 0 if ch == "." else int(ch)
        pane.wait_screen(lambda s: s == grid_screen([0] * 81),
                         "the start screen did not appear", SLOW)
        type_puzzle(pane, NEWSPAPER)
        pane.wait_screen(lambda s: s == grid_screen(givens),
                         "the typed puzzle is not on the screen", SLOW)
        pane.send_bytes(b"\r")
        cells = pane.wait_screen(solved_cells,
                                 "the solution screen did not appear", SLOW)
        if any(g and g != c for g, c in zip(givens, cells)):
            raise Failure(f"the solution does not keep the givens\n"
                          f"{pane.dump()}")
        pane.send_text("x")
        wait_until(lambda: pane.read("status"), lambda: (
            f"the program did not end\n{pane.dump()}\n{log()}"), SLOW)
        status = pane.read("status").decode().strip()
        summary = re.search(r"ERROR SUMMARY: (\d+) errors", log())
        if status != "0" or summary is None or summary.group(1) != "0":
            raise Failure(f"status {status} under valgrind; its log:\n"
                          f"{log()}")
        if pane.read("stty.before") != pane.read("stty.after"):
            raise Failure("the terminal's settings were not restored")
        pane.wait_screen(lambda s: not any(s),
                         "the screen was not cleared at the end")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quib", required=True)
    parser.add_argument("--sanitized", action="store_true")
    args = parser.parse_args()
    if args.sanitized:
        skip("a sanitizer build cannot run under valgrind")
    require_tools("tmux", "valgrind")
    try:
        session(os.path.abspath(args.quib))
    except Failure as failure:
        print(f"FAILED: {failure}")
        sys.exit(1)
    print("passed: no errors under valgrind")


if __name__ == "__main__":
    main()
