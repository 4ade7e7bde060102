#!/bin/sh
# The manual page must format without a single warning.
set -eu
page=$1
out=$(groff -mandoc -ww -z "$page" 2>&1)
if command -v mandoc >/dev/null 2>&1; then
    # Cross-references are checked against this machine's manual database,
    # which says nothing about the page itself.
    out="$out$(mandoc -Tlint -W style "$page" 2>&1 | grep -v 'mandoc\.db' || true)"
fi
if [ -n "$out" ]; then
    printf '%s\n' "$out"
    exit 1
fi
echo "$page: no warnings"
