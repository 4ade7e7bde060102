#!/usr/bin/env python3
"""The routes a user installs ruvo by, each checked from a clean shell as
the user's shell starts (no settings of the user's):

  - the default prefix (/usr/local), installed for real inside a private
    mount namespace (a tmpfs over /usr/local, an overlay over fish's own
    folders), so that the machine is not touched: zsh after compinit with
    its default fpath, fish with no XDG_DATA_DIRS and bash through
    bash-completion's loader complete ruvo, and fish has ruvo_palette.
    Needs root; without it the case says "not run" and the test is
    reported as skipped (status 77), never passed.
  - --prefix ~/.local, with a scratch HOME: the same shells (zsh with the
    one line the README gives), and a palette of the user's own that the
    install and the uninstall leave as it was and that still wins.
  - the default prefix where fish's folders are FreeBSD's (stand-in
    pkg-config and fish programs say so), and where neither program is
    there: the fish files stay inside the prefix.
  - an install from a build folder that lacks files: nothing written.
  - an install over a file that a package owns: refused, nothing written
    (dpkg-query is asked; a stand-in answers here).
  - an uninstall without the rights to remove (as root: run as nobody):
    status 1, and a second one with the rights finishes the job.

    tests/install_routes.py BUILD_DIR SOURCE_DIR
"""
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import procs  # noqa: E402
import tools  # noqa: E402

build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
failures = []
not_run = []
work = tempfile.mkdtemp(prefix="ruvo-routes-")
os.chmod(work, 0o755)  # nobody must reach the record and the scratch root


def sh(case, script, limit=120, env=None, expect_status=0):
    """Runs a bash script; a failure is noted with its output."""
    try:
        r = procs.run(["bash", "-c", script], capture_output=True, text=True, timeout=limit,
                      env=env or dict(os.environ), cwd=work, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        failures.append(f"{case}: no answer within {limit} s")
        return None
    if expect_status is not None and r.returncode != expect_status:
        failures.append(f"{case}: status {r.returncode}, not {expect_status}:\n"
                        f"{r.stdout[-1500:]}{r.stderr[-1500:]}")
    return r


# The checks a clean shell of each kind makes, printed as KEY=VALUE lines.
SHELLS = r'''
zsh_fpath=${ZSH_FPATH_LINE:-}
printf 'zsh=%s\n' "$(zsh -f -c "$zsh_fpath
    autoload -Uz compinit; compinit -u -d \"\$HOME/.zcompdump\"; print \${_comps[ruvo]}")"
printf 'fish=%s\n' "$(env -u XDG_DATA_DIRS fish -c 'complete -C "ruvo -w 12"' | head -1 | cut -f1)"
printf 'fish_fn=%s\n' "$(env -u XDG_DATA_DIRS fish -c 'type -q ruvo_palette; and echo found')"
printf 'bash=%s\n' "$(bash -c '. /usr/share/bash-completion/bash_completion
    _completion_loader ruvo 2>/dev/null; complete -p ruvo 2>/dev/null')"
'''
WANT = {"zsh": "_ruvo", "fish": "128", "fish_fn": "found", "bash": "complete -F _ruvo ruvo"}


def shells_find_ruvo(case, out):
    got = dict(l.split("=", 1) for l in out.splitlines() if "=" in l)
    for key, want in WANT.items():
        if got.get(key) != want:
            failures.append(f"{case}: {key} gives {got.get(key)!r}, not {want!r}")


def needs(tool, package):
    return tools.needs(tool, package, failures)


def default_prefix():
    case = "default prefix"
    if os.geteuid() != 0:
        not_run.append(f"{case}: needs root, for a private mount namespace over /usr/local")
        return
    if not shutil.which("unshare"):
        failures.append(f"{case}: not run: unshare is missing; install the Debian package util-linux")
        return
    upper, lower_work, home = (os.path.join(work, d) for d in ("upper", "overlay-work", "home"))
    for d in (upper, lower_work, home):
        os.makedirs(d)
    script = f'''set -e
mount -t tmpfs tmpfs /usr/local
mount -t overlay overlay -o lowerdir=/usr/share/fish,upperdir={upper},workdir={lower_work} /usr/share/fish
cmake --install '{build}' >/dev/null
export HOME='{home}' PATH=/usr/local/bin:/usr/bin:/bin
{SHELLS}
cmake --build '{build}' --target uninstall >/dev/null
printf 'left=%s\\n' "$(find /usr/local -mindepth 1 | head -3)"
printf 'fish_left=%s\\n' "$(ls /usr/share/fish/vendor_completions.d /usr/share/fish/vendor_functions.d | grep ruvo)"
'''
    r = sh(case, f"unshare -m bash -c {shlex.quote(script)}")
    if r is None or r.returncode != 0:
        return
    shells_find_ruvo(case, r.stdout)
    got = dict(l.split("=", 1) for l in r.stdout.splitlines() if "=" in l)
    if got.get("left") or got.get("fish_left"):
        failures.append(f"{case}: the uninstall left {got.get('left')} {got.get('fish_left')}")


def home_prefix():
    case = "--prefix ~/.local"
    home = os.path.join(work, "user")
    mine = os.path.join(home, ".config", "ruvo", "palettes")
    os.makedirs(mine)
    gray = open(os.path.join(source, "palettes", "gray")).read()
    viridis = open(os.path.join(source, "palettes", "viridis")).read()
    with open(os.path.join(mine, "gray"), "w") as f:
        f.write(viridis)  # the user's own, under an installed palette's name
    env = dict(os.environ, HOME=home, PATH=f"{home}/.local/bin:/usr/bin:/bin")
    env.pop("XDG_DATA_DIRS", None)
    env.pop("XDG_CONFIG_HOME", None)
    readme = open(os.path.join(source, "README.md")).read()
    line = next((l.strip() for l in readme.splitlines() if l.strip().startswith("fpath=(")), None)
    if line is None:
        failures.append(f"{case}: the README gives no fpath line for zsh")
        line = ""
    env["ZSH_FPATH_LINE"] = line
    r = sh(case, f'''set -e
cmake --install '{build}' --prefix "$HOME/.local" >/dev/null
{SHELLS}
. "$HOME/.local/share/ruvo/ruvo_palette.sh"
ruvo_palette gray
printf 'palette=%s\\n' "$(printf '%s' "$RUVO_COLORS" | head -1)"
cmake --build '{build}' --target uninstall >/dev/null
printf 'left=%s\\n' "$(test -e "$HOME/.local" && find "$HOME/.local" | head -3)"
''', env=env)
    if r is None or r.returncode != 0:
        return
    shells_find_ruvo(case, r.stdout)
    got = dict(l.split("=", 1) for l in r.stdout.splitlines() if "=" in l)
    if got.get("palette") != viridis.split()[0]:
        failures.append(f"{case}: the user's own gray did not win: {got.get('palette')!r}")
    if got.get("left"):
        failures.append(f"{case}: the uninstall left {got.get('left')} (the install made ~/.local)")
    if open(os.path.join(mine, "gray")).read() != viridis:
        failures.append(f"{case}: the user's own palette was changed")
    if gray == viridis:
        failures.append(f"{case}: the palettes to tell apart are the same")


def fish_folders_as_the_system_says():
    """The default prefix where fish's folders are FreeBSD's: stand-in
    pkg-config and fish programs that say /usr/local/share/fish, one or
    the other alone, and neither at all.  Each time the fish files go to
    /usr/local/share/fish, inside the prefix, and nothing is written
    outside it: not into /usr/share/fish, which no fish there owns."""
    case = "fish's folders"
    if os.geteuid() != 0:
        not_run.append(f"{case}: needs root, for a private mount namespace over /usr/local")
        return
    bsd = "/usr/local/share/fish"
    stand_ins = {
        "pkg-config": f'#!/bin/sh\n[ "$3" = fish ] || exit 1\n'
                      f'case $2 in completionsdir) echo {bsd}/vendor_completions.d ;;\n'
                      f'functionsdir) echo {bsd}/vendor_functions.d ;; *) exit 1 ;; esac\n',
        "fish": f'#!/bin/sh\nprintf "%s\\n" "$HOME/.config/fish/completions" /etc/fish/completions '
                f'{bsd}/vendor_completions.d {bsd}/completions "$HOME/.config/fish/functions" '
                f'{bsd}/vendor_functions.d {bsd}/functions\n',
    }
    cmake = shutil.which("cmake")
    for tools in (("pkg-config", "fish"), ("pkg-config",), ("fish",), ()):
        label = f"{case}, with {' and '.join(tools) or 'neither pkg-config nor fish'}"
        where = os.path.join(work, "bin-" + "-".join(tools or ("none",)))
        os.makedirs(where)
        os.symlink(cmake, os.path.join(where, "cmake"))
        for tool in tools:
            with open(os.path.join(where, tool), "w") as f:
                f.write(stand_ins[tool])
            os.chmod(os.path.join(where, tool), 0o755)
        upper, lower_work = os.path.join(where, "upper"), os.path.join(where, "overlay-work")
        os.makedirs(upper)
        os.makedirs(lower_work)
        script = f'''set -e
mount -t tmpfs tmpfs /usr/local
mount -t overlay overlay -o lowerdir=/usr/share/fish,upperdir={upper},workdir={lower_work} /usr/share/fish
PATH='{where}' cmake --install '{build}' >/dev/null
printf 'completions=%s\\n' "$(ls {bsd}/vendor_completions.d | tr '\\n' ' ')"
printf 'functions=%s\\n' "$(ls {bsd}/vendor_functions.d | tr '\\n' ' ')"
printf 'outside=%s\\n' "$(find '{upper}' -mindepth 1 | head -3)"
printf 'switcher=%s\\n' "$(grep -c ruvo_palette.sh {bsd}/vendor_functions.d/ruvo_palette.fish)"
cmake --build '{build}' --target uninstall >/dev/null
printf 'left=%s\\n' "$(find /usr/local -mindepth 1 | head -3)"
'''
        r = sh(label, f"unshare -m bash -c {shlex.quote(script)}")
        if r is None or r.returncode != 0:
            continue
        got = dict(l.split("=", 1) for l in r.stdout.splitlines() if "=" in l)
        want = {"completions": "ruvo.fish ruvo_palette.fish ", "functions": "ruvo_palette.fish ",
                "outside": "", "left": ""}
        for key, value in want.items():
            if got.get(key) != value:
                failures.append(f"{label}: {key} gives {got.get(key)!r}, not {value!r}")


def incomplete_build():
    case = "an install from an incomplete build"
    half = os.path.join(work, "half")
    os.makedirs(half)
    # As the README's first command leaves it: the program built alone.
    r = sh(case, f'''cmake -S '{source}' -B '{half}' -DBUILD_TESTING=OFF >/dev/null &&
cmake --build '{half}' --target ruvo -j2 >/dev/null''', limit=300)
    if r is None or r.returncode != 0:
        return
    root = os.path.join(work, "half-root")
    r = sh(case, f"cmake --install '{half}' --prefix '{root}'", expect_status=None)
    if r is None:
        return
    if r.returncode == 0:
        failures.append(f"{case}: it succeeded")
    if "run `cmake --build" not in " ".join(r.stderr.split()):
        failures.append(f"{case}: no message that says what to run: {r.stderr[-400:]}")
    if os.path.exists(root):
        failures.append(f"{case}: it wrote {os.listdir(root)}")


def over_a_package():
    case = "an install over a package's file"
    fake = os.path.join(work, "fakebin")
    os.makedirs(fake)
    with open(os.path.join(fake, "dpkg-query"), "w") as f:
        f.write('#!/bin/sh\n[ "$1" = -S ] && echo "ruvo: $2" && exit 0\nexit 1\n')
    os.chmod(os.path.join(fake, "dpkg-query"), 0o755)
    root = os.path.join(work, "pkg-root")
    env = dict(os.environ, PATH=f"{fake}:{os.environ.get('PATH', '/usr/bin:/bin')}")
    r = sh(case, f"cmake --install '{build}' --prefix '{root}'", env=env, expect_status=None)
    if r is None:
        return
    if r.returncode == 0 or "belongs to the package ruvo" not in " ".join(r.stderr.split()):
        failures.append(f"{case}: not refused: status {r.returncode}, {r.stderr[-400:]}")
    if os.path.exists(root):
        failures.append(f"{case}: it wrote {os.listdir(root)}")


def uninstall_without_rights():
    case = "an uninstall without the rights"
    if os.geteuid() != 0:
        not_run.append(f"{case}: needs root, to install as one user and uninstall as another")
        return
    root = os.path.join(work, "rights-root")
    record = os.path.join(work, "record.txt")
    r = sh(case, f'''set -e
cmake --install '{build}' --prefix '{root}' >/dev/null
mv '{build}/install_record.txt' '{record}'
chown nobody '{record}' && chmod 0755 '{root}'
''')
    if r is None or r.returncode != 0:
        return
    uninstall = os.path.join(source, "packaging", "uninstall.cmake")
    r = sh(case, f"runuser -u nobody -- cmake -DRECORD='{record}' -P '{uninstall}'",
           expect_status=None)
    if r is not None:
        if r.returncode != 1:
            failures.append(f"{case}: status {r.returncode}, not 1")
        if not os.path.exists(os.path.join(root, "bin", "ruvo")):
            failures.append(f"{case}: the installed program is gone all the same")
        if not os.path.exists(record) or "bin/ruvo" not in open(record).read():
            failures.append(f"{case}: the record lost the files that are still there")
    r = sh(case + ", then with them", f"cmake -DRECORD='{record}' -P '{uninstall}'")
    if r is not None and os.path.exists(root):
        failures.append(f"{case}, then with them: left {os.listdir(root)}")


try:
    if all(needs(t, p) for t, p in (("zsh", "zsh"), ("fish", "fish"),
                                    ("/usr/share/bash-completion/bash_completion",
                                     "bash-completion"))):
        default_prefix()
        home_prefix()
    fish_folders_as_the_system_says()
    incomplete_build()
    over_a_package()
    uninstall_without_rights()
finally:
    shutil.rmtree(work, ignore_errors=True)

for f in failures:
    print("FAILED:", f)
for n in not_run:
    print("not run:", n)
if failures:
    print(f"install routes: {len(failures)} failed")
    sys.exit(1)
if not_run:
    sys.exit(77)
print("install routes: all passed")
