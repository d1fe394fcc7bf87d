#!/usr/bin/env bash
# Times `quarrow rescue` of a clean disk image (one recording, 1 GiB in all by default) against
# GNU ddrescue copying the same image, side by side in alternating rounds with a warm cache, and
# prints each round (wall and processor time), the medians and their ratios (target <= 0.9).
#   bench/rescue_vs_ddrescue.sh [BUILD_DIR] [MIB]
# BUILD_DIR must be configured with -DQUARROW_BENCH=ON (default: build-bench, made if missing).
# The source image lives in a temporary folder under /tmp; both copies and their maps go to a
# memory file system (/dev/shm) where there is one, so that write-back does not blur the times.
# Everything is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
mib=${2:-1016}  # the recording; with the system area the image is 1 GiB
rounds=${ROUNDS:-5}

command -v ddrescue >/dev/null || { echo "ddrescue is not installed (gddrescue)"; exit 1; }
if [ ! -x "$build/bench/make_bench_disk" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BENCH=ON \
        -DQUARROW_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target quarrow_cli make_bench_disk >/dev/null

work=$(mktemp -d /tmp/quarrow-bench-XXXXXX)
out=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d /dev/shm/quarrow-bench-XXXXXX); fi
trap 'rm -rf "$work" "$out"' EXIT
image=$work/bench.hex
echo "Writing a disk image with one recording of $mib MiB ..."
"$build/bench/make_bench_disk" "$image" "$mib" >/dev/null
echo "  image: $(stat -c %s "$image") bytes"
cat "$image" >/dev/null  # warm the cache

# Prints the wall time and the processor time (user + system) of a command. On a machine shared
# with other work the wall time follows the load; the processor time is what each copy costs.
timed() {
    local t
    t=$(mktemp)
    /usr/bin/time -f "%e %U %S" -o "$t" "$@" >/dev/null 2>&1
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$t"
    rm -f "$t"
}

command -v /usr/bin/time >/dev/null || { echo "/usr/bin/time is not installed (time)"; exit 1; }
echo "  load before: $(uptime)"
ours=() theirs=() ours_cpu=() theirs_cpu=()
for round in $(seq "$rounds"); do
    rm -f "$out"/*
    # Alternate which goes first, so that neither always meets the other's leftovers.
    if [ $((round % 2)) -eq 1 ]; then
        a=$(timed "$build/quarrow" rescue "$image" "$out/q.hex" --map "$out/q.map")
        rm -f "$out"/q.*
        b=$(timed ddrescue -q "$image" "$out/d.hex" "$out/d.map")
    else
        b=$(timed ddrescue -q "$image" "$out/d.hex" "$out/d.map")
        rm -f "$out"/d.*
        a=$(timed "$build/quarrow" rescue "$image" "$out/q.hex" --map "$out/q.map")
    fi
    echo "  round $round: quarrow rescue ${a% *} s (processor ${a#* } s), ddrescue ${b% *} s (processor ${b#* } s)"
    ours+=("${a% *}") theirs+=("${b% *}") ours_cpu+=("${a#* }") theirs_cpu+=("${b#* }")
done
"$build/quarrow" rescue "$image" "$out/check.hex" --map "$out/check.map" >/dev/null
cmp -s "$image" "$out/check.hex" && echo "  the rescued image equals the source"
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "  load after: $(uptime)"
awk -v q="$(median "${ours[@]}")" -v d="$(median "${theirs[@]}")" 'BEGIN {
    printf "median of %d rounds: quarrow rescue %.3f s, ddrescue %.3f s, ratio %.3f (target <= 0.9)\n", '"$rounds"', q, d, q / d
}'
awk -v q="$(median "${ours_cpu[@]}")" -v d="$(median "${theirs_cpu[@]}")" 'BEGIN {
    printf "processor time, median: quarrow rescue %.3f s, ddrescue %.3f s, ratio %.3f\n", q, d, q / d
}'
