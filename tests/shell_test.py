#!/usr/bin/env python3
"""The shell integration in the real shells, from an install of the build
into a scratch root: completions of ruvo in bash, zsh and fish, and the
palette switcher ruvo_palette in dash, bash, zsh and fish.

  - bash: the completion function called with COMP_WORDS set, and once
    through bash-completion's own loader;
  - fish: `complete -C`, with the installed files found through
    XDG_DATA_DIRS as a clean fish finds them;
  - zsh: typed into an interactive zsh in tmux, Tab pressed, the listing
    read off the screen.

Every case has its own deadline.  A shell (or tmux, or bash-completion)
that is missing fails the test, naming the Debian package to install.

    tests/shell_test.py BUILD_DIR SOURCE_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dump_reader
import procs  # noqa: E402
import tools  # noqa: E402

build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
WIDTHS = ["1", "2", "4", "8", "16", "32", "64", "128", "256", "512"]
failures = []
work = tempfile.mkdtemp(prefix="ruvo-shells-")
root = os.path.join(work, "root")
tree = os.path.join(root, "usr")
home = os.path.join(work, "home")
os.makedirs(home)
palettes_dir = os.path.join(tree, "share", "ruvo", "palettes")
switcher = os.path.join(tree, "share", "ruvo", "ruvo_palette.sh")


def env(**more):
    e = {"PATH": f"{tree}/bin:/usr/bin:/bin", "HOME": home, "LC_ALL": "C.UTF-8",
         "XDG_DATA_DIRS": f"{tree}/share", "TERM": "xterm-256color"}
    e.update(more)
    return e


def run(case, argv, limit=10, **more):
    """Standard output of argv, or None (and a failure) past its deadline."""
    try:
        r = procs.run(argv, capture_output=True, text=True, env=env(**more),
                           stdin=subprocess.DEVNULL, timeout=limit, cwd=work)
    except subprocess.TimeoutExpired:
        failures.append(f"{case}: no answer within {limit} s")
        return None
    if r.stderr.strip() and "ruvo_palette: no palette named" not in r.stderr:
        failures.append(f"{case}: it wrote to standard error: {r.stderr.strip()[:300]}")
    return r.stdout


def expect(case, got, want):
    if got != want:
        failures.append(f"{case}:\n  got  {got}\n  want {want}")


def needs(tool, package):
    return tools.needs(tool, package, failures)


def palette_names():
    return sorted(os.listdir(palettes_dir)) + ["default"]


# --- bash ------------------------------------------------------------------

def bash_complete(case, words, script_prelude=""):
    """What _ruvo (or _ruvo_palette_complete) offers for the last word."""
    completion = os.path.join(tree, "share", "bash-completion", "completions", "ruvo")
    quoted = " ".join("'" + w.replace("'", "'\\''") + "'" for w in words)
    func = "_ruvo_palette_complete" if words[0] == "ruvo_palette" else "_ruvo"
    script = (f". '{completion}'; . '{switcher}'; {script_prelude}\n"
              f"COMP_WORDS=({quoted}); COMP_CWORD={len(words) - 1}; {func}\n"
              "printf '%s\\n' \"${COMPREPLY[@]}\"")
    out = run(case, ["bash", "--norc", "--noprofile", "-c", script])
    return None if out is None else [l for l in out.split("\n") if l]


def bash_cases():
    if not needs("bash", "bash"):
        return
    expect("bash: -w offers the tiling widths", bash_complete("bash -w", ["ruvo", "-w", ""]), WIDTHS)
    expect("bash: -w16 -w offers them again", bash_complete("bash -w16 -w", ["ruvo", "-w16", "-w", ""]),
           WIDTHS)
    expect("bash: -r offers nothing", bash_complete("bash -r", ["ruvo", "-r", ""]), [])
    expect("bash: options, not -p or -g", bash_complete("bash -", ["ruvo", "-"]), ["-r", "-w", "--"])
    for words in (["ruvo", "LICENSE", "-"], ["ruvo", "--", "-"], ["ruvo", "-w", "8", "x", "-w"]):
        got = bash_complete("bash " + " ".join(words), words)
        if got is not None and any(w in got for w in ("-r", "-w", "--")):
            failures.append(f"bash: options offered after the operands began: {words} -> {got}")
    expect("bash: files", bash_complete("bash files", ["ruvo", "LIC"]), ["LICENSE"])
    expect("bash: palette names", bash_complete("bash ruvo_palette", ["ruvo_palette", ""]),
           palette_names())
    # As bash-completion loads it, by the command's name, from XDG_DATA_DIRS.
    if needs("/usr/share/bash-completion/bash_completion", "bash-completion"):
        out = run("bash-completion loads it", ["bash", "--norc", "--noprofile", "-c",
                  ". /usr/share/bash-completion/bash_completion; __load_completion ruvo; "
                  "complete -p ruvo"])
        expect("bash-completion loads it", (out or "").strip(), "complete -F _ruvo ruvo")


# --- fish ------------------------------------------------------------------

def fish_complete(case, line):
    out = run(case, ["fish", "-c", f"complete -C {shell_quote(line)}"],
              XDG_CONFIG_HOME=os.path.join(home, ".config"))
    return None if out is None else [l for l in out.split("\n") if l]


def shell_quote(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "\\'") + "'"


def fish_cases():
    if not needs("fish", "fish"):
        return
    got = fish_complete("fish -w", "ruvo -w ")
    if got is not None:
        expect("fish: -w offers the tiling widths", [l.split("\t")[0] for l in got], WIDTHS)
        if got and "\t" not in got[0]:
            failures.append(f"fish: the widths have no descriptions: {got}")
    expect("fish: -r offers nothing", fish_complete("fish -r", "ruvo -r "), [])
    got = fish_complete("fish -", "ruvo -")
    if got is not None:
        expect("fish: options, not -p or -g", sorted(l.split("\t")[0] for l in got), ["-r", "-w"])
    for line in ("ruvo LICENSE -", "ruvo -- -", "ruvo -w 8 x -"):
        got = fish_complete("fish " + line, line)
        if got:
            failures.append(f"fish: options offered after the operands began: {line!r} -> {got}")
    got = fish_complete("fish ruvo_palette", "ruvo_palette ")
    if got is not None:
        expect("fish: palette names", sorted(got), sorted(palette_names()))


# --- zsh, through tmux -----------------------------------------------------

def zsh_cases():
    if not (needs("zsh", "zsh") and needs("tmux", "tmux")):
        return
    socket = os.path.join(work, "tmux")
    tmux = ["tmux", "-S", socket, "-f", "/dev/null"]
    zdotdir = os.path.join(work, "zdotdir")
    os.makedirs(zdotdir)
    with open(os.path.join(zdotdir, ".zshrc"), "w") as f:
        f.write(f"fpath=('{tree}/share/zsh/vendor-completions' $fpath)\n"
                "autoload -Uz compinit && compinit -u -d \"$ZDOTDIR/.zcompdump\"\n"
                f". '{switcher}'\nPS1='> '\n")
    e = env(ZDOTDIR=zdotdir)
    procs.run(tmux + ["new-session", "-d", "-x", "120", "-y", "40", "zsh", "-i"],
                   env=e, cwd=work, check=True, timeout=10)
    try:
        def screen():
            return procs.run(tmux + ["capture-pane", "-p"], capture_output=True,
                                  text=True, timeout=10).stdout

        def until(case, test, limit=5):
            deadline = time.time() + limit
            while time.time() < deadline:
                text = screen()
                if test(text):
                    return text
                time.sleep(0.1)
            failures.append(f"zsh: {case}: not seen within {limit} s; the screen:\n{screen()}")
            return None

        if until("the prompt", lambda t: t.rstrip().endswith(">")) is None:
            return

        def tab(case, line, test):
            procs.run(tmux + ["send-keys", "C-u", "clear", "Enter"], timeout=10)
            until("a clear screen", lambda t: t.strip() == ">")
            procs.run(tmux + ["send-keys", "-l", line], timeout=10)
            procs.run(tmux + ["send-keys", "Tab"], timeout=10)
            return until(case, test)

        def listed(text, pattern):
            return re.findall(pattern, text, re.M)

        widths = r"^(\d+)\s+--\s"
        text = tab("-w offers the tiling widths", "ruvo -w ",
                   lambda t: len(listed(t, widths)) >= len(WIDTHS))
        if text is not None:
            expect("zsh: -w offers the tiling widths", sorted(listed(text, widths), key=int), WIDTHS)
        text = tab("-r shows the forms", "ruvo -r ", lambda t: "START-END or START+SIZE" in t)
        text = tab("options", "ruvo -", lambda t: "-w" in t and "bytes per pixel row" in t)
        if text is not None and re.search(r"^-[pg]\b", text, re.M):
            failures.append(f"zsh: -p or -g offered:\n{text}")
        # After a file name only file names: "-" matches none, so nothing
        # is listed (give zsh its moment, then look).
        text = tab("after a file name", "ruvo LICENSE -", lambda t: True)
        time.sleep(1)
        text = screen()
        if "bytes per pixel row" in text or "byte range" in text:
            failures.append(f"zsh: options offered after a file name:\n{text}")
        names = palette_names()
        text = tab("palette names", "ruvo_palette ",
                   lambda t: all(re.search(rf"\b{re.escape(n)}\b", t.split("\n", 1)[-1])
                                 for n in names))
    finally:
        procs.run(tmux + ["kill-server"], capture_output=True, timeout=10)


# --- the switcher ----------------------------------------------------------

SWITCH = {  # shell: (how to run it, how to print the variable or "unset")
    "dash": ("dash", f". '{switcher}'\n", 'printf "%s" "${RUVO_COLORS-unset}"'),
    "bash": ("bash", f". '{switcher}'\n", 'printf "%s" "${RUVO_COLORS-unset}"'),
    "zsh": ("zsh", f". '{switcher}'\n", 'printf "%s" "${RUVO_COLORS-unset}"'),
    "fish": ("fish", "", 'if set -q RUVO_COLORS; printf "%s" "$RUVO_COLORS"; else; printf unset; end'),
}


def switcher_cases():
    gray = open(os.path.join(palettes_dir, "gray")).read().rstrip("\n")
    viridis = open(os.path.join(palettes_dir, "viridis")).read().rstrip("\n")
    user = os.path.join(work, "xdg")
    os.makedirs(os.path.join(user, "ruvo", "palettes"))
    # A palette of the user's own, under an installed palette's name.
    with open(os.path.join(user, "ruvo", "palettes", "gray"), "w") as f:
        f.write(viridis + "\n")
    # One that ruvo refuses: a comment line.
    with open(os.path.join(user, "ruvo", "palettes", "broken"), "w") as f:
        f.write("# mine\n" + viridis + "\n")
    for shell, (exe, prelude, show) in SWITCH.items():
        if not needs(exe, shell):
            continue
        sep = "; " if shell == "fish" else "\n"
        for case, script, want, more in (
            ("a name", f"ruvo_palette gray{sep}{show}", gray, {}),
            ("default", f"ruvo_palette gray{sep}ruvo_palette default{sep}{show}", "unset", {}),
            ("the user's own first", f"ruvo_palette gray{sep}{show}", viridis,
             {"XDG_CONFIG_HOME": user}),
        ):
            out = run(f"{shell}: ruvo_palette, {case}", [exe, "-c", prelude + script], **more)
            if out is not None and out != want:
                failures.append(f"{shell}: ruvo_palette, {case}: RUVO_COLORS is "
                                f"{out[:40]!r}..., not {want[:40]!r}...")
        # A wrong name: a message, status 1, the palette in use kept.
        status = "$status" if shell == "fish" else "$?"
        script = (f"ruvo_palette viridis{sep}ruvo_palette grey{sep}echo \" {status}\"{sep}{show}")
        try:
            r = procs.run([exe, "-c", prelude + script], capture_output=True, text=True,
                               env=env(), timeout=10, cwd=work)
            expect(f"{shell}: ruvo_palette, a wrong name", (r.stderr, r.stdout),
                   ("ruvo_palette: no palette named grey\n", " 1\n" + viridis))
        except subprocess.TimeoutExpired:
            failures.append(f"{shell}: ruvo_palette, a wrong name: no answer within 10 s")
        # A palette file that ruvo refuses, and a word too many: refused
        # with ruvo's message or the usage, status 1, the palette kept.
        for case, call, message in (
            ("a broken palette", "ruvo_palette broken",
             "ruvo: error in RUVO_COLORS: '#' is not a valid hex colour\n"),
            ("a word too many", "ruvo_palette gray extra", "usage: ruvo_palette [name]\n"),
        ):
            script = f"ruvo_palette viridis{sep}{call}{sep}echo \" {status}\"{sep}{show}"
            try:
                r = procs.run([exe, "-c", prelude + script], capture_output=True, text=True,
                              env=env(XDG_CONFIG_HOME=user), timeout=10, cwd=work)
                expect(f"{shell}: ruvo_palette, {case}", (r.stderr, r.stdout),
                       (message, " 1\n" + viridis))
            except subprocess.TimeoutExpired:
                failures.append(f"{shell}: ruvo_palette, {case}: no answer within 10 s")
        # An alias named ruvo, as users make them: the switcher still finds
        # the program and its palettes as PATH does.
        if shell in ("bash", "zsh"):
            script = ("alias ruvo='ruvo -w 32'\n" + (f"shopt -s expand_aliases\n" if shell == "bash" else "")
                      + prelude + f"ruvo_palette gray\n{show}")
            out = run(f"{shell}: ruvo_palette, with an alias named ruvo", [exe, "-c", script])
            if out is not None and out != gray:
                failures.append(f"{shell}: ruvo_palette with an alias named ruvo: RUVO_COLORS is "
                                f"{out[:40]!r}..., not the installed gray")
        # Nothing of the switcher's own is left in the user's shell.
        if shell != "fish":
            out = run(f"{shell}: ruvo_palette's variables", [exe, "-c", prelude +
                      f"ruvo_palette gray\nruvo_palette >/dev/null\nset | grep '^_ruvo_palette_[a-z]*=' || true"])
            expect(f"{shell}: variables left by ruvo_palette", out, "")


def readme_sequences():
    """The switches of each example of the README, in order: the words
    after `$ ruvo_palette` in each indented block."""
    sequences, current = [], []
    for line in open(os.path.join(source, "README.md"), encoding="utf-8"):
        m = re.match(r"^    \$ ruvo_palette(?: (\S+))?\s*$", line)
        if m and m.group(1):
            current.append(m.group(1))
        elif not line.startswith("    ") and current:
            sequences.append(current)
            current = []
    if current:
        sequences.append(current)
    return sequences


def sequence_cases():
    """Every switch sequence of the README, and one that sets no palette
    between two that do, each run twice over in one shell: after each
    switch, its status and the palette in use are those the switches so
    far make."""
    sequences = readme_sequences()
    if not sequences:
        failures.append("switch sequences: the README has no example of ruvo_palette")
    sequences.append(["gray", "default", "gray", "no-such", "viridis", "default", "default"])
    names = set(os.listdir(palettes_dir))
    for shell, (exe, prelude, show) in SWITCH.items():
        if not needs(exe, shell):
            continue
        sep = "; " if shell == "fish" else "\n"
        status = "$status" if shell == "fish" else "$?"
        for sequence in sequences:
            calls = sequence * 2
            script = prelude + "".join(
                f"ruvo_palette {name} 2>/dev/null{sep}echo \"@@{status}\"{sep}{show}{sep}"
                for name in calls)
            out = run(f"{shell}: switches {' '.join(calls)}", [exe, "-c", script])
            if out is None:
                continue
            got = out.split("@@")[1:]
            colours = "unset"
            for i, name in enumerate(calls):
                if name == "default":
                    colours, code = "unset", 0
                elif name in names:
                    colours = open(os.path.join(palettes_dir, name)).read().rstrip("\n")
                    code = 0
                else:
                    code = 1
                want = f"{code}\n{colours}"
                if i >= len(got) or got[i] != want:
                    shown = got[i][:40] if i < len(got) else "nothing"
                    failures.append(f"{shell}: switches {' '.join(calls)}: after switch {i + 1}"
                                    f" ({name}) it shows {shown!r}, not {want[:40]!r}")
                    break


def listing_cases():
    """The list: every palette, each with a swatch that ruvo drew in it,
    the one in use marked; lines of at most 80 columns."""
    default = dump_reader.default_palette(source)
    for shell, (exe, prelude, _) in SWITCH.items():
        if not shutil.which(exe):
            continue  # reported above
        sep = "; " if shell == "fish" else "\n"
        out = run(f"{shell}: the list", [exe, "-c", f"{prelude}ruvo_palette on-dark{sep}ruvo_palette"])
        if out is None:
            continue
        lines = out.split("\n")
        names = [(m.group(1), m.group(2)) for m in
                 (re.match(r"^([ *]) (\S+)", l) for l in lines) if m]
        expect(f"{shell}: the list names", sorted(n for _, n in names), sorted(palette_names()))
        expect(f"{shell}: the mark", [n for mark, n in names if mark == "*"], ["on-dark"])
        for i, l in enumerate(lines):
            visible = re.sub(r"\033\[[0-9;]*m", "", l)
            if len(visible) > 80:
                failures.append(f"{shell}: a line of {len(visible)} columns in the list")
        for i, l in enumerate(lines):
            m = re.match(r"^([ *]) (\S+)", l)
            if not m:
                continue
            name = m.group(2)
            table = default if name == "default" else \
                dump_reader.palette_of(open(os.path.join(palettes_dir, name)).read(), source)
            swatch = "\n".join(lines[i + 1:i + 3])
            wrong = dump_reader.compare(swatch + "\n", 64, table, [(None, {b: b for b in range(256)})])
            if wrong:
                failures.append(f"{shell}: the swatch of {name} is not that palette: {wrong}")


def main():
    r = procs.run(["cmake", "--install", build, "--prefix", "/usr"], capture_output=True,
                       text=True, env=dict(os.environ, DESTDIR=root), timeout=60)
    if r.returncode != 0:
        failures.append(f"cmake --install failed: {r.stderr}")
        return
    shutil.copy(os.path.join(source, "LICENSE"), os.path.join(work, "LICENSE"))
    bash_cases()
    fish_cases()
    zsh_cases()
    switcher_cases()
    sequence_cases()
    listing_cases()


tools.run_and_report("shells", main, failures, work)
