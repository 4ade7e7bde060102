"""The programs the Python tests need from the machine.  One that is
missing fails the test, naming the Debian package that brings it: a test
that did not run never counts as passed.

    tools.needs("fzf", "fzf", failures)   # False, and a failure, if missing

and how such a test ends: its scratch folder removed, its failures and a
closing line printed, its status (run_and_report).
"""
import os
import shutil
import sys


def missing(tool, package):
    """None when tool (a command on PATH, or an absolute path) is here;
    else the line that says what to install."""
    if os.path.exists(tool) if tool.startswith("/") else shutil.which(tool):
        return None
    return f"not run: {tool} is missing; install the Debian package {package}"


def needs(tool, package, failures):
    """True when tool is here; else False, with the line in failures."""
    line = missing(tool, package)
    if line:
        failures.append(line)
    return line is None


def run_and_report(name, main, failures, work):
    """Runs main(), removes the scratch folder `work` whatever happens,
    prints each failure and the closing line, and exits 1 if any."""
    try:
        main()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAILED: " + f)
    print(f"{name}: {len(failures)} failed")
    sys.exit(1 if failures else 0)
