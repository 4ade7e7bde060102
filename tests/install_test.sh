#!/bin/sh
# Installs into a scratch root and runs what was installed: the binary,
# the manual page and the palettes.  Staged with DESTDIR, so that this
# build folder's record of real installs (for its uninstall) stays as it is.
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
trap 'exit 1' HUP INT TERM # so that the EXIT trap cleans up then too
DESTDIR=$root cmake --install "$build" --prefix /opt/ruvo >/dev/null
sh "$(dirname "$0")/installed_tree.sh" "$root/opt/ruvo"
[ ! -e "$build/install_record.txt" ] || ! grep -q "$root" "$build/install_record.txt" ||
    { echo "a staged install was recorded as a real one"; exit 1; }
echo "installed into $root/opt/ruvo and ran"
