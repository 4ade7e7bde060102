#!/bin/sh
# Builds the Debian package, unpacks it into a scratch folder and checks
# the unpacked tree as an installed one.  The packaged binary must carry
# the hardening Debian gives its own programs, and lintian, where it is
# installed, must have nothing at all to say, pedantic notes included.
# A tool it needs that is missing fails it, naming the Debian package.
#
#   tests/package_test.sh BUILD_DIR [hardened|hardened-clang|plain|sanitized]
#
# A plain build (debug, -DRUVO_HARDEN=OFF) is not hardened, and a
# sanitized one also links the sanitizers' libraries: their packages are
# checked for everything else.  clang cannot fortify the printf family
# with glibc's headers, so a clang build calls no function that lintian
# counts as fortified (hardening-check still finds __memmove_chk); that
# one lintian note is expected of it.
set -eu
build=$1
kind=${2:-hardened}
need() { # command package
    command -v "$1" >/dev/null 2>&1 || { echo "not run: $1 is missing; install the Debian package $2"; exit 1; }
}
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need readelf binutils
need lintian lintian
[ "${kind%-clang}" != hardened ] || need hardening-check devscripts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM # so that the EXIT trap cleans up then too
# The tools' own temporary files (lintian's among them) go there too.
mkdir "$scratch/tmp" && export TMPDIR="$scratch/tmp"

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/ruvo_*_*.deb)
case $(basename "$deb") in
ruvo_[0-9]*.[0-9]*_*.deb) ;;
*) echo "unexpected package name: $deb"; exit 1 ;;
esac
dpkg-deb -x "$deb" "$scratch/root"

sh "$(dirname "$0")/installed_tree.sh" "$scratch/root/usr"

# hardening-check (Debian: devscripts) reads the protections off the
# binary.  The stack-clash and control-flow flags leave no mark that it
# can find in a program this small, so those are checked on the compile
# line of the build the package came from.
if [ "${kind%-clang}" != hardened ]; then
    echo "a $kind build: the hardening is not checked"
else
    hardening-check "$scratch/root/usr/bin/ruvo" >"$scratch/hardening.log" 2>&1 || true
    for feature in "Position Independent Executable" "Stack protected" \
                   "Fortify Source functions" "Read-only relocations" "Immediate binding"; do
        if ! grep -q "^ $feature: yes" "$scratch/hardening.log"; then
            cat "$scratch/hardening.log"
            echo "the packaged binary lacks: $feature"
            exit 1
        fi
    done
    echo "hardening-check: PIE, stack protector, fortify, relro and bindnow"
    # What it cannot see, it says: "unknown" for stack clash protection
    # (no probe in a program whose frames are this small) and "no" for
    # control flow integrity (Debian 12's own start files carry no CET
    # property, so no program linked with them has one; its /bin/ls
    # neither).  Shown, not failed.
    grep -E "^ (Stack clash protection|Control flow integrity):" "$scratch/hardening.log" || true
fi
flags=$(cat "$build/CMakeFiles/ruvo_core.dir/flags.make" "$build/build.ninja" 2>/dev/null || true)
for flag in -fstack-clash-protection -fcf-protection; do
    case $kind:$flags in
    plain:* | sanitized:* | *"$flag"*) ;;
    *) echo "ruvo is not compiled with $flag"; exit 1 ;;
    esac
done

# The program needs the C library and nothing else.
if [ "$kind" != sanitized ]; then
    needed=$(readelf -d "$scratch/root/usr/bin/ruvo" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
        paste -s -d ' ' -)
    case $needed in
    libc.so.*[0-9]) ;;
    *) echo "the packaged ruvo needs $needed, not the C library alone"; exit 1 ;;
    esac
fi

# As root lintian says so, which is no finding about the package; a plain
# build lacks the hardening by design.
ignore='running with root privileges'
case $kind in
hardened) ;;
hardened-clang) ignore="$ignore|hardening-no-fortify-functions" ;;
*) ignore="$ignore|hardening-no-" ;;
esac
lintian -I --pedantic "$deb" 2>&1 | grep -E -v "$ignore" >"$scratch/lintian.log" || true
if [ -s "$scratch/lintian.log" ]; then
    cat "$scratch/lintian.log"
    exit 1
fi
echo "lintian -I --pedantic: nothing to say"
echo "built, unpacked and ran $(basename "$deb")"
