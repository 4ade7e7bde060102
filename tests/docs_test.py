#!/usr/bin/env python3
"""Runs every example command of the README and the manual page against the
built binary and checks what the docs claim of it.

An example is a line that begins with "$ " in an indented block of the
README, or in a .Dl line or .Bd -literal block of the manual.  A line
indented two more columns continues the command above it; any other line
below a command is what the command prints (standard output and standard
error together), and must be exactly that.  A command shown with no output
below it must exit 0, write nothing to standard error, and write nothing
or a dump (labelled lines and header lines) to standard output.  The
commands of one block run in order, each after the ones above it, as in one
shell session; a shell function that an example defines is there for every
later example.  Commands that do not run ruvo must exit 0 and write
nothing to standard error.

Every example runs in a scratch folder that holds the files the examples
name, with ruvo on PATH inside an install tree (bin/ruvo beside
share/ruvo/palettes).  An example that needs what a test machine lacks,
or that builds or installs the project (CI does that itself), is listed
as skipped, with the reason.

The manual's examples must also fit 80 columns of `man` output: each is
looked for, whole, in the page as mandoc renders it at that width.

    tests/docs_test.py RUVO SOURCE_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ruvo, source = sys.argv[1], sys.argv[2]

SKIPS = [  # (pattern in the command, reason)
    (r"\bcurl\b", "needs the network"),
    (r"\bless\b", "needs a terminal (a pager)"),
    (r"\bcmake\b|\bctest\b|\bcpack\b|\bapt\b|reproducible_test", "builds or installs the project; "
     "CI does that itself (tests install_and_run, debian_package, reproducible_package)"),
    (r"install_manifest", "removes an installed copy; none is installed here"),
]
if not shutil.which("xxd"):
    SKIPS.append((r"\bxxd\b", "needs xxd, which is not installed"))
DEFINITION = re.compile(r"^\w+\(\) *\{")
prelude = []  # shell functions defined by the examples so far

LABEL = re.compile(r"^ {0,4}[0-9a-f]{4,} \033\[")
HEADER = re.compile(r"^====> \033\[1m.*\033\[m <====$")


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
    shutil.copytree(os.path.join(source, "palettes"),
                    os.path.join(d, "prefix", "share", "ruvo", "palettes"))
    os.symlink(os.path.abspath(ruvo), os.path.join(d, "prefix", "bin", "ruvo"))
    return d


def is_dump(out):
    lines = out.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return all(l == "" or LABEL.match(l) or HEADER.match(l) for l in lines)


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
            script = "".join(c + "\n" for c in prelude)
            script += "".join(c + " >/dev/null 2>&1\n" for c in before) + command + "\n"
            shown = command.splitlines()[0]
            try:
                r = subprocess.run(["sh", "-c", script], cwd=d, env=env, capture_output=True,
                                   stdin=subprocess.DEVNULL, timeout=20)
            except subprocess.TimeoutExpired:
                failures.append(f"{name}: {shown}\n  was still running after 20 s")
                continue
            out = r.stdout.decode("utf-8", "replace")
            err = r.stderr.decode("utf-8", "replace")
            if expected:
                want = "\n".join(expected) + "\n"
                if out + err != want:
                    failures.append(f"{name}: {shown}\n  docs say:\n{want}  it printed:\n{out + err}")
            elif r.returncode != 0 or err or ("ruvo" in command and not is_dump(out)):
                failures.append(f"{name}: {shown}\n  docs show no message, but it exited "
                                f"{r.returncode}, stderr {err!r}, stdout begins {out[:120]!r}")
            counts["ran"] += 1
            if DEFINITION.match(command):
                prelude.append(command)
            else:
                before.append(command)
    finally:
        shutil.rmtree(d, ignore_errors=True)


def man_width(page, blocks, failures):
    tool = shutil.which("mandoc")
    if tool:
        text = subprocess.run([tool, "-T", "utf8", "-O", "width=80", page],
                              capture_output=True).stdout.decode()
    elif shutil.which("man"):
        text = subprocess.run(["man", "-l", page], capture_output=True,
                              env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="")).stdout.decode()
    else:
        print("skipped: the manual's width (neither mandoc nor man is installed)")
        return
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


failures, counts = [], {"ran": 0, "skipped": 0}
readme = readme_blocks(os.path.join(source, "README.md"))
man = man_blocks(os.path.join(source, "docs", "ruvo.1"))
for i, block in enumerate(readme):
    run_block(f"README example {i + 1}", block, failures, counts)
for i, block in enumerate(man):
    run_block(f"manual example {i + 1}", block, failures, counts)
man_width(os.path.join(source, "docs", "ruvo.1"), man, failures)
for f in failures:
    print("FAILED: " + f)
print(f"docs: {counts['ran']} example commands ran, {counts['skipped']} skipped, "
      f"{len(failures)} failed")
sys.exit(1 if failures or counts["ran"] == 0 else 0)
