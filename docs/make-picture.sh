#!/bin/sh
# Makes the README's pictures from ruvo's real output, drawn as a
# true-colour terminal shows it (docs/picture.py):
#
#   ruvo.png       the first 4 KiB of ruvo's own executable
#   palette.png    the default palette as a 16 x 16 table
#   gallery/*.png  typical contents, and one sample in every palette
#
#   docs/make-picture.sh [path/to/ruvo [OUT_DIR]]    (default: build/ruvo, docs)
#
# Every picture is drawn from an input that stays the same whatever the
# docs hold: a copy of a ruvo executable kept in docs/samples, and files
# that docs/samples.py makes the same way every time.  The test
# `pictures` redraws them all and compares them with the files in docs/.
# Needs python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
ruvo=${1:-$here/../build/ruvo}
out=${2:-$here}
elf=$here/samples/ruvo.elf
samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
mkdir -p "$out/gallery"
python3 "$here/samples.py" "$here/.." "$samples"

draw() { # output.png ruvo-arguments...  ($terminal: --light for a light background)
    picture=$1
    shift
    "$ruvo" "$@" | python3 "$here/picture.py" --cell 8x16 ${terminal:-} "$picture"
}

"$ruvo" -r 0-4096 "$elf" | python3 "$here/picture.py" "$out/ruvo.png"
"$ruvo" -w 16 "$samples/all-bytes" | python3 "$here/picture.py" --legend "$out/palette.png"

draw "$out/gallery/elf.png" -r 0x4000+0x1400 "$elf"
draw "$out/gallery/text.png" -r 0-2048 "$samples/text"
draw "$out/gallery/tar.png" -r 0-4096 "$samples/palettes.tar"
draw "$out/gallery/gzip.png" -r 0-1487 "$samples/text.gz"
draw "$out/gallery/png.png" -r 0-2048 "$out/palette.png"
draw "$out/gallery/sqlite.png" -r 0-4096 "$samples/cities.sqlite"

# One sample in each palette: machine code (with its 0xFF bytes), zero
# padding, tables, and a last line that stops short, so that 0x00, 0xFF
# and the space past the end can be told apart, or not.
range=0x4480+0xc30
draw "$out/gallery/palette-default.png" -r $range "$elf"
for file in "$here"/../palettes/*; do
    [ -f "$file" ] || continue
    name=${file##*/}
    case $name in *.*) continue ;; esac # generate.py
    RUVO_COLORS=$(cat "$file")
    export RUVO_COLORS
    terminal=
    [ "$name" = on-light ] && terminal=--light
    draw "$out/gallery/palette-$name.png" -r $range "$elf"
done
unset RUVO_COLORS
terminal=--light draw "$out/gallery/palette-default-light.png" -r $range "$elf"
