#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal for the command-line tests.

pty_run.py PROMPT ANSWER PROGRAM [ARGS...]
Waits until PROMPT has appeared on the terminal, types ANSWER and a line
end, then collects everything until the program ends. Writes what the
terminal showed to standard output and exits with the program's status
(255 when PROMPT never came).
"""
import os
import pty
import select
import sys
import time


def main():
    prompt = sys.argv[1].encode()
    answer = sys.argv[2].encode()
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(sys.argv[3], sys.argv[3:])
    shown = b""
    typed = False
    deadline = time.time() + 60
    while time.time() < deadline:
        if not typed and prompt in shown:
            os.write(fd, answer + b"\n")
            typed = True
        ready, _, _ = select.select([fd], [], [], 0.1)
        if not ready:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError:
            break
        if not data:
            break
        shown += data
    _, status = os.waitpid(pid, 0)
    sys.stdout.buffer.write(shown)
    if not typed:
        sys.exit(255)
    sys.exit(os.waitstatus_to_exitcode(status) & 0xFF)


if __name__ == "__main__":
    main()
