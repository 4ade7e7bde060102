#!/bin/sh
# Builds the Debian package, unpacks it into a scratch folder and runs the
# unpacked binary with an unpacked palette; lintian, where it is installed,
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

for f in usr/bin/ruvo usr/share/man/man1/ruvo.1.gz usr/share/doc/ruvo/copyright \
         usr/share/doc/ruvo/changelog.gz usr/share/ruvo/palettes/gray; do
    [ -f "$scratch/root/$f" ] || { echo "not in the package: $f"; exit 1; }
done
gzip -t "$scratch/root/usr/share/man/man1/ruvo.1.gz"

# The unpacked binary draws byte 0x41 in gray 65 with the unpacked gray palette.
printf 'AA' >"$scratch/input"
got=$(RUVO_COLORS="$(cat "$scratch/root/usr/share/ruvo/palettes/gray")" \
      "$scratch/root/usr/bin/ruvo" -w 1 "$scratch/input" 2>&1)
want=$(printf '    0000 \033[38;2;65;65;65m\033[48;2;65;65;65m\342\226\200\033[m')
[ "$got" = "$want" ] || { echo "unpacked ruvo printed: $got"; exit 1; }

if command -v lintian >/dev/null 2>&1; then
    lintian "$deb" >"$scratch/lintian.log" 2>&1 || true
    if grep -q '^E: ' "$scratch/lintian.log"; then
        cat "$scratch/lintian.log"
        exit 1
    fi
    echo "lintian: no errors"
fi
echo "built, unpacked and ran $(basename "$deb")"
