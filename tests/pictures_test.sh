#!/bin/sh
# Redraws every picture of the README into a scratch folder and compares
# each with the one in docs/, byte for byte: a picture that no longer
# shows what ruvo draws from its input fails.  Every picture that the
# README shows must be one that the script draws.
#
#   tests/pictures_test.sh RUVO SOURCE_DIR
set -eu
ruvo=$1
source_dir=$2
command -v python3 >/dev/null 2>&1 ||
    { echo "not run: python3 is missing; install the Debian package python3"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM # so that the EXIT trap cleans up then too
sh "$source_dir/docs/make-picture.sh" "$ruvo" "$scratch"
status=0
for shown in $(grep -o 'docs/[a-z/-]*\.png' "$source_dir/README.md" | sort -u); do
    drawn=$scratch/${shown#docs/}
    if [ ! -f "$drawn" ]; then
        echo "$shown: the README shows it, but docs/make-picture.sh does not draw it"
        status=1
    elif ! cmp -s "$drawn" "$source_dir/$shown"; then
        echo "$shown: differs from what ruvo draws now (docs/make-picture.sh remakes it)"
        status=1
    fi
done
[ $status = 0 ] && echo "every picture of the README is what ruvo draws"
exit $status
