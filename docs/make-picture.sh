#!/bin/sh
# Makes docs/ruvo.png, the picture at the top of the README: ruvo's real
# output for the first 4 KiB of an ELF binary (the start of /bin/ls by
# default), drawn as a true-colour terminal shows it.
#
#   docs/make-picture.sh [path/to/ruvo] [file]
#
# Needs python3 only.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
ruvo=${1:-$here/../build/ruvo}
input=${2:-/bin/ls}
"$ruvo" -r 0-4096 "$input" | python3 "$here/picture.py" "$here/ruvo.png"
echo "wrote $here/ruvo.png from the first 4 KiB of $input"
