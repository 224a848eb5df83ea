# The search as the user waits for it: the real programs, the Linux one and
# the Windows one under Wine, each on a pseudo-terminal (tests/harness.py),
# given the end-to-end tests' long puzzle and timed from Return to the
# solution screen. The time is the processor time of the program's own
# process (user and system, from /proc), read while the program waits for a
# key before Return and again on the solution screen: Wine's console runs in
# processes of its own, which a Windows console does not count against the
# program. The two programs run in turn, RUNS times each, and the ratio of
# their medians is printed.
#
#   python3 bench/e2e_times.py LINUX_PROGRAM WINDOWS_PROGRAM [RUNS]
#
# with WINEPREFIX set (and WINEDEBUG=-all); RUNS is 4 by default.
import os
import statistics
import sys
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests"))
from harness import CELL_X, CELL_Y, EMPTY, LONG, Term, picture  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
DEADLINE = 600


def processor_seconds(pid):
    # utime and stime of the whole process, all its threads.
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def program_pid(t, windows):
    # The process that runs the program: the harness's child itself on
    # Linux; under Wine the one among it and its descendants whose command
    # line names the .exe (Wine's loader execs itself in place).
    if not windows:
        return t.pid
    pids = [t.pid]
    for pid in pids:
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b".exe" in f.read():
                    return pid
            with open(f"/proc/{pid}/task/{pid}/children") as f:
                pids += [int(p) for p in f.read().split()]
        except OSError:
            pass
    raise RuntimeError("no process runs the program")


def solution(t):
    # The digits of the grid when the screen shows a complete grid.
    rows = ["".join(t.rows[y - 1][x - 1] for x in CELL_X) for y in CELL_Y]
    if all(r.isdigit() for r in rows) and t.text() == picture(rows):
        return rows
    return None


def run(argv, env, windows):
    t = Term(argv, env)
    try:
        t.wait(lambda: t.text() == picture(EMPTY), "no start screen")
        # Until the program reads keys (under Wine: its console does).
        t.wait(lambda: not t.settings()[3] & termios.ICANON if windows else
               t.settings()[6][termios.VINTR] == b"\0", "no key awaited")
        t.send("".join(LONG).replace(".", " "))
        t.wait(lambda: t.text() == picture(LONG), "the puzzle is not typed")
        pid = program_pid(t, windows)
        t.wait(t.quiet, "the editor does not go quiet")
        before, start = processor_seconds(pid), time.monotonic()
        t.send("\r")
        t.wait(lambda: solution(t) is not None, "no solution", DEADLINE)
        after, wall = processor_seconds(pid), time.monotonic() - start
        rows = solution(t)
        t.send("x")
        if t.end() != 0:
            raise RuntimeError(f"{argv}: exit status {t.status}")
        return after - before, wall, rows
    finally:
        t.close()


def main():
    linux, windows = (os.path.abspath(p) for p in sys.argv[1:3])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 4
    env = {"TERM": "xterm", "PATH": "/usr/bin:/bin",
           **{n: os.environ[n] for n in ("WINEPREFIX", "WINEDEBUG")
              if n in os.environ}}
    programs = [("linux", [linux], False),
                ("windows", ["/usr/bin/wine", windows], True)]
    times = {name: [] for name, _, _ in programs}
    solved = set()
    print(f"{'run':>3} {'program':8} {'cpu s':>8} {'wall s':>8}")
    for k in range(runs):
        for name, argv, on_wine in programs:
            cpu, wall, rows = run(argv, env, on_wine)
            times[name].append(cpu)
            solved.add(tuple(rows))
            print(f"{k + 1:3} {name:8} {cpu:8.3f} {wall:8.3f}", flush=True)
    if len(solved) != 1:
        sys.exit("the two programs show different solutions")
    med = {name: statistics.median(ts) for name, ts in times.items()}
    low = {name: min(ts) for name, ts in times.items()}
    print(f"median cpu s: linux {med['linux']:.3f}, windows "
          f"{med['windows']:.3f}; Windows/Linux {med['windows'] / med['linux']:.3f}"
          f" (fastest runs {low['windows'] / low['linux']:.3f})")


if __name__ == "__main__":
    main()
