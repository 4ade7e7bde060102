#!/bin/sh
# CI's check that a run leaves nothing behind judges only what the run
# started: a detached process of its own fails it (and is ended), a file
# left in its temporary folder fails it, another process with the name of
# one of ours that runs meanwhile does not, and the command's own status
# comes through.
#
#   sh leaves_nothing_test.sh SOURCE_DIR
set -u
check=$1/.ci/leaves-nothing.sh
tmp=$(mktemp -d "${TMPDIR:-/tmp}/ruvo-leaves-XXXXXX") || exit 1
outsider=
trap '[ -n "$outsider" ] && kill "$outsider" 2>/dev/null; rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# A process of the run's own that went into a session of its own.
out=$(TMPDIR=$tmp/a bash "$check" sh -c \
    'setsid sleep 31 </dev/null >/dev/null 2>&1 & echo $! > "$0"' "$tmp/pid" 2>&1)
status=$?
[ $status -eq 1 ] || fail "a detached process of the run: status $status, not 1"
case $out in *"sleep 31"*) ;; *) fail "the detached process is not named: $out" ;; esac
pid=$(cat "$tmp/pid" 2>/dev/null)
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    fail "the detached process $pid was left running"
    kill "$pid"
fi

# Someone else's ruvo, started before the run and still running after it.
mkdir -p "$tmp/a"
ln -s "$(command -v sleep)" "$tmp/ruvo"
"$tmp/ruvo" 30 &
outsider=$!
out=$(TMPDIR=$tmp/a bash "$check" sh -c 'sleep 0.2' 2>&1)
status=$?
[ $status -eq 0 ] || fail "another process named ruvo counted as the run's: $out"

# A scratch file left in the temporary folder.
out=$(TMPDIR=$tmp/a bash "$check" sh -c 'touch "$TMPDIR/left-behind"' 2>&1)
status=$?
[ $status -eq 1 ] || fail "a file left behind: status $status, not 1"
case $out in *left-behind*) ;; *) fail "the file left behind is not named: $out" ;; esac
rm -f "$tmp/a/left-behind"

# The command's own status.
TMPDIR=$tmp/a bash "$check" sh -c 'exit 3' >/dev/null 2>&1
status=$?
[ $status -eq 3 ] || fail "the command's status 3 came back as $status"

[ $failed -eq 0 ] && echo "leaves-nothing: 4 cases passed"
exit $failed
