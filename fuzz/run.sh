#!/bin/sh
# Replays each fuzz target's checked-in corpus, then fuzzes it for a bounded
# time.  A crash, a failed check, a leak or a hang fails the run and leaves
# the input that caused it in the output directory.
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

for target in range colours render visible; do
    fuzzer=$build/fuzz/fuzz_$target
    echo "fuzz: $target: replaying $(ls "$here/corpus/$target" | wc -l) seeds"
    "$fuzzer" -runs=0 "$here/corpus/$target" 2>"$out/$target-replay.log" ||
        { cat "$out/$target-replay.log" >&2; exit 1; }
    # New inputs go to a scratch copy; the checked-in seeds stay as they are.
    work=$(mktemp -d)
    cp "$here/corpus/$target"/* "$work/"
    echo "fuzz: $target: fuzzing for ${seconds}s"
    "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$out/$target-" "$work" 2>"$out/$target.log" ||
        { tail -n 40 "$out/$target.log" >&2; exit 1; }
    grep -E '^Done [0-9]+ runs' "$out/$target.log" | sed "s/^/fuzz: $target: /"
    rm -rf "$work"
done
