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
# The shared harness stands in tests/.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tmux_harness import (NEWSPAPER, Failure, Server, cells_of,
                          grid_problems, grid_screen, require_tools, rows_of,
                          skip, solved_grid, typed, wait_until)

# memcheck's own exit status for a run with errors; distinct from the
# program's statuses (0, 1 and 3).
ERROR_STATUS = 99

# valgrind slows the program down many times.
SLOW = 180.0


def session(quib):
    with Server() as server:
        pane = server.run("valgrind", f"--error-exitcode={ERROR_STATUS}",
                          "--leak-check=full",
                          "--errors-for-leak-kinds=definite,indirect,possible",
                          "--log-file=valgrind.log", quib)

        def log():
            return (pane.read("valgrind.log") or b"").decode(errors="replace")

        givens = cells_of(NEWSPAPER)
        pane.wait_screen(lambda s: s == grid_screen([0] * 81),
                         "the start screen did not appear", SLOW)
        pane.text(typed(givens))
        pane.wait_screen(lambda s: s == grid_screen(givens),
                         "the typed puzzle is not on the screen", SLOW)
        pane.bytes(b"\r")
        cells = pane.wait_screen(solved_grid,
                                 "the solution screen did not appear", SLOW)
        problems = grid_problems(cells, givens, complete=True)
        if problems:
            raise Failure(f"the shown grid {rows_of(cells)} is no completion "
                          f"of the puzzle: {problems}\n{pane.dump()}")
        pane.text("x")
        wait_until(lambda: not pane.is_running(), lambda: (
            f"the program did not end\n{pane.dump()}\n{log()}"), SLOW)
        status, before, after = pane.wait_exit()
        summary = re.search(r"ERROR SUMMARY: (\d+) errors", log())
        if status != 0 or summary is None or summary.group(1) != "0":
            raise Failure(f"status {status} under valgrind; its log:\n"
                          f"{log()}")
        if before != after:
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
