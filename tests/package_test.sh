#!/bin/sh
# Builds the Debian package, unpacks it into a scratch folder and checks
# the unpacked tree as an installed one; lintian, where it is installed,
# must report no error.  Skipped (77) where dpkg-deb is missing.
set -eu
build=$1
command -v dpkg-deb >/dev/null 2>&1 || { echo "no dpkg-deb: skipped"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/ruvo_*_*.deb)
case $(basename "$deb") in
ruvo_[0-9]*.[0-9]*_*.deb) ;;
*) echo "unexpected package name: $deb"; exit 1 ;;
esac
dpkg-deb -x "$deb" "$scratch/root"

sh "$(dirname "$0")/installed_tree.sh" "$scratch/root/usr"

if command -v lintian >/dev/null 2>&1; then
    lintian "$deb" >"$scratch/lintian.log" 2>&1 || true
    if grep -q '^E: ' "$scratch/lintian.log"; then
        cat "$scratch/lintian.log"
        exit 1
    fi
    echo "lintian: no errors"
fi
echo "built, unpacked and ran $(basename "$deb")"
