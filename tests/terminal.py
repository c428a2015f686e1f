"""Runs a program with its standard error (and, if asked, its standard
output) on a pseudo-terminal, as a user at a terminal would see it, while
standard input and the other stream stay pipes."""

import os
import pty
import select
import signal
import subprocess
import time


def run_on_terminal(argv, stdout_terminal=False, env=None, cwd=None, timeout=60, interrupt_after=None):
    """Gives (status, what the terminal showed, standard output if it was a pipe).

    interrupt_after: a predicate on the terminal's bytes so far; once it
    holds, the program gets SIGINT (Ctrl-C), as a user would press it."""
    leader, follower = pty.openpty()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stderr=follower,
                            stdout=follower if stdout_terminal else subprocess.PIPE, env=env, cwd=cwd)
    os.close(follower)
    shown = b""
    out = b""
    deadline = time.monotonic() + timeout
    interrupted = False
    streams = [leader] + ([] if stdout_terminal else [proc.stdout.fileno()])
    while streams and time.monotonic() < deadline:
        ready, _, _ = select.select(streams, [], [], 0.5)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # the terminal's other end closed
                chunk = b""
            if not chunk:
                streams.remove(fd)
            elif fd == leader:
                shown += chunk
            else:
                out += chunk
        if interrupt_after and not interrupted and interrupt_after(shown):
            proc.send_signal(signal.SIGINT)
            interrupted = True
    if proc.poll() is None and time.monotonic() >= deadline:
        proc.kill()
    status = proc.wait(timeout=10)
    os.close(leader)
    if proc.stdout:
        proc.stdout.close()
    return status, shown, out
