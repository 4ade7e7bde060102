#!/usr/bin/env bash
# Runs a command (the test command, say) and fails if it left anything
# behind: a new entry in the temporary folder ($TMPDIR, else /tmp), in
# /dev/shm or in tmux's socket folder, or a process of the tests' kinds
# (ruvo, tmux, zsh, fish) started during the run that is still there.
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
    # Processes of the kinds the tests start (ruvo, and the programs of the
    # shell tests that outlive a shell: tmux, zsh, fish), by pid and command.
    ps -e -o pid=,args= | awk '$2 ~ /(tmux|zsh|fish)$/ || /ruvo/ {print "process " $0}'
}

before=$(snapshot | sort)
"$@"
status=$?
# Processes the tests killed may take a moment to go.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    left=$(comm -13 <(printf '%s\n' "$before") <(snapshot | sort) |
           grep -v -e "ps -e" -e "awk " -e "leaves-nothing" -e "<defunct>")
    [ -z "$left" ] && break
    sleep 0.5
done
if [ -n "$left" ]; then
    echo "leaves-nothing: the run left these behind:"
    printf '  %s\n' "$left"
    exit 1
fi
echo "leaves-nothing: nothing left in $tmp, /dev/shm or $sockets, and no process"
exit "$status"
