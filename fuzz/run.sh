#!/bin/sh
# Replays each fuzz target's checked-in corpus, then fuzzes it for a bounded
# time, two targets at a time (one a core).  A crash, a failed check, a
# leak or a hang fails the run and leaves the input that caused it in the
# output directory.
#
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
#
# BUILD_DIR is a build configured with CXX=clang++ and -DRUVO_FUZZ=ON.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=${2:-30}
out=$build/fuzz-findings
mkdir -p "$out"

# fuzz_one TARGET: replays, then fuzzes; prints its lines when done.
fuzz_one() {
    target=$1
    fuzzer=$build/fuzz/fuzz_$target
    log=$out/$target.summary
    echo "fuzz: $target: replaying $(ls "$here/corpus/$target" | wc -l) seeds" >"$log"
    "$fuzzer" -runs=0 "$here/corpus/$target" 2>"$out/$target-replay.log" ||
        { cat "$out/$target-replay.log" >>"$log"; return 1; }
    # New inputs go to a scratch copy; the checked-in seeds stay as they are.
    work=$(mktemp -d)
    cp "$here/corpus/$target"/* "$work/"
    echo "fuzz: $target: fuzzing for ${seconds}s" >>"$log"
    status=0
    "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$out/$target-" "$work" 2>"$out/$target.log" || status=1
    rm -rf "$work"
    if [ $status -ne 0 ]; then
        tail -n 40 "$out/$target.log" >>"$log"
        return 1
    fi
    grep -E '^Done [0-9]+ runs' "$out/$target.log" | sed "s/^/fuzz: $target: /" >>"$log"
}

failed=0
for pair in "range colours" "render visible"; do
    pids=
    for target in $pair; do
        fuzz_one "$target" &
        pids="$pids $!"
    done
    for pid in $pids; do
        wait "$pid" || failed=1
    done
    for target in $pair; do
        cat "$out/$target.summary"
    done
done
exit $failed
