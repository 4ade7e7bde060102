#!/bin/sh
# Checks an installed tree (an install prefix, or the usr/ of an unpacked
# package): every file is there, the manual pages are gzipped, the
# installed binary draws with an installed palette, and the installed
# preview runs the ruvo beside it.
#
#   tests/installed_tree.sh ROOT
set -eu
root=$1
# Every palette of the source tree: each file in palettes/ without a dot.
palettes=
for p in "$(dirname "$0")"/../palettes/*; do
    [ -f "$p" ] || continue
    case ${p##*/} in *.*) ;; *) palettes="$palettes share/ruvo/palettes/${p##*/}" ;; esac
done
for f in bin/ruvo bin/ruvo-preview share/man/man1/ruvo.1.gz share/man/man1/ruvo-preview.1.gz \
         share/doc/ruvo/copyright share/doc/ruvo/changelog.gz \
         $palettes share/ruvo/ruvo_palette.sh \
         share/bash-completion/completions/ruvo \
         share/fish/vendor_completions.d/ruvo.fish share/fish/vendor_completions.d/ruvo_palette.fish \
         share/fish/vendor_functions.d/ruvo_palette.fish; do
    [ -f "$root/$f" ] || { echo "not installed: $f"; exit 1; }
done
# zsh's folder: vendor-completions for /usr (the package), site-functions
# for any other prefix.
case $root in
*/usr) zsh=share/zsh/vendor-completions/_ruvo ;;
*) zsh=share/zsh/site-functions/_ruvo ;;
esac
[ -f "$root/$zsh" ] || { echo "not installed: $zsh"; exit 1; }
gzip -t "$root/share/man/man1/ruvo.1.gz"
gzip -t "$root/share/man/man1/ruvo-preview.1.gz"
[ -x "$root/bin/ruvo-preview" ] || { echo "not executable: bin/ruvo-preview"; exit 1; }

# Byte 0x41 in gray 65 with the installed gray palette.
input=$(mktemp)
trap 'rm -f "$input"' EXIT
trap 'exit 1' HUP INT TERM # so that the EXIT trap cleans up then too
printf 'AA' >"$input"
got=$(RUVO_COLORS="$(cat "$root/share/ruvo/palettes/gray")" "$root/bin/ruvo" -w 1 "$input" 2>&1)
want=$(printf '    0000 \033[38;2;65;65;65m\033[48;2;65;65;65m\342\226\200\033[m')
[ "$got" = "$want" ] || { echo "installed ruvo printed: $got"; exit 1; }
# A pane of 10 by 1: width 1, one line; with no ruvo on PATH but the one
# beside it.
got=$(RUVO_COLORS="$(cat "$root/share/ruvo/palettes/gray")" PATH=/nonexistent \
    "$root/bin/ruvo-preview" "$input" 10 1 2>&1)
[ "$got" = "$want" ] || { echo "installed ruvo-preview printed: $got"; exit 1; }
