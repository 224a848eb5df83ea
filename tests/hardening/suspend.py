"""Ctrl+Z during a long search, and fg, under an interactive shell in tmux.

    python3 suspend.py --quib PATH --scenario resume|typeahead

The program runs as a job of an interactive dash (job control on, no line
editor of its own that would repair the terminal's settings for it). A
puzzle that the plain backtracking search needs seconds for is typed and
Return starts the search. Then:

resume:    Ctrl+Z stops the program (the process is stopped, the shell's
           prompt is back) with the terminal's settings exactly as before
           the program started; fg continues the search (it uses CPU time
           again) and the completed grid is shown as usual, a valid
           completion that keeps the givens; a key ends it, status 0, the
           settings as before.
typeahead: a key typed during the search, before Ctrl+Z, is neither lost
           nor handed to the shell while the program is stopped: fg works
           (the shell did not read the key into its command line) and,
           after the search, that key ends the solution screen by itself.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
# The shared harness stands in tests/.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tmux_harness import (Failure, Server, cells_of, child_running,
                          grid_problems, grid_screen, proc_stat,
                          require_tools, rows_of, solved_grid, typed,
                          wait_until)

PROMPT = "quib-test$"

# A puzzle against the search's order: its search takes seconds, not
# milliseconds, in an optimised build. Top row first.
LONG_SEARCH = [
    "52...6...", "......7.1", "3........",
    "...4..8..", "6...7..5.", ".........",
    ".418.....", "....3..2.", "..87.....",
]

# The search may take long under the sanitizers on a busy machine.
SEARCH_DEADLINE = 300.0


def prompt_line(screen):
    """The last line that shows the shell's prompt, or None."""
    for line in reversed(screen):
        if line.startswith(PROMPT):
            return line
    return None


def cpu(pid):
    stat = proc_stat(pid)
    return stat[2] if stat else None


def state(pid):
    stat = proc_stat(pid)
    return stat[0] if stat else None


def start_search(pane, quib):
    """Starts the program from the shell, types the long puzzle and Return;
    returns the program's pid once the search is under way."""
    pane.wait_screen(lambda s: prompt_line(s) == PROMPT,
                     "the shell's prompt did not appear")
    pane.text(quib)
    pane.keys("Enter")
    pane.wait_screen(lambda s: s == grid_screen([0] * 81),
                     "the editor's start screen did not appear")
    pid = child_running(pane, quib)
    pane.text(typed(cells_of(LONG_SEARCH)))
    pane.wait_screen(lambda s: s == grid_screen(cells_of(LONG_SEARCH)),
                     "the typed puzzle is not on the screen")
    pane.bytes(b"\r")
    pane.wait_screen(lambda s: not any(s),
                     "Return did not clear the screen for the search")
    start = cpu(pid)
    wait_until(lambda: (cpu(pid) or 0) > start + 0.2, lambda: (
        f"the search does not use the CPU (state {state(pid)})\n"
        f"{pane.dump()}"))
    return pid


def suspend(pane, pid, original):
    """Ctrl+Z; checks the stopped program and the shell's terminal."""
    pane.bytes(b"\x1a")
    wait_until(lambda: state(pid) == "T", lambda: (
        f"Ctrl+Z did not stop the program (state {state(pid)})\n"
        f"{pane.dump()}"))
    pane.wait_screen(lambda s: prompt_line(s) is not None and
                     any("Stopped" in line for line in s),
                     "the shell did not report the stopped job")
    settings = pane.settings()
    if settings != original:
        raise Failure(f"while the program is stopped the terminal's settings "
                      f"are {settings}, not the original {original}\n"
                      f"{pane.dump()}")


def resume(pane, pid):
    """fg; checks that the search goes on."""
    stopped_at = cpu(pid)
    pane.text("fg")
    pane.keys("Enter")
    wait_until(lambda: state(pid) not in ("T", None), lambda: (
        f"fg did not continue the program (state {state(pid)})\n"
        f"{pane.dump()}"))
    wait_until(lambda: (cpu(pid) or 1e9) > stopped_at + 0.1
               or proc_stat(pid) is None, lambda: (
                   f"the search does not go on after fg\n{pane.dump()}"))


def wait_solution(pane, givens):
    cells = pane.wait_screen(solved_grid, "the solution screen did not appear",
                             SEARCH_DEADLINE)
    problems = grid_problems(cells, givens, complete=True)
    if problems:
        raise Failure(f"the shown grid {rows_of(cells)} is no completion of "
                      f"the puzzle: {problems}\n{pane.dump()}")
    if pane.cursor()[2]:
        raise Failure(f"the cursor is visible on the solution screen\n"
                      f"{pane.dump()}")


def check_end(pane, pid, original):
    wait_until(lambda: proc_stat(pid) is None, lambda: (
        f"the program did not end\n{pane.dump()}"))
    pane.wait_screen(lambda s: prompt_line(s) is not None,
                     "the shell's prompt did not come back")
    settings = pane.settings()
    if settings != original:
        raise Failure(f"after the program the terminal's settings are "
                      f"{settings}, not the original {original}")
    pane.text("echo status=$?")
    pane.keys("Enter")
    pane.wait_screen(lambda s: "status=0" in s,
                     "the program's exit status was not 0")


def scenario_resume(pane, quib):
    original = pane.settings()
    pid = start_search(pane, quib)
    suspend(pane, pid, original)
    resume(pane, pid)
    wait_solution(pane, cells_of(LONG_SEARCH))
    pane.text("x")
    check_end(pane, pid, original)


def scenario_typeahead(pane, quib):
    original = pane.settings()
    pid = start_search(pane, quib)
    pane.text("x")
    suspend(pane, pid, original)
    if prompt_line(pane.screen()) != PROMPT:
        raise Failure(f"the shell shows input at its prompt\n{pane.dump()}")
    resume(pane, pid)

    # The solution screen may be gone at once, ended by the key typed
    # before Ctrl+Z; it must not stay waiting for another key.
    def ended_or_waiting():
        if proc_stat(pid) is None:
            return "ended"
        return "waiting" if solved_grid(pane.screen()) else None

    outcome = wait_until(ended_or_waiting, lambda: (
        f"neither the solution nor the end came\n{pane.dump()}"),
        SEARCH_DEADLINE)
    if outcome == "waiting":
        try:
            wait_until(lambda: proc_stat(pid) is None, lambda: "", 5.0)
        except Failure:
            raise Failure(
                "the key typed before Ctrl+Z was lost: the solution screen "
                f"still waits for a key after fg\n{pane.dump()}") from None
    check_end(pane, pid, original)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quib", required=True)
    parser.add_argument("--scenario", choices=["resume", "typeahead"],
                        required=True)
    args = parser.parse_args()
    require_tools("tmux", "dash")
    quib = os.path.abspath(args.quib)
    # ENV names no start-up file: the shell reads nothing of the user's.
    script = f"exec env PS1='{PROMPT} ' ENV= dash -i\n"
    try:
        with Server() as server:
            pane = server.pane(script)
            if args.scenario == "resume":
                scenario_resume(pane, quib)
            else:
                scenario_typeahead(pane, quib)
    except Failure as failure:
        print(f"FAILED ({args.scenario}):\n{failure}")
        sys.exit(1)
    print(f"passed ({args.scenario})")


if __name__ == "__main__":
    main()
