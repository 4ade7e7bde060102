#!/bin/sh
# Times ruvo side by side with xxd, with the "limit" program (bench/limit.cpp:
# the same number of output bytes made by block copies, no colour lookups)
# and, if given, an earlier build of ruvo; on a file and through a pipe.
# Then measures ruvo's peak resident memory on 1 MiB and 32 MiB, which
# must be the same: ruvo streams.  With an earlier build and valgrind, it
# also counts both builds' instructions on the 1 MiB file: a figure that,
# unlike the times, does not drift with the load of a shared machine or
# with the order in which hyperfine runs the commands.
#
#   bench/run.sh [path/to/ruvo [path/to/earlier/ruvo]]    (default: build/ruvo)
#
# Needs hyperfine, xxd, python3, GNU time (/usr/bin/time) and a C++ compiler.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
ruvo=${1:-$here/../build/ruvo}
before=${2:-}
out=$here/out
mkdir -p "$out"

for tool in hyperfine xxd python3 /usr/bin/time "${CXX:-c++}"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$ruvo" ] || { echo "bench: no ruvo at $ruvo (build it first)" >&2; exit 1; }

# The limit program, built as ruvo's default build type builds ruvo.
"${CXX:-c++}" -std=c++20 -O2 -I"$here/../src" "$here/limit.cpp" "$here/../src/palette.cpp" "$here/../src/visible.cpp" \
    -o "$out/limit"

make_input() { # size-in-MiB file
    python3 -c 'import random, sys
r = random.Random(20261209)
sys.stdout.buffer.write(r.randbytes(int(sys.argv[1]) << 20))' "$1" >"$2"
}
make_input 1 "$out/random-1M"
make_input 32 "$out/random-32M"
input=$out/random-32M

# The limit only means something if it writes as much as ruvo does.
ruvo_bytes=$("$ruvo" "$input" | wc -c)
limit_bytes=$("$out/limit" "$input" | wc -c)
[ "$ruvo_bytes" = "$limit_bytes" ] ||
    { echo "bench: limit wrote $limit_bytes bytes, ruvo $ruvo_bytes" >&2; exit 1; }

set -- "$ruvo $input" "xxd $input" "$out/limit $input"
[ -n "$before" ] && set -- "$@" "$before $input"
hyperfine -N --warmup 3 --runs 30 --output=null --export-json "$out/file.json" "$@" >/dev/null

set -- "cat $input | $ruvo" "cat $input | xxd"
[ -n "$before" ] && set -- "$@" "cat $input | $before"
hyperfine --warmup 3 --runs 20 --output=null --export-json "$out/pipe.json" "$@" >/dev/null

peak_kib() { # file: the largest of five runs, since the figure jitters
    for run in 1 2 3 4 5; do
        /usr/bin/time -f %M "$ruvo" "$1" 2>&1 >/dev/null | tail -n 1
    done | sort -n | tail -n 1
}

instructions() { # binary: what callgrind counts for the 1 MiB file
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" "$out/random-1M" 2>&1 >/dev/null |
        sed -n 's/.*Collected : *//p'
}
counts=
if [ -n "$before" ] && command -v valgrind >/dev/null 2>&1; then
    counts="$(instructions "$ruvo") $(instructions "$before")"
fi

python3 - "$out/file.json" "$out/pipe.json" "$(peak_kib "$out/random-1M")" \
    "$(peak_kib "$out/random-32M")" "$ruvo_bytes" "$counts" <<'PY'
import json, sys

def load(path):
    return [(r["command"], r["median"], r["stddev"]) for r in json.load(open(path))["results"]]

names = ["ruvo", "xxd", "limit", "earlier ruvo"]
for title, path, labels in (("file, 32 MiB", sys.argv[1], names),
                            ("pipe, cat 32 MiB |", sys.argv[2], ["ruvo", "xxd", "earlier ruvo"])):
    runs = load(path)
    ruvo = runs[0][1]
    print(title)
    for label, (_, median, dev) in zip(labels, runs):
        print(f"  {label:13} median {median * 1000:7.1f} ms (sd {dev * 1000:5.1f})"
              f"   {median / ruvo:5.2f} x ruvo's time")
print(f"output: {int(sys.argv[5]):,} bytes")
print(f"ruvo peak RSS: 1 MiB input {sys.argv[3]} KiB, 32 MiB input {sys.argv[4]} KiB"
      "  (target: under 4096 KiB, equal)")
if sys.argv[6]:
    mine, theirs = (int(n) for n in sys.argv[6].split())
    print(f"instructions, 1 MiB file: ruvo {mine:,}, earlier ruvo {theirs:,}"
          f"  ({mine / theirs:.4f} x)")
PY
