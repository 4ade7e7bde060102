#!/bin/sh
# Installs into a scratch prefix and runs what was installed: the binary,
# the manual page and the palettes.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
sh "$(dirname "$0")/installed_tree.sh" "$prefix"
echo "installed into $prefix and ran"
