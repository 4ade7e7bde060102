#!/usr/bin/env python3
"""ruvo-preview, and the preview recipes of the README and the manual run
as they are written there, with the real programs:

  - panes of 10 to 600 columns and 1 to 40 lines, under dash and bash's
    POSIX mode: byte for byte `ruvo -w W -r 0+N FILE`, W the widest
    seamless width that fits;
  - where the pane's size comes from, arguments past the third, and a
    pane too narrow for any line;
  - what is not a regular file (a directory, a FIFO, a device, a socket,
    a missing file), each within its own deadline;
  - fzf, lf and vifm in tmux (a server of the test's own, default
    settings, two window sizes): every row of the preview whole under its
    own label, labels in steps of 2 x W, the pane filled, and where the
    host passes 24-bit colour, every cell's colours those of its bytes;
    fzf's memory with a 1 GiB file under the cursor;
  - git diff with the textconv driver, less -RS and paste.

A program that is missing fails the test, naming its Debian package.

    tests/preview_test.py BUILD_DIR SOURCE_DIR
"""
import os
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dump_reader  # noqa: E402
import procs  # noqa: E402
import tools  # noqa: E402

build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
ruvo = os.path.join(build, "ruvo")
preview = os.path.join(build, "ruvo-preview")
failures = []
work = tempfile.mkdtemp(prefix="ruvo-preview-")
PALETTE = dump_reader.default_palette(source)


def needs(tool, package):
    return tools.needs(tool, package, failures)


# The hosts' own temporary files (vifm's and nnn's FIFOs, which a killed
# host leaves behind) go into the scratch folder, which goes at the end.
os.makedirs(os.path.join(work, "tmp"))


def clean_env(**more):
    """A user's environment, with none of the pane's size in it."""
    e = {"PATH": f"{build}:/usr/bin:/bin", "HOME": os.path.join(work, "home"),
         "LC_ALL": "C.UTF-8", "TERM": "xterm-256color", "TMPDIR": os.path.join(work, "tmp")}
    e.update(more)
    return e


def run(argv, limit=5, **env):
    """(status, stdout bytes) of argv with no terminal, or None past its
    deadline (a failure is noted)."""
    try:
        r = procs.run(argv, capture_output=True, timeout=limit, env=clean_env(**env),
                      stdin=subprocess.DEVNULL, cwd=work)
    except subprocess.TimeoutExpired:
        failures.append(f"{' '.join(argv)}: still running after {limit} s")
        return None
    return r.returncode, r.stdout, r.stderr


def widest(columns):
    """The widest seamless width whose line fits: W + 9 <= columns."""
    w = 512
    while w > 1 and w + 9 > columns:
        w //= 2
    return w if w + 9 <= columns else None


def expect_dump(case, got, columns, lines, path, shell="dash", **env):
    w = widest(columns)
    want = run([ruvo, "-w", str(w), "-r", f"0+{lines * 2 * w}", path])
    if got is None or want is None:
        return
    if got[0] != 0 or got[2]:
        failures.append(f"{case}: status {got[0]}, stderr {got[2][:200]!r}")
    if got[1] != want[1]:
        failures.append(f"{case}: {len(got[1])} bytes, not the {len(want[1])} of "
                        f"ruvo -w {w} -r 0+{lines * 2 * w}")


def sizes():
    big = os.path.join(work, "big.bin")
    with open(big, "wb") as f:
        f.write(os.urandom(1 << 20))
    small = os.path.join(work, "small.bin")
    with open(small, "wb") as f:
        f.write(os.urandom(300))
    for shell in ("dash", "bash"):
        if not needs(shell, shell):
            continue
        argv0 = [shell] if shell == "dash" else [shell, "--posix"]
        for columns in (10, 11, 17, 18, 25, 26, 41, 42, 72, 73, 74, 136, 137, 138, 264, 265, 521,
                        600):
            for lines in (1, 2, 24, 40):
                got = run(argv0 + [preview, big, str(columns), str(lines)])
                expect_dump(f"{shell}: {columns} x {lines}", got, columns, lines, big)
        got = run(argv0 + [preview, small, "80", "40"])
        expect_dump(f"{shell}: a file smaller than the pane", got, 80, 40, small)

    # Where the size comes from: arguments, then fzf's, then COLUMNS and
    # LINES, then 80 x 24 (no terminal here); a value that is no whole
    # number above 0 is passed over.
    for case, args, env, columns, lines in (
        ("arguments first", ["137", "3"], {"FZF_PREVIEW_COLUMNS": "30", "COLUMNS": "20"}, 137, 3),
        ("lf's five arguments", ["137", "3", "60", "1"], {}, 137, 3),
        ("fzf's size", [], {"FZF_PREVIEW_COLUMNS": "41", "FZF_PREVIEW_LINES": "5",
                            "COLUMNS": "200", "LINES": "9"}, 41, 5),
        ("COLUMNS and LINES", [], {"COLUMNS": "73", "LINES": "2"}, 73, 2),
        ("columns given, lines from LINES", ["300"], {"LINES": "4"}, 300, 4),
        ("no size at all", [], {}, 80, 24),
        ("sizes that are no sizes", ["0", "-5"], {"FZF_PREVIEW_COLUMNS": "wide",
                                                  "COLUMNS": "26", "LINES": "3"}, 26, 3),
    ):
        got = run(["dash", preview, big] + args, **env)
        expect_dump(f"size: {case}", got, columns, lines, big)

    # A file whose name looks like an option.
    dashed = os.path.join(work, "-w")
    shutil.copy(small, dashed)
    got = run(["dash", preview, "-w", "26", "2"])
    expect_dump("a file named -w", got, 26, 2, dashed)

    # No line fits a pane narrower than 10 columns: nothing at all.
    for columns in (1, 9):
        got = run(["dash", preview, big, str(columns), "5"])
        if got is not None and (got[1] or got[0] != 1):
            failures.append(f"a pane of {columns} columns: status {got[0]}, output {got[1][:40]!r}")


def not_files():
    folder = os.path.join(work, "folder")
    os.makedirs(folder)
    fifo = os.path.join(work, "fifo")
    os.mkfifo(fifo)
    sock_path = os.path.join(work, "sock")
    s = socket.socket(socket.AF_UNIX)
    s.bind(sock_path)
    unreadable = os.path.join(work, "unreadable")
    with open(unreadable, "wb") as f:
        f.write(b"secret")
    os.chmod(unreadable, 0)
    cases = [("a directory", folder), ("a FIFO", fifo), ("a device", "/dev/zero"),
             ("a socket", sock_path), ("a missing file", os.path.join(work, "missing")),
             ("a dangling link", os.path.join(work, "dangling"))]
    os.symlink(os.path.join(work, "nowhere"), os.path.join(work, "dangling"))
    if os.geteuid() != 0:
        cases.append(("an unreadable file", unreadable))
    try:
        for case, path in cases:
            for columns in (12, 80):
                got = run(["dash", preview, path, str(columns), "10"], limit=2)
                if got is None:
                    continue
                status, out, err = got
                lines = out.decode("utf-8", "replace").split("\n")
                if status != 1 or len(lines) != 2 or lines[1] != "" or not lines[0] or \
                        len(lines[0]) > columns or "\033" in lines[0] or err:
                    failures.append(f"{case} in {columns} columns: status {status}, "
                                    f"output {out[:100]!r}, stderr {err[:100]!r}")
    finally:
        s.close()


# --- real programs in tmux ---------------------------------------------------

SGR = re.compile(r"\033\[([0-9;:]*)m")


def screen_of(text):
    """`capture-pane -e -p` text as rows of (character, fg, bg), as a
    terminal reads it; a colour is (r, g, b), an index, or None."""
    rows, fg, bg = [[]], None, None
    i = 0
    while i < len(text):
        if text[i] == "\n":
            rows.append([])
            i += 1
            continue
        m = SGR.match(text, i)
        if m:
            p = [int(x) if x else 0 for x in re.split("[;:]", m.group(1))] or [0]
            k = 0
            while k < len(p):
                v = p[k]
                if v == 0:
                    fg = bg = None
                elif v in (38, 48) and k + 1 < len(p) and p[k + 1] == 2:
                    colour = tuple(p[k + 2:k + 5])
                    fg, bg = (colour, bg) if v == 38 else (fg, colour)
                    k += 4
                elif v in (38, 48) and k + 1 < len(p) and p[k + 1] == 5:
                    fg, bg = (p[k + 2], bg) if v == 38 else (fg, p[k + 2])
                    k += 2
                elif 30 <= v <= 37 or 90 <= v <= 97:
                    fg = v
                elif 40 <= v <= 47 or 100 <= v <= 107:
                    bg = v
                elif v == 39:
                    fg = None
                elif v == 49:
                    bg = None
                k += 1
            i = m.end()
            continue
        if text[i] == "\033":  # another sequence: not a character
            i += 2
            continue
        rows[-1].append((text[i], fg, bg))
        i += 1
    return rows


LABEL = re.compile(r" *([0-9a-f]{4,8}) (\u2580+)")


def dump_rows(screen):
    """[(label, [(fg, bg), ...])] for each screen row that shows a line of
    a dump: a label, a blank and half blocks."""
    found = []
    for row in screen:
        text = "".join(c for c, _, _ in row)
        m = LABEL.search(text)
        if m:
            cells = row[m.start(2):m.end(2)]
            found.append((int(m.group(1), 16), [(fg, bg) for _, fg, bg in cells]))
    return found


def judge(case, screen, data, width, lines, exact):
    """Every row whole under its own label, in steps of 2 x width from 0,
    `lines` of them; with `exact`, every cell's colours those of its
    bytes."""
    rows = dump_rows(screen)
    if not rows:
        text = "\n".join("".join(c for c, _, _ in r) for r in screen)
        failures.append(f"{case}: no row of a dump on the screen:\n{text[:1500]}")
        return
    for n, (label, cells) in enumerate(rows):
        if label != n * 2 * width:
            failures.append(f"{case}: row {n + 1} is labelled {label:#x}, not {n * 2 * width:#x}")
            return
        if len(cells) != width:
            failures.append(f"{case}: row {n + 1} shows {len(cells)} cells, not {width}")
            return
        for i, (fg, bg) in enumerate(cells):
            if not exact:
                break
            up = dump_reader.rgb(PALETTE[data[label + i]])
            low = dump_reader.rgb(PALETTE[data[label + width + i]])
            if (fg, bg) != (up, low):
                failures.append(f"{case}: row {n + 1}, cell {i}: {fg}/{bg}, not {up}/{low}")
                return
    if len(rows) != lines:
        failures.append(f"{case}: {len(rows)} rows shown, not the pane's {lines}")


class Tmux:
    """A tmux server of the test's own, on a socket in the scratch folder."""

    def __init__(self, name, columns, lines):
        self.socket = os.path.join(work, f"tmux-{name}")
        self.base = ["tmux", "-f", "/dev/null", "-S", self.socket]
        self.size = (columns, lines)

    def start(self, command, env):
        # The pane's command runs in $SHELL; a system user's login shell
        # runs nothing.
        script = "export " + " ".join(f"{k}={shlex_quote(v)}" for k, v in env.items()) + "; " + \
            command
        procs.run(self.base + ["new-session", "-d", "-x", str(self.size[0]), "-y",
                               str(self.size[1]), script], timeout=10,
                  env=dict(clean_env(), SHELL="/bin/sh"), check=True)

    def keys(self, *keys):
        procs.run(self.base + ["send-keys"] + list(keys), timeout=5, check=True)

    def screen(self):
        r = procs.run(self.base + ["capture-pane", "-e", "-p"], timeout=5, capture_output=True)
        return r.stdout.decode("utf-8", "replace")

    def pane_pid(self):
        r = procs.run(self.base + ["display-message", "-p", "#{pane_pid}"], timeout=5,
                      capture_output=True, text=True)
        return int(r.stdout.strip())

    def wait_for(self, what, test, limit=10):
        """The screen once test(screen) holds and it has stopped changing
        (the host may still be drawing its last row), within `limit` s."""
        deadline = time.monotonic() + limit
        last = None
        while True:
            text = self.screen()
            if test(text) and text == last:
                return text
            last = text if test(text) else None
            if time.monotonic() > deadline:
                failures.append(f"{what}: not on the screen, or not still, within {limit} s:\n"
                                f"{re.sub(SGR, '', text)[:1500]}")
                return None
            time.sleep(0.2 if last is not None else 0.1)

    def stop(self):
        """Ends the server and, with it, every pane's process group: a host
        such as vifm may outlive the hang-up that the server's end sends."""
        r = procs.run(self.base + ["list-panes", "-a", "-F", "#{pane_pid}"], timeout=5,
                      capture_output=True, text=True)
        procs.run(self.base + ["kill-server"], timeout=5, capture_output=True)
        for pane in r.stdout.split():
            procs.kill_group(int(pane))


def shlex_quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


def full_rows(want_rows):
    """True once the screen shows at least want_rows rows of a dump."""
    return lambda text: len(dump_rows(screen_of(text))) >= want_rows


def recipe(text, pattern):
    """The line of the README that holds the pattern, as it stands there."""
    for line in text.splitlines():
        if re.search(pattern, line):
            return line.strip().lstrip("$ ").strip()
    failures.append(f"the README has no recipe matching {pattern!r}")
    return None


def descendants(pid):
    children = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open(f"/proc/{name}/stat") as f:
                    s = f.read()
                children.setdefault(int(s[s.rindex(")") + 2:].split()[1]), []).append(int(name))
            except OSError:
                pass
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(children.get(p, []))
    return out


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0


def hosts(readme, manual):
    d = os.path.join(work, "files")
    os.makedirs(d)
    data = os.urandom(1 << 20)
    with open(os.path.join(d, "big.bin"), "wb") as f:
        f.write(data)
    config = os.path.join(work, "config")
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    env = {"PATH": f"{build}:/usr/bin:/bin", "HOME": home, "XDG_CONFIG_HOME": config,
           "XDG_DATA_HOME": os.path.join(home, ".local", "share"), "LC_ALL": "C.UTF-8",
           "COLORTERM": "truecolor", "TMPDIR": os.path.join(work, "tmp")}
    fzf = recipe(readme, r"^\s*\$ fzf --preview")
    lf_line = recipe(readme, r"^\s*set previewer ")
    vifm_line = recipe(readme, r"^\s*fileviewer ")
    if None in (fzf, lf_line, vifm_line):
        return
    for line, where in ((lf_line, manual), (vifm_line, manual), (fzf, manual)):
        if line not in manual:
            failures.append(f"the manual does not give the recipe {line!r}")
    os.makedirs(os.path.join(config, "lf"))
    with open(os.path.join(config, "lf", "lfrc"), "w") as f:
        f.write(lf_line + "\n")
    os.makedirs(os.path.join(config, "vifm"))
    with open(os.path.join(config, "vifm", "vifmrc"), "w") as f:
        f.write(vifm_line + "\n")
    # (columns, lines) of the window; what each host leaves for its
    # preview: fzf a half less its border and padding, lf three sixths,
    # vifm a half less its borders.
    for columns, lines in ((120, 40), (200, 50)):
        size = f"{columns}x{lines}"
        half = columns // 2
        for host, package, command, pane, keys, exact in (
            ("fzf", "fzf", fzf, (half - 4, lines - 2), (), True),
            # lf runs as a client of a server of its own, which outlives
            # it: -single keeps it to one process.
            ("lf", "lf", "lf -single", (columns // 2, lines - 2), (), True),
            # vifm 0.12 turns the colours into its own 256.
            ("vifm", "vifm", "vifm . .", (half - 4, lines - 5), ("j", ":view", "Enter"), False),
        ):
            if not needs(host, package):
                continue
            case = f"{host} in {size}"
            width = widest(pane[0])
            tmux = Tmux(f"{host}-{size}", columns, lines)
            try:
                tmux.start(f"cd {shlex_quote(d)} && {command}", env)
                if keys:
                    time.sleep(0.5)  # vifm must have drawn before it takes keys
                    tmux.wait_for(f"{case}: the file list", lambda t: "big.bin" in t)
                    tmux.keys(*keys)
                text = tmux.wait_for(case, full_rows(pane[1]))
                if text is not None:
                    judge(case, screen_of(text), data, width, pane[1], exact)
            finally:
                tmux.stop()

    # fzf with a 1 GiB file under the cursor: only the preview's bytes are
    # read, so fzf holds little.
    if needs("fzf", "fzf"):
        big = os.path.join(work, "huge")
        os.makedirs(big)
        with open(os.path.join(big, "huge.bin"), "wb") as f:
            f.truncate(1 << 30)
        tmux = Tmux("fzf-memory", 120, 40)
        try:
            tmux.start(f"cd {shlex_quote(big)} && {fzf}", env)
            if tmux.wait_for("fzf with a 1 GiB file", full_rows(38)) is not None:
                time.sleep(1)  # room for it to grow, were it to
                most = max(rss_mib(p) for p in descendants(tmux.pane_pid()))
                if most >= 200:
                    failures.append(f"fzf with a 1 GiB file under the cursor: {most:.0f} MiB")
        finally:
            tmux.stop()

    # nnn's plugin key and ranger's key, each paging the file through less:
    # ruvo's own lines, 64 cells under each label, a screen of them.
    plug = re.search(r"export NNN_PLUG='(.*)'", readme)
    ranger_map = re.search(r"`(map X shell [^`]*)`", readme)
    for host, package, setup, command, keys in (
        ("nnn", "nnn", None, "nnn -P x", ()),  # -P x runs the plugin as ;x does
        ("ranger", "ranger", ("ranger", "rc.conf"), "ranger", ("X",)),
    ):
        if not needs(host, package):
            continue
        if host == "nnn" and not plug or host == "ranger" and not ranger_map:
            failures.append(f"the README has no recipe for {host}")
            continue
        host_env = dict(env)
        if host == "nnn":
            host_env["NNN_PLUG"] = plug.group(1)
        else:
            os.makedirs(os.path.join(config, *setup[:1]), exist_ok=True)
            with open(os.path.join(config, *setup), "w") as f:
                f.write(ranger_map.group(1).replace("\\|", "|") + "\n")
        tmux = Tmux(host, 120, 40)
        try:
            tmux.start(f"cd {shlex_quote(d)} && {command}", host_env)
            if keys:
                tmux.wait_for(f"{host}: the file list", lambda t: "big.bin" in t)
                time.sleep(0.5)  # drawn is not yet ready for keys
                tmux.keys(*keys)
            text = tmux.wait_for(f"{host} paging the file", full_rows(39))
            if text is not None:
                judge(f"{host} paging the file", screen_of(text), data, 64, 39, True)
        finally:
            # nnn makes its FIFO in /tmp whatever TMPDIR says, named after
            # its pid, and leaves it when it is killed.
            try:
                nnn_pipes = [f"/tmp/nnn-pipe.{p}" for p in descendants(tmux.pane_pid())] \
                    if host == "nnn" else []
            except ValueError:  # no server: it did not start
                nnn_pipes = []
            tmux.stop()
            for pipe in nnn_pipes:
                if os.path.exists(pipe) and os.stat(pipe).st_uid == os.geteuid():
                    os.unlink(pipe)

    # ruvo-preview run in a shell, with no size given: the terminal's, less
    # a line for the prompt, and every row stays on the screen.
    tmux = Tmux("terminal-size", 100, 30)
    try:
        tmux.start(f"cd {shlex_quote(d)} && ruvo-preview big.bin; sleep 30", env)
        text = tmux.wait_for("ruvo-preview in a 100 x 30 terminal", full_rows(29))
        if text is not None:
            judge("ruvo-preview in a 100 x 30 terminal", screen_of(text), data, 64, 29, True)
    finally:
        tmux.stop()

    # less -RS: rows wider than the screen are cut at its edge, one a line
    # (less keeps the screen's last column free: 120 - 9 - 1 cells).
    less = recipe(readme, r"^\s*\$ ruvo -w 128 file \| less -RS$")
    if less and needs("less", "less"):
        tmux = Tmux("less", 120, 40)
        try:
            tmux.start(f"cd {shlex_quote(d)} && " + less.replace("file", "big.bin"), env)
            text = tmux.wait_for("less -RS", full_rows(39))
            if text is not None:
                rows = dump_rows(screen_of(text))
                wrong = [(r[0], len(r[1])) for n, r in enumerate(rows)
                         if r[0] != n * 256 or len(r[1]) != 110]
                if wrong or len(rows) != 39:
                    failures.append(f"less -RS: {len(rows)} rows, not 39; rows not labelled in "
                                    f"steps of 256 or not of 110 cells: {wrong[:3]}")
        finally:
            tmux.stop()


def git_diff(readme, manual):
    """The README's textconv driver: git diff shows the dumps' lines."""
    if not needs("git", "git"):
        return
    lines = [l.strip()[2:] for l in readme.splitlines()
             if re.match(r"^\s*\$ (echo .*gitattributes|git config diff\.)", l)]
    if len(lines) != 2:
        failures.append(f"the README's git recipe: {len(lines)} lines, not 2")
        return
    for l in lines:
        if l not in manual:
            failures.append(f"the manual does not give the recipe {l!r}")
    repo = os.path.join(work, "repo")
    os.makedirs(repo)
    old = bytearray(os.urandom(4096))
    new = bytearray(old)
    new[2000:2010] = b"\0" * 10
    env = clean_env(GIT_CONFIG_NOSYSTEM="1", GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@t",
                    GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@t", GIT_PAGER="cat")
    script = "set -e\ngit init -q .\n" + "\n".join(lines) + "\n"
    with open(os.path.join(repo, "data.bin"), "wb") as f:
        f.write(old)
    script += "git add -A\ngit commit -qm old\n"
    try:
        r = procs.run(["sh", "-c", script], cwd=repo, env=env, timeout=20, capture_output=True)
        if r.returncode != 0:
            failures.append(f"the git recipe: {r.stderr.decode()[:400]}")
            return
        with open(os.path.join(repo, "data.bin"), "wb") as f:
            f.write(new)
        r = procs.run(["git", "diff"], cwd=repo, env=env, timeout=20, capture_output=True)
    except subprocess.TimeoutExpired:
        failures.append("the git recipe: still running after 20 s")
        return
    out = r.stdout.decode("utf-8", "replace").splitlines()
    want_old = run([ruvo, os.path.join(repo, "data.bin")])  # the new file's dump
    removed = [l[1:] for l in out if l.startswith("-") and not l.startswith("---")]
    added = [l[1:] for l in out if l.startswith("+") and not l.startswith("+++")]
    new_lines = want_old[1].decode().splitlines() if want_old else []
    # 2000 to 2009 lie in the line labelled 0780 (1920 to 2047).
    if not added or not removed or any(l not in new_lines for l in added) or \
            not any(l.startswith("    0780 ") for l in added):
        failures.append(f"git diff with the textconv driver: {len(removed)} lines out, "
                        f"{len(added)} in:\n" + "\n".join(out[:12])[:1200])


def side_by_side(readme, manual):
    """The README's paste line: each line the two dumps' lines, a blank
    between them."""
    first = recipe(readme, r"^\s*\$ ruvo .*> old\.txt$")
    line = recipe(readme, r"^\s*\$ .*\bpaste\b")
    if first is None or line is None:
        return
    for l in (first, line):
        if l not in manual:
            failures.append(f"the manual does not give the recipe {l!r}")
    line = first + "\n" + line
    d = os.path.join(work, "paste")
    os.makedirs(d)
    for name, size in (("old.bin", 3000), ("new.bin", 2000)):
        with open(os.path.join(d, name), "wb") as f:
            f.write(os.urandom(size))
    r = procs.run(["sh", "-c", line], cwd=d, env=clean_env(), timeout=10, capture_output=True)
    dumps = [run([ruvo, "-w", "32", os.path.join(d, n)]) for n in ("old.bin", "new.bin")]
    if r.returncode != 0 or None in dumps:
        failures.append(f"{line}: status {r.returncode}, {r.stderr[:200]!r}")
        return
    a, b = (x[1].decode().split("\n")[:-1] for x in dumps)
    b += [""] * (len(a) - len(b))
    want = "".join(f"{x} {y}\n" for x, y in zip(a, b))
    if r.stdout.decode() != want:
        failures.append(f"{line}: the lines are not the two dumps' lines side by side")


def main():
    if not needs("tmux", "tmux"):
        return
    readme = open(os.path.join(source, "README.md"), encoding="utf-8").read()
    manual = "".join(open(os.path.join(source, "docs", page), encoding="utf-8").read()
                     for page in ("ruvo-preview.1", "ruvo.1"))
    manual = manual.replace("\\(dq", '"').replace("\\(aq", "'").replace("\\-", "-")
    sizes()
    not_files()
    hosts(readme, manual)
    git_diff(readme, manual)
    side_by_side(readme, manual)


tools.run_and_report("preview", main, failures, work)
