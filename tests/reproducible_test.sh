#!/bin/sh
# Two builds of the same sources, in two folders and at two different
# times, must give byte-identical packages.  Fails where dpkg-deb is
# missing; skipped (77) in a tree without git history and without
# SOURCE_DATE_EPOCH, which has no time to stamp the packages with.
#
#   tests/reproducible_test.sh SOURCE_DIR
set -eu
source_dir=$1
command -v dpkg-deb >/dev/null 2>&1 ||
    { echo "not run: dpkg-deb is missing; install the Debian package dpkg"; exit 1; }
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && ! git -C "$source_dir" log -1 --format=%ct >/dev/null 2>&1; then
    echo "skipped: no git history and no SOURCE_DATE_EPOCH, so no time to stamp packages with"
    exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM # so that the EXIT trap cleans up then too

package() { # folder
    cmake -S "$source_dir" -B "$scratch/$1" -DBUILD_TESTING=OFF >"$scratch/$1.log" 2>&1 &&
        cmake --build "$scratch/$1" --target ruvo -j2 >>"$scratch/$1.log" 2>&1 &&
        (cd "$scratch/$1" && cpack -G DEB -B "$scratch/$1/out" >>"$scratch/$1.log" 2>&1) ||
        { cat "$scratch/$1.log"; exit 1; }
}
package first
sleep 2
package second-folder
a=$(ls "$scratch"/first/out/*.deb)
b=$(ls "$scratch"/second-folder/out/*.deb)
if ! cmp "$a" "$b"; then
    echo "the two packages differ:"
    (cd "$scratch" && dpkg-deb -c "$a" >a.txt && dpkg-deb -c "$b" >b.txt && diff a.txt b.txt) || true
    exit 1
fi
echo "two builds, two folders, one package: $(basename "$a") ($(wc -c <"$a") bytes)"
