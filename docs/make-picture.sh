#!/bin/sh
# Makes the README's pictures from ruvo's real output, drawn as a
# true-colour terminal shows it (docs/picture.py):
#
#   docs/ruvo.png       the first 4 KiB of /bin/ls
#   docs/palette.png    the default palette as a 16 x 16 table
#   docs/gallery/*.png  typical contents, and one sample in every palette
#
#   docs/make-picture.sh [path/to/ruvo]
#
# Needs python3, gzip and tar; the samples are made in a scratch folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
ruvo=${1:-$here/../build/ruvo}
gallery=$here/gallery
samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
mkdir -p "$gallery"

draw() { # output.png ruvo-arguments...  ($terminal: --light for a light background)
    out=$1
    shift
    "$ruvo" "$@" | python3 "$here/picture.py" --cell 8x16 ${terminal:-} "$out"
}

"$ruvo" -r 0-4096 /bin/ls | python3 "$here/picture.py" "$here/ruvo.png"

python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)))' >"$samples/all-bytes"
"$ruvo" -w 16 "$samples/all-bytes" | python3 "$here/picture.py" --legend "$here/palette.png"

# The samples, made the same way every time.
gzip -9 -n -c "$here/ruvo.1" >"$samples/ruvo.1.gz"
tar --format=ustar --owner=0 --group=0 --mtime=@0 --sort=name -cf "$samples/palettes.tar" \
    -C "$here/../palettes" gray viridis
python3 - "$samples/cities.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("PRAGMA page_size = 1024")
db.execute("CREATE TABLE city (id INTEGER PRIMARY KEY, name TEXT, population INTEGER)")
names = ["Aberdeen", "Bergen", "Cadiz", "Dresden", "Esbjerg", "Faro", "Gdansk", "Haarlem"]
db.executemany("INSERT INTO city (name, population) VALUES (?, ?)",
               [(f"{names[i % 8]} {i}", 1000 + 37 * i) for i in range(90)])
db.execute("CREATE INDEX by_name ON city (name)")
db.commit()
PY

draw "$gallery/elf.png" -r 0x19400+0x1000 /bin/ls
draw "$gallery/text.png" -r 0-2048 "$here/ruvo.1"
draw "$gallery/tar.png" -r 0-4096 "$samples/palettes.tar"
draw "$gallery/gzip.png" -r 0-2048 "$samples/ruvo.1.gz"
draw "$gallery/png.png" -r 0-2048 "$here/ruvo.png"
draw "$gallery/sqlite.png" -r 0-4096 "$samples/cities.sqlite"

# One sample in each palette: machine code (with its 0xFF bytes), zero
# padding, tables, and a last line that stops short, so that 0x00, 0xFF
# and the space past the end can be told apart, or not.
draw "$gallery/palette-default.png" -r 0x19680+0xb30 /bin/ls
for name in gray classes viridis on-dark on-light; do
    RUVO_COLORS=$(cat "$here/../palettes/$name")
    export RUVO_COLORS
    terminal=
    [ "$name" = on-light ] && terminal=--light
    draw "$gallery/palette-$name.png" -r 0x19680+0xb30 /bin/ls
done
unset RUVO_COLORS
terminal=--light draw "$gallery/palette-default-light.png" -r 0x19680+0xb30 /bin/ls
ls -l "$here/ruvo.png" "$here/palette.png" "$gallery"/*.png | awk '{ print $5, $NF }'
