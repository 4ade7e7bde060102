#!/usr/bin/env python3
"""Runs a command and fails if a process that it started is still there
when it has ended, even one that detached itself (a new session, its
parent gone): this process becomes the child subreaper of everything the
command starts, so that an orphan is handed to it rather than to init.
A process that the command did not start is never looked at.

    .ci/own-processes.py COMMAND [ARG ...]

Exits with the command's status, or 1 when it left a process; those it
left are listed and killed.  Linux only (prctl, /proc).
"""
import ctypes
import os
import signal
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36


def parents():
    """pid -> parent pid, for every process there is now."""
    table = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        # The command's name is in parentheses and may hold anything.
        fields = stat[stat.rindex(")") + 2:].split()
        if fields[0] != "Z":
            table[int(name)] = int(fields[1])
    return table


def descendants():
    table = parents()
    me = os.getpid()
    mine = []
    for pid in table:
        p, seen = pid, 0
        while p in table and p != me and seen < 4096:
            p, seen = table[p], seen + 1
        if p == me and pid != me:
            mine.append(pid)
    return mine


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def describe(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
    except OSError:
        return "?"


def main():
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        print("own-processes: cannot become a subreaper", file=sys.stderr)
        return 1
    status = subprocess.call(sys.argv[1:])
    # Processes the command killed may take a moment to go.
    deadline = time.monotonic() + 5
    while True:
        reap()
        left = descendants()
        if not left or time.monotonic() > deadline:
            break
        time.sleep(0.2)
    if left:
        print("own-processes: the run left these processes behind:")
        for pid in left:
            print(f"  {pid} {describe(pid)}")
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        # Gone, and reaped, before this run ends.
        deadline = time.monotonic() + 5
        while descendants() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.05)
        reap()
        return 1
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
