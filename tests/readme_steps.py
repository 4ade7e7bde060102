#!/usr/bin/env python3
"""Runs the README's steps around the program, in the orders a user could
run them: the first command, the test command, install, package, install
the package, uninstall.  Each sequence starts from a fresh copy of the
source tree and a scratch root standing for the system, and must leave
the root as it was once uninstalled, .deb or not.

The commands are the README's own, found by what they do, run as written
but for these changes, which keep the real system out of it:
  - `cmake --install` gets `--prefix ROOT/usr/local`;
  - `apt-get install ./x.deb` unpacks x.deb into ROOT instead (what dpkg
    would put there);
  - the test command configures as written, then builds the program
    alone and lists the tests (`ctest -N`): the whole suite is what runs
    this test, and what matters here is that the folder has its tests.
The README's apt line for the tests must name exactly tests/packages.

    tests/readme_steps.py SOURCE_DIR
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import procs  # noqa: E402
from docs_test import readme_blocks  # noqa: E402

source = os.path.abspath(sys.argv[1])
failures = []

STEPS = {  # name: what finds its command in the README
    "first": r"--target ruvo .*\./build/ruvo",
    "test": r"\bctest\b",
    "release": r"-B build-release",
    "install": r"^cmake --install build-release",
    "uninstall": r"--target uninstall",
    "package-build": r"-B build-package",
    "cpack": r"\bcpack\b",
    "apt-install": r"^apt-get install \./",
    "apt-packages": r"^apt-get install g\+\+",
}


def find_steps():
    commands = [c for block in readme_blocks(os.path.join(source, "README.md")) for c, _ in block]
    steps = {}
    for name, pattern in STEPS.items():
        found = [c for c in commands if re.search(pattern, c)]
        if len(found) != 1:
            failures.append(f"README: {len(found)} commands for the step '{name}' ({pattern})")
        else:
            steps[name] = re.sub(r"\s+#.*$", "", found[0])
    return steps


def copy_tree(to):
    """The sources as a clone has them: what git tracks, or all but the
    build folders."""
    listed = procs.run(["git", "-C", source, "ls-files", "-co", "--exclude-standard"],
                       capture_output=True, text=True, timeout=60)
    if listed.returncode == 0 and listed.stdout:
        for f in listed.stdout.splitlines():
            if os.path.isfile(os.path.join(source, f)):
                os.makedirs(os.path.dirname(os.path.join(to, f)), exist_ok=True)
                shutil.copy2(os.path.join(source, f), os.path.join(to, f))
    else:
        shutil.copytree(source, to, dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns("build*", ".git"))


def snapshot(root):
    seen = {}
    for top, dirs, files in os.walk(root):
        for d in dirs:
            seen[os.path.relpath(os.path.join(top, d), root)] = "dir"
        for f in files:
            with open(os.path.join(top, f), "rb") as fh:
                seen[os.path.relpath(os.path.join(top, f), root)] = hashlib.sha256(fh.read()).hexdigest()
    return seen


def differences(before, after):
    gone = sorted(set(before) - set(after))
    added = sorted(set(after) - set(before))
    changed = sorted(k for k in set(before) & set(after) if before[k] != after[k])
    return [f"removed {x}" for x in gone] + [f"left {x}" for x in added] + \
           [f"changed {x}" for x in changed]


class sequence:
    def __init__(self, name, steps):
        self.name, self.steps = name, steps
        self.work = tempfile.mkdtemp(prefix="ruvo-steps-")
        self.tree = os.path.join(self.work, "src")
        self.root = os.path.join(self.work, "root")
        copy_tree(self.tree)
        # A system that has its folders already: they must stay.
        os.makedirs(os.path.join(self.root, "usr", "local", "bin"))
        os.makedirs(os.path.join(self.root, "usr", "local", "share", "man"))

    def sh(self, what, command):
        r = procs.run(["sh", "-c", command], cwd=self.tree, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, timeout=600)
        if r.returncode != 0:
            failures.append(f"{self.name}: {what}: `{command}` exited {r.returncode}:\n"
                            f"{(r.stdout + r.stderr)[-1500:]}")
        return r

    def run(self, step):
        c = self.steps[step]
        if step == "install":
            return self.sh(step, f"{c} --prefix '{self.root}/usr/local'")
        if step == "apt-install":
            deb = c.split()[-1]
            return self.sh(step, f"dpkg-deb -x {deb} '{self.root}'")
        if step == "test":
            configure, build, ctest = [p.strip() for p in c.split("&&")]
            r = self.sh(step, f"{configure} && {build} --target ruvo && {ctest} -N")
            m = re.search(r"Total Tests: (\d+)", r.stdout)
            if r.returncode == 0 and (not m or int(m.group(1)) == 0):
                failures.append(f"{self.name}: the test command finds "
                                f"{m.group(1) if m else 'no'} tests")
            return r
        r = self.sh(step, c)
        if step == "first" and r.returncode == 0 and "\033[38;2;" not in r.stdout:
            failures.append(f"{self.name}: the first command drew nothing")
        return r

    def done(self):
        shutil.rmtree(self.work, ignore_errors=True)


def installed_ruvo_draws(seq, where):
    r = procs.run([os.path.join(seq.root, where, "bin", "ruvo"), "-r", "0-16",
                   os.path.join(seq.tree, "LICENSE")], capture_output=True, timeout=20)
    if r.returncode != 0 or b"\033[38;2;" not in r.stdout:
        failures.append(f"{seq.name}: the ruvo installed in {where} does not draw")


def main():
    steps = find_steps()
    if failures:
        return
    wanted = [l.strip() for l in open(os.path.join(source, "tests", "packages"))
              if l.strip() and not l.startswith("#")]
    if "--no-tests=error" not in steps["test"]:
        failures.append("README: the test command would pass having run no test")
    if steps["apt-packages"].split()[2:] != wanted:
        failures.append(f"README's apt line names {steps['apt-packages'].split()[2:]}, "
                        f"tests/packages {wanted}")

    seq = sequence("first command, then test command", steps)
    seq.run("first")
    seq.run("test")
    seq.done()

    seq = sequence("install, then test command", steps)
    seq.run("release")
    seq.run("install")
    installed_ruvo_draws(seq, "usr/local")
    seq.run("test")
    seq.done()

    seq = sequence("test, install, package, uninstall", steps)
    before = snapshot(seq.root)
    seq.run("test")
    seq.run("release")
    seq.run("install")
    seq.run("package-build")
    seq.run("cpack")
    seq.run("uninstall")
    left = differences(before, snapshot(seq.root))
    if left:
        failures.append(f"{seq.name}: the root is not as before: {left}")
    seq.done()

    seq = sequence("package, install it, uninstall route", steps)
    seq.run("package-build")
    seq.run("cpack")
    seq.run("apt-install")
    installed_ruvo_draws(seq, "usr")
    before = snapshot(seq.root)
    seq.run("release")
    seq.run("install")
    seq.run("uninstall")
    seq.run("uninstall")  # a second time: there is nothing left to do
    left = differences(before, snapshot(seq.root))
    if left:
        failures.append(f"{seq.name}: the uninstall touched the package's files: {left}")
    seq.done()


main()
for f in failures:
    print("FAILED: " + f)
print(f"readme steps: {len(failures)} failed")
sys.exit(1 if failures else 0)
