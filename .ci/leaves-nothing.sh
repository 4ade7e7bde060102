#!/usr/bin/env bash
# Runs a command (the test command, say) and fails if it left anything
# behind: a new entry in the temporary folder ($TMPDIR, else /tmp), in
# /dev/shm or in tmux's socket folder, or a process that the command
# started, even one that detached itself (own-processes.py).  Processes
# that others start meanwhile do not count.
#
#   .ci/leaves-nothing.sh COMMAND [ARG ...]
#
# Exits with the command's status, or 1 where it left something.
set -u
tmp=${TMPDIR:-/tmp}
sockets=$tmp/tmux-$(id -u)
places=("$tmp" /dev/shm "$sockets")

snapshot() {
    local p
    for p in "${places[@]}"; do
        [ -d "$p" ] && find "$p" -mindepth 1 -maxdepth 1 -printf "$p/%P\n" 2>/dev/null
    done
}

before=$(snapshot | sort)
python3 "$(dirname "$0")/own-processes.py" "$@"
status=$?
# A socket or a file of a process that was just killed may take a moment
# to go.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    left=$(comm -13 <(printf '%s\n' "$before") <(snapshot | sort))
    [ -z "$left" ] && break
    sleep 0.5
done
if [ -n "$left" ]; then
    echo "leaves-nothing: the run left these behind:"
    printf '  %s\n' "$left"
    exit 1
fi
echo "leaves-nothing: nothing left in $tmp, /dev/shm or $sockets"
exit "$status"
