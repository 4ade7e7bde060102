#!/usr/bin/env python3
"""Runs every example command of the README and the manual page against the
built binary and checks what the docs claim of it.

An example is a line that begins with "$ " in an indented block of the
README, or in a .Dl line or .Bd -literal block of the manual.  A line
indented two more columns continues the command above it; any other line
below a command is what the command prints (standard output and standard
error together), and must be exactly that.  A command shown with no output
below it must exit 0, write nothing to standard error, and write nothing
or a dump to standard output; and every dump that ruvo draws in an example
is read back, byte for byte, against the bytes its arguments name (the
files, the range, the width, standard input and the palette in use).  The
README's table of ranges is run too: each row's range must show exactly
the bytes its row says.  The
commands of one block run in order, each after the ones above it, as in one
shell session; a shell function that an example defines is there for every
later example.  Commands that do not run ruvo must exit 0 and write
nothing to standard error.

Every example runs in a scratch folder that holds the files the examples
name, with ruvo on PATH inside an install tree (bin/ruvo beside
share/ruvo/palettes), through a wrapper that records what each run was
given.  Examples that build, install, package or uninstall the project
are run by tests/readme_steps.py instead, in every order; only those that
need the network or a pager are skipped, with the reason.  A tool that an
example needs and the machine lacks fails the test, naming its package.

The manual's examples must also fit 80 columns of `man` output: each is
looked for, whole, in the page as mandoc renders it at that width.

    tests/docs_test.py RUVO SOURCE_DIR
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

import dump_reader
import procs
import tools

SKIPS = [  # (pattern in the command, reason)
    (r"\bcurl\b", "needs the network"),
    (r"\bless\b", "needs a terminal (a pager)"),
    (r"\bcmake\b|\bctest\b|\bcpack\b|\bapt-get\b|\bdpkg\b",
     "builds, installs, packages or uninstalls: run by the test readme_steps"),
    (r"\bfzf\b|\bgit\b|\bpaste\b",
     "a preview recipe, for a picker, git or two files: run by the test previews"),
]
TOOLS = {"xxd": "xxd", "mandoc": "mandoc"}  # tool: Debian package
# Seconds an example may take: each dumps a few kilobytes at most.
EXAMPLE_LIMIT = 10
DEFINITION = re.compile(r"^\w+\(\) *\{")
prelude = []  # shell functions defined by the examples so far



def add_line(block, text):
    """Adds one line of an example block: a command, a continuation of the
    command above (two more columns in), or a line of its output."""
    if text.startswith("$ "):
        block.append([text[2:], []])
    elif not block:
        return
    elif text.startswith("  "):
        block[-1][0] += "\n" + text[2:]
    else:
        block[-1][1].append(text)


def readme_blocks(path):
    """Blocks of (command, expected lines) from indented code blocks."""
    blocks, block, base = [], None, 0
    for line in open(path, encoding="utf-8").read().split("\n"):
        m = re.match(r"^( {4,})\$ ", line)
        if block is None:
            if m:
                base = len(m.group(1))
                block = []
                add_line(block, line[base:])
            continue
        if not line.strip() or len(line) - len(line.lstrip(" ")) < base:
            blocks.append(block)
            block = None
            continue
        add_line(block, line[base:])
    if block:
        blocks.append(block)
    return blocks


def unroff(text):
    for a, b in (("\\(aq", "'"), ("\\(dq", '"'), ("\\e", "\\"), ("\\-", "-"), ("\\&", "")):
        text = text.replace(a, b)
    return text


def man_blocks(path):
    blocks, block = [], None
    for line in open(path, encoding="utf-8").read().split("\n"):
        if line.startswith(".Dl $ "):
            blocks.append([[unroff(line[6:]), []]])
        elif line.startswith(".Bd -literal"):
            block = []
        elif line.startswith(".Ed"):
            if block:
                blocks.append(block)
            block = None
        elif block is not None:
            add_line(block, unroff(line))
    return blocks


def scratch():
    d = tempfile.mkdtemp(prefix="ruvo-docs-")
    data = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(5000))
    for name, content in (("file", data), ("old.bin", data[:3000]), ("new.bin", data[1000:])):
        with open(os.path.join(d, name), "wb") as f:
            f.write(content)
    with open(os.path.join(d, "disk.img"), "wb") as f:
        f.truncate(0x100000)
        f.seek(0x100000)
        f.write(data * 20)
    os.makedirs(os.path.join(d, "dir", "sub"))
    for name in ("dir/a", "dir/sub/b"):
        with open(os.path.join(d, name), "wb") as f:
            f.write(data[:300])
    shutil.copytree(os.path.join(source, "palettes"), os.path.join(d, "palettes"))
    os.makedirs(os.path.join(d, "prefix", "bin"))
    os.makedirs(os.path.join(d, "prefix", "share", "ruvo"))
    shutil.copy(os.path.join(source, "shell", "ruvo_palette.sh"),
                os.path.join(d, "prefix", "share", "ruvo", "ruvo_palette.sh"))
    shutil.copytree(os.path.join(source, "palettes"),
                    os.path.join(d, "prefix", "share", "ruvo", "palettes"))
    wrapper = os.path.join(d, "prefix", "bin", "ruvo")
    with open(wrapper, "w") as f:
        f.write(RECORDER.replace("REAL", shlex.quote(os.path.abspath(ruvo))))
    os.chmod(wrapper, 0o755)
    return d


# ruvo as the examples run it: when RUVO_DOCS_RECORD names a folder, each
# run leaves there its arguments, RUVO_COLORS, standard input and output.
RECORDER = """#!/bin/sh
[ -n "${RUVO_DOCS_RECORD:-}" ] || exec REAL "$@"
run="$RUVO_DOCS_RECORD/$(ls "$RUVO_DOCS_RECORD" | wc -l)"
mkdir "$run"
for a in "$@"; do printf '%s\\0' "$a"; done >"$run/args"
[ -z "${RUVO_COLORS+set}" ] || printf '%s' "$RUVO_COLORS" >"$run/colours"
cat >"$run/stdin"
REAL "$@" <"$run/stdin" >"$run/stdout"
status=$?
cat "$run/stdout"
exit $status
"""


def check_runs(record, d, name, shown, failures):
    """Reads back every dump that ruvo drew in one example."""
    for run in sorted(os.listdir(record), key=int):
        path = os.path.join(record, run)
        out = open(os.path.join(path, "stdout"), "rb").read().decode("utf-8", "replace")
        if not out:
            continue
        args = open(os.path.join(path, "args"), "rb").read().split(b"\0")[:-1]
        colours = None
        if os.path.exists(os.path.join(path, "colours")):
            colours = open(os.path.join(path, "colours"), encoding="utf-8").read()
        stdin = open(os.path.join(path, "stdin"), "rb").read()
        try:
            width, palette, inputs = dump_reader.asked_for([a.decode() for a in args], stdin,
                                                           colours, d, source)
            wrong = dump_reader.compare(out, width, palette, inputs)
        except ValueError as e:  # no palette in RUVO_COLORS, and yet a dump
            wrong = f"it drew a dump, but: {e}"
        if wrong:
            failures.append(f"{name}: {shown}\n  the dump of ruvo {' '.join(a.decode() for a in args)}"
                            f" is not of the bytes it names: {wrong}")


def is_dump(out):
    lines = out.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return all(l == "" or dump_reader.LINE.match(l) or dump_reader.HEADER.match(l) for l in lines)


def missing_tool(command):
    for tool, package in TOOLS.items():
        if re.search(rf"\b{tool}\b", command) and tools.missing(tool, package):
            return tools.missing(tool, package)
    return None


def run_block(name, block, failures, counts):
    d = scratch()
    env = {k: v for k, v in os.environ.items() if k != "RUVO_COLORS"}
    env["PATH"] = os.path.join(d, "prefix", "bin") + ":" + env.get("PATH", "/usr/bin:/bin")
    env["LC_ALL"] = "C"
    try:
        before = []
        for command, expected in block:
            reason = next((why for pat, why in SKIPS if re.search(pat, command)), None)
            if reason:
                print(f"skipped: {name}: {command.splitlines()[0]}  ({reason})")
                counts["skipped"] += 1
                before.append(command)
                continue
            shown = command.splitlines()[0]
            missing = missing_tool(command)
            if missing:
                failures.append(f"{name}: {shown}\n  {missing}")
                continue
            record = tempfile.mkdtemp(dir=d, prefix=".record-")
            script = "".join(c + "\n" for c in prelude)
            script += "".join(c + " >/dev/null 2>&1\n" for c in before)
            script += f"RUVO_DOCS_RECORD={shlex.quote(record)}; export RUVO_DOCS_RECORD\n"
            script += command + "\n"
            try:
                r = procs.run(["sh", "-c", script], cwd=d, env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=EXAMPLE_LIMIT)
            except subprocess.TimeoutExpired:
                # The examples after it run it again first: they would
                # only wait as long again.
                failures.append(f"{name}: {shown}\n  was still running after {EXAMPLE_LIMIT} s;"
                                " the rest of this block was not run")
                break
            out = r.stdout.decode("utf-8", "replace")
            err = r.stderr.decode("utf-8", "replace")
            if expected:
                want = "\n".join(expected) + "\n"
                if out + err != want:
                    failures.append(f"{name}: {shown}\n  docs say:\n{want}  it printed:\n{out + err}")
            elif r.returncode != 0 or err or ("ruvo" in command and not is_dump(out)):
                failures.append(f"{name}: {shown}\n  docs show no message, but it exited "
                                f"{r.returncode}, stderr {err!r}, stdout begins {out[:120]!r}")
            check_runs(record, d, name, shown, failures)
            shutil.rmtree(record)
            counts["ran"] += 1
            if DEFINITION.match(command):
                prelude.append(command)
            else:
                before.append(command)
    finally:
        shutil.rmtree(d, ignore_errors=True)


def range_table(path, failures, counts):
    """Each row of the README's table of ranges, run: the range must show
    exactly the bytes that the row says, as "A to B", "A to the end" or
    "all"."""
    text = open(path, encoding="utf-8").read()
    section = text[text.index("### Ranges"):]
    rows = re.findall(r"^\| `([^`]+)` \| ([^|]+) \|$", section[:section.index("\n\n", 20)], re.M)
    if not rows:
        failures.append("README: no table of ranges found")
    d = scratch()
    try:
        data = open(os.path.join(d, "file"), "rb").read()
        for rng, says in rows:
            m = re.match(r"(\d+) to (\d+|the end)|all", says.strip())
            if not m:
                failures.append(f"README ranges: cannot read the row {rng}: {says}")
                continue
            first = int(m.group(1)) if m.group(1) else 0
            last = len(data) - 1 if not m.group(1) or m.group(2) == "the end" else int(m.group(2))
            try:
                r = procs.run([ruvo, "-r", rng, "file"], cwd=d, capture_output=True,
                              timeout=EXAMPLE_LIMIT)
            except subprocess.TimeoutExpired:
                failures.append(f"README ranges: -r {rng} was still running after "
                                f"{EXAMPLE_LIMIT} s; the other ranges were not run")
                break
            wrong = dump_reader.compare(r.stdout.decode("utf-8", "replace"), 64,
                                        dump_reader.default_palette(source),
                                        [(None, {at: data[at] for at in range(first, last + 1)})])
            if r.returncode != 0 or r.stderr or wrong:
                failures.append(f"README ranges: -r {rng} ({says.strip()}): "
                                f"{wrong or r.stderr.decode()}")
            counts["ran"] += 1
    finally:
        shutil.rmtree(d, ignore_errors=True)


def man_width(page, blocks, failures):
    tool = shutil.which("mandoc")
    if not tool:
        failures.append("manual: its width is not checked: mandoc is missing; "
                        "install the Debian package mandoc")
        return
    text = procs.run([tool, "-T", "utf8", "-O", "width=80", page],
                     capture_output=True, timeout=20).stdout.decode()
    text = re.sub(".\b", "", text)
    rendered = [l.rstrip() for l in text.split("\n")]
    for l in rendered:
        if len(l) > 80:
            failures.append(f"manual: a line of {len(l)} columns at width 80: {l}")
    for block in blocks:
        for command, _ in block:
            for part in command.split("\n"):
                if not any(l.strip() == ("$ " + part).strip() or l.strip() == part.strip()
                           for l in rendered):
                    failures.append(f"manual: example wraps at 80 columns: {part}")


def main():
    failures, counts = [], {"ran": 0, "skipped": 0}
    readme = readme_blocks(os.path.join(source, "README.md"))
    man = man_blocks(os.path.join(source, "docs", "ruvo.1"))
    # Once an example has hung, the rest are not run: each would only wait
    # as long again, and the whole test would outlive its own deadline.
    steps = [(run_block, f"README example {i + 1}", block) for i, block in enumerate(readme)]
    steps += [(run_block, f"manual example {i + 1}", block) for i, block in enumerate(man)]
    steps.append((range_table, "README ranges", os.path.join(source, "README.md")))
    for step, name, what in steps:
        if any("still running" in f for f in failures):
            failures.append(f"{name}: not run, since an earlier example hung")
        elif step is range_table:
            step(what, failures, counts)
        else:
            step(name, what, failures, counts)
    man_width(os.path.join(source, "docs", "ruvo.1"), man, failures)
    for f in failures:
        print("FAILED: " + f)
    print(f"docs: {counts['ran']} example commands ran, {counts['skipped']} skipped, "
          f"{len(failures)} failed")
    sys.exit(1 if failures or counts["ran"] == 0 else 0)


if __name__ == "__main__":
    ruvo, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    main()
