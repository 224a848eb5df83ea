"""The terminal goes away while the editor waits for a key.

    python3 hangup.py --quib PATH --variant signal|ignored

The program runs on a pseudo-terminal of its own (it is the session leader,
the terminal its controlling terminal, 80 x 25). Once the editor has drawn
its grid and echoed a typed digit, the test closes the terminal's master
side, as a terminal window does when it is closed: the kernel hangs the
terminal up and sends SIGHUP.

signal:  SIGHUP has its default disposition: the program dies by SIGHUP.
ignored: the program was started with SIGHUP ignored, which it keeps, so
         only the failing reads tell it: readKey reports -1, the editor
         leaves as for Esc and the program ends with status 0.

Either way it must end within a few seconds and without spending CPU time
after the hangup: no loop on a failing read or on the bell.
"""

import argparse
import fcntl
import os
import pty
import select
import shutil
import signal
import struct
import sys
import tempfile
import termios
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
# The shared harness stands in tests/.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from tmux_harness import DEADLINE, Failure, proc_stat

# What the program may still spend after the hangup: restoring the
# terminal, clearing the screen, leaving. Far below a second even under
# the sanitizers; a loop on a failing read reaches it at once.
CPU_AFTER_HANGUP = 0.5
END_DEADLINE = 10.0


def read_until(master, output, predicate, what):
    end = time.monotonic() + DEADLINE
    while not predicate(output):
        if time.monotonic() > end:
            raise Failure(f"{what}; output so far {bytes(output[-400:])!r}")
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                output += os.read(master, 4096)
            except OSError:
                raise Failure(f"the terminal closed early; output "
                              f"{bytes(output[-400:])!r}") from None
    return output


def run(quib, variant, workdir):
    pid, master = pty.fork()
    if pid == 0:
        try:
            fcntl.ioctl(0, termios.TIOCSWINSZ,
                        struct.pack("HHHH", 25, 80, 0, 0))
            if variant == "ignored":
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
            else:
                signal.signal(signal.SIGHUP, signal.SIG_DFL)
            os.chdir(workdir)
            os.execv(quib, [quib])
        finally:
            os._exit(127)
    try:
        output = bytearray()
        output = read_until(master, output, lambda o: o.count(b".") >= 81,
                            "the editor's grid was not drawn")
        mark = len(output)
        os.write(master, b"5")
        read_until(master, output, lambda o: b"5" in o[mark:],
                   "the typed digit was not echoed")
        stat = proc_stat(pid)
        if stat is None or stat[0] == "Z":
            raise Failure("the program ended before the hangup")
        cpu_before = stat[2]
    except BaseException:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        raise

    os.close(master)
    end = time.monotonic() + END_DEADLINE
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done == pid:
            break
        if time.monotonic() > end:
            stat = proc_stat(pid)
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            raise Failure(
                f"the program still runs {END_DEADLINE} s after the hangup "
                f"(state {stat[0] if stat else '?'}, "
                f"{(stat[2] - cpu_before) if stat else 0:.2f} s of CPU "
                f"time since)")
        time.sleep(0.02)

    spent = usage.ru_utime + usage.ru_stime - cpu_before
    if spent > CPU_AFTER_HANGUP:
        raise Failure(f"the program spent {spent:.2f} s of CPU time after "
                      f"the hangup")
    if variant == "signal":
        if not (os.WIFSIGNALED(status)
                and os.WTERMSIG(status) == signal.SIGHUP):
            raise Failure(f"the program did not die by SIGHUP (wait status "
                          f"{status:#x})")
    elif not (os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0):
        raise Failure(f"with SIGHUP ignored the program did not end with "
                      f"status 0 (wait status {status:#x})")
    print(f"ended {variant}, {spent:.3f} s of CPU time after the hangup")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quib", required=True)
    parser.add_argument("--variant", choices=["signal", "ignored"],
                        required=True)
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="quib-hangup-")
    try:
        run(os.path.abspath(args.quib), args.variant, workdir)
    except Failure as failure:
        print(f"FAILED ({args.variant}): {failure}")
        sys.exit(1)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print(f"passed ({args.variant})")


if __name__ == "__main__":
    main()
