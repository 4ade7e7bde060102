#!/bin/sh
# Times ruvo against xxd on 32 MiB of seeded pseudo-random bytes, both
# writing to /dev/null, and measures ruvo's peak resident memory on 1 MiB
# and 32 MiB, which must be the same: ruvo streams.
#
#   bench/run.sh [path/to/ruvo]      (default: build/ruvo)
#
# Needs hyperfine, xxd, python3 and GNU time (/usr/bin/time).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
ruvo=${1:-$here/../build/ruvo}
out=$here/out
mkdir -p "$out"

for tool in hyperfine xxd python3 /usr/bin/time; do
    command -v "$tool" >/dev/null 2>&1 || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$ruvo" ] || { echo "bench: no ruvo at $ruvo (build it first)" >&2; exit 1; }

make_input() { # size-in-MiB file
    python3 -c 'import random, sys
r = random.Random(20261209)
sys.stdout.buffer.write(r.randbytes(int(sys.argv[1]) << 20))' "$1" >"$2"
}
make_input 1 "$out/random-1M"
make_input 32 "$out/random-32M"

hyperfine -N --warmup 3 --runs 20 --output=null \
    --export-json "$out/times.json" \
    "$ruvo $out/random-32M" "xxd $out/random-32M" >/dev/null

peak_kib() { # file: the largest of five runs, since the figure jitters
    for run in 1 2 3 4 5; do
        /usr/bin/time -f %M "$ruvo" "$1" 2>&1 >/dev/null | tail -n 1
    done | sort -n | tail -n 1
}

python3 - "$out/times.json" "$(peak_kib "$out/random-1M")" "$(peak_kib "$out/random-32M")" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
ruvo, xxd = (r["mean"] for r in runs)
dev = [r["stddev"] for r in runs]
print(f"ruvo 32 MiB: {ruvo * 1000:8.1f} ms  (± {dev[0] * 1000:.1f})")
print(f"xxd  32 MiB: {xxd * 1000:8.1f} ms  (± {dev[1] * 1000:.1f})")
print(f"ratio ruvo/xxd: {ruvo / xxd:.3f}  (target: at most 0.25)")
print(f"ruvo peak RSS:  1 MiB input {sys.argv[2]} KiB, 32 MiB input {sys.argv[3]} KiB  (target: under 4096 KiB, equal)")
PY
