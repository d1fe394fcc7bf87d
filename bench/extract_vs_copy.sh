#!/usr/bin/env bash
# Times `quarrow extract` of a 1 GiB broadcast-like recording against a plain copy of the same
# clusters' bytes (dd bs=8M from the same image), both with a warm cache, and prints the ratio
# and the peak memory of each. Then runs the hot-loop benchmark.
#   bench/extract_vs_copy.sh [BUILD_DIR] [MIB]
# BUILD_DIR must be configured with -DQUARROW_BENCH=ON (default: build-bench, made if missing).
# The image and the outputs live in a temporary folder under /tmp, removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
mib=${2:-1024}
rounds=${ROUNDS:-3}

if [ ! -x "$build/bench/make_bench_disk" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BENCH=ON \
        -DQUARROW_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target quarrow_cli make_bench_disk >/dev/null
cmake --build "$build" -j2 --target hot_loops_bench >/dev/null 2>&1 || true

work=$(mktemp -d /tmp/quarrow-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
image=$work/bench.hex
echo "Writing a disk image with one recording of $mib MiB ..."
info=$("$build/bench/make_bench_disk" "$image" "$mib")
eval "$info"  # first_cluster, length, range_start, range_bytes
echo "  $info"

# Warm the cache with the whole image.
cat "$image" >/dev/null

now() { date +%s.%N; }
# Runs a command under /usr/bin/time -v; prints "seconds peak_kib".
measure() {
    local log=$work/time.log t0 t1
    t0=$(now)
    /usr/bin/time -v -o "$log" "$@" >/dev/null 2>&1
    t1=$(now)
    local kib
    kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    awk -v a="$t0" -v b="$t1" -v k="$kib" 'BEGIN { printf "%.3f %d\n", b - a, k }'
}

best_extract=999999 best_copy=999999 extract_kib=0 copy_kib=0
for round in $(seq "$rounds"); do
    rm -f "$work"/out.* "$work/copy.bin"
    read -r t kib < <(measure "$build/quarrow" extract "$image" 1 -o "$work" --prefix out -q)
    echo "  round $round: extract $t s (peak ${kib} KiB)"
    best_extract=$(awk -v a="$t" -v b="$best_extract" 'BEGIN { print (a < b ? a : b) }')
    [ "$kib" -gt "$extract_kib" ] && extract_kib=$kib
    read -r t kib < <(measure dd if="$image" of="$work/copy.bin" bs=8M skip="$range_start" \
        count="$range_bytes" iflag=skip_bytes,count_bytes)
    echo "  round $round: copy    $t s (peak ${kib} KiB)"
    best_copy=$(awk -v a="$t" -v b="$best_copy" 'BEGIN { print (a < b ? a : b) }')
    [ "$kib" -gt "$copy_kib" ] && copy_kib=$kib
done
ls -l "$work"/out.* "$work/copy.bin" | awk '{print "  " $5 " " $9}'
awk -v e="$best_extract" -v c="$best_copy" -v ek="$extract_kib" -v ck="$copy_kib" 'BEGIN {
    printf "extraction %.3f s, copy %.3f s (best of each), ratio %.3f (target <= 1.15)\n", e, c, e / c
    printf "peak memory: extraction %.1f MiB (target <= 40), copy %.1f MiB\n", ek / 1024, ck / 1024
}'

if [ -x "$build/bench/hot_loops_bench" ]; then
    "$build/bench/hot_loops_bench" --benchmark_min_time=0.5 2>/dev/null
fi
