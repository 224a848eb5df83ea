#!/usr/bin/env python3
# Quib far from its terminal: the program on a pseudo-terminal behind a link
# that delays each direction by the same time, order kept (as over TCP), with
# the test harness's terminal at the far end, which answers the program's
# questions as xterm does. For each delay it measures how long after the
# clear arrives the grid is complete, and checks that Esc, q and Ctrl+Z
# typed at moments from the start on leave nothing of the terminal's answers
# for the shell, and that the keys typed ahead with them all arrive.
#
#     tools/far_link.py build/quib [DELAY...]
import os
import re
import select
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from harness import EMPTY, Term, picture  # noqa: E402

DELAYS = [0.05, 0.15, 0.3, 0.7, 1.5]
MOMENTS = [0.05, 0.2, 0.5, 1.0, 2.0, 3.5]  # seconds after the start
ENV = {"TERM": "xterm", "PATH": "/usr/bin:/bin"}


class Link(Term):
    # The terminal sees the program's output, and the program the keys and
    # answers, `delay` seconds after they were sent.
    def __init__(self, argv, delay, env=ENV):
        self.link, self.coming, self.going = delay, [], []
        super().__init__(argv, env, style=3)

    def send(self, keys):
        self.going.append((time.monotonic() + self.link, keys))

    def answer(self, text):  # at once, from the far end
        self.send(text)

    def pump(self, timeout=0.005):
        now = time.monotonic()
        while self.going and self.going[0][0] <= now:
            os.write(self.fd, self.going.pop(0)[1].encode("latin-1"))
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            self.status = os.waitstatus_to_exitcode(status) if pid else None
        if select.select([self.fd], [], [], timeout)[0]:
            try:
                self.coming.append((now + self.link, os.read(self.fd, 65536)))
                self.last = now
            except OSError:
                self.closed = True
        while self.coming and self.coming[0][0] <= now:
            self.raw += self.coming.pop(0)[1]
        while m := self.tokens.match(self.raw, self.pos):
            self.pos = m.end()
            self.token(*m.groups())

    def settle(self, seconds, drain=True):
        # For the time given and, with drain, until nothing is on its way.
        end = time.monotonic() + seconds
        while time.monotonic() < end or drain and (self.going or self.coming):
            self.pump()


def grid_time(quib, delay):
    t = Link([quib], delay)
    try:
        t.wait(lambda: b"\x1b[2J" in t.raw, "no clear")
        cleared = time.monotonic()
        t.wait(lambda: t.text() == picture(EMPTY), "no grid")
        return time.monotonic() - cleared
    finally:
        t.close()


def shell_reads(quib, delay, key, moment):
    # The program in an interactive shell; at the moment, the digit 1 and
    # the key, and after q a command typed ahead. Once the program has ended
    # or stopped and all on its way has come, the shell is asked to read a
    # line and show it, with Esc as E: "hello" when nothing else was left
    # for it; anything else is what went wrong.
    t = Link(["/bin/dash", "-i"], delay, dict(ENV, PS1="$ ", ENV=""))
    try:
        t.wait(lambda: "$" in t.text(), "no shell")
        t.send(quib + "\n")
        t.settle(moment, drain=False)
        t.send("1" + key)
        if key == "q":
            t.settle(0.1, drain=False)
            t.send("echo ahead\n")
        done = {"q": lambda: re.search(r"^(\$ )?ahead$", t.text(), re.M),
                "\x1a": lambda: "Stopped" in t.text()}.get(
                    key, lambda: t.text() == "$")
        t.wait(done, "did not end or stop")
        t.settle(2 * delay + 0.5)
        t.send('IFS= read -r l; echo "GOT:[$l]" | tr "\\033" E\nhello\n')
        got = re.compile(r"^GOT:\[(.*)\]$", re.M)
        try:
            t.wait(lambda: got.search(t.text()), "", 2 * delay + 5)
        except AssertionError:
            return "no line read: " + " / ".join(line for line in t.lines() if line)
        return got.search(t.text()).group(1)
    finally:
        t.close()


def main():
    quib = os.path.abspath(sys.argv[1])
    delays = [float(d) for d in sys.argv[2:]] or DELAYS
    failures = 0
    for delay in delays:
        grid = max(grid_time(quib, delay) for _ in range(3))
        read = {(k, m): shell_reads(quib, delay, k, m)
                for k in ("\x1b", "q", "\x1a") for m in MOMENTS}
        wrong = {k: v for k, v in read.items() if v != "hello"}
        failures += bool(wrong) or grid > 0.1
        print(f"{delay * 1000:5.0f} ms each way: grid complete {grid * 1000:4.0f}"
              f" ms after the clear; {len(read) - len(wrong)}/{len(read)} ends"
              f" left the shell only what was typed", *(
                  f"\n  {k!r} at {m} s: the shell read {v!r}"
                  for (k, m), v in wrong.items()))
    print(f"far link: {len(delays) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
