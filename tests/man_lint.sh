#!/bin/sh
# The manual page must format without a single warning.
set -eu
page=$1
command -v mandoc >/dev/null 2>&1 ||
    { echo "not run: mandoc is missing; install the Debian package mandoc"; exit 1; }
out=$(groff -mandoc -ww -z "$page" 2>&1)
# Cross-references are checked against this machine's manual database,
# which says nothing about the page itself, nor about ruvo's own pages
# before they are installed.
out="$out$(mandoc -Tlint -W style "$page" 2>&1 | grep -v -e 'mandoc\.db' \
    -e 'referenced manual not found: Xr ruvo\(-preview\)\{0,1\} 1' || true)"
if [ -n "$out" ]; then
    printf '%s\n' "$out"
    exit 1
fi
echo "$page: no warnings"
