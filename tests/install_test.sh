#!/bin/sh
# Installs into a scratch prefix and runs what was installed: the binary,
# the manual page and the palettes.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/ruvo share/man/man1/ruvo.1.gz share/doc/ruvo/copyright share/ruvo/palettes/gray share/ruvo/palettes/classes \
         share/ruvo/palettes/viridis share/ruvo/palettes/on-dark share/ruvo/palettes/on-light; do
    [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

# The installed binary draws byte 0x41 in gray 65 with the installed gray palette.
printf 'AA' >"$prefix/input"
got=$(RUVO_COLORS="$(cat "$prefix/share/ruvo/palettes/gray")" "$prefix/bin/ruvo" -w 1 \
      "$prefix/input" 2>&1)
want=$(printf '    0000 \033[38;2;65;65;65m\033[48;2;65;65;65m\342\226\200\033[m')
[ "$got" = "$want" ] || { echo "installed ruvo printed: $got"; exit 1; }
echo "installed into $prefix and ran"
