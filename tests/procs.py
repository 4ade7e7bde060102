"""Commands run by the Python tests: each in a session of its own, and
ended with its whole process group when it returns or its deadline
passes, so that no shell, pipeline or background job that a test started
outlives the test.

    r = procs.run(argv, timeout=10, capture_output=True, text=True, ...)

takes subprocess.run's arguments (a timeout is required) and gives what it
gives; past the timeout it raises subprocess.TimeoutExpired after the
group is dead.
"""
import os
import signal
import subprocess


def kill_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def run(argv, *, timeout, input=None, capture_output=False, check=False, **kwargs):
    if capture_output:
        kwargs["stdout"] = kwargs["stderr"] = subprocess.PIPE
    if input is not None:
        kwargs["stdin"] = subprocess.PIPE
    kwargs["start_new_session"] = True
    with subprocess.Popen(argv, **kwargs) as p:
        try:
            out, err = p.communicate(input, timeout=timeout)
        except subprocess.TimeoutExpired as late:
            kill_group(p.pid)
            p.communicate()
            raise late
        finally:
            # Whatever the command left behind in its group goes with it.
            # Its pid names the group for as long as any member lives.
            kill_group(p.pid)
    r = subprocess.CompletedProcess(argv, p.returncode, out, err)
    if check:
        r.check_returncode()
    return r
