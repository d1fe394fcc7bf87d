#!/usr/bin/env bash
# Times `quarrow extract` of a 1 GiB broadcast-like recording against a plain copy of the same
# clusters' bytes (dd bs=8M from the same image), `quarrow extract --mux` of the same recording
# against the plain extraction and `--mkv` against `--mux`, all with a warm cache and side by
# side in each round;
# prints the median ratios (ROUNDS rounds, 15 by default) and the peak memory of each. Then runs
# the hot-loop benchmark.
#   bench/extract_vs_copy.sh [BUILD_DIR] [MIB]
# BUILD_DIR must be configured with -DQUARROW_BENCH=ON (default: build-bench, made if missing).
# The image lives in a temporary folder under /tmp; the outputs of both go to a memory file
# system (/dev/shm) where there is one, so that the disk's write-back does not blur the times.
# Both are removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
mib=${2:-1024}
rounds=${ROUNDS:-15}

if [ ! -x "$build/bench/make_bench_disk" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BENCH=ON \
        -DQUARROW_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target quarrow_cli make_bench_disk >/dev/null
cmake --build "$build" -j2 --target hot_loops_bench >/dev/null 2>&1 || true

work=$(mktemp -d /tmp/quarrow-bench-XXXXXX)
out=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d /dev/shm/quarrow-bench-XXXXXX); fi
trap 'rm -rf "$work" "$out"' EXIT
image=$work/bench.hex
echo "Writing a disk image with one recording of $mib MiB ..."
info=$("$build/bench/make_bench_disk" "$image" "$mib")
eval "$info"  # first_cluster, length, range_start, range_bytes
echo "  $info"

# Warm the cache with the whole image.
cat "$image" >/dev/null

now() { date +%s.%N; }
# Runs a command under /usr/bin/time -v; prints "seconds peak_kib cpu_seconds".
measure() {
    local log=$work/time.log t0 t1
    t0=$(now)
    # A failed run would be timed as if it had done the work: stop and say so.
    if ! /usr/bin/time -v -o "$log" "$@" >/dev/null 2>&1; then
        echo "failed: $*" >&2
        return 1
    fi
    t1=$(now)
    local kib cpu
    kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$log")
    awk -v a="$t0" -v b="$t1" -v k="$kib" -v c="$cpu" 'BEGIN { printf "%.3f %d %.2f\n", b - a, k, c }'
}

extract_times=() copy_times=() mux_times=() mux_kib=0 mkv_times=() mkv_kib=0
best_extract=999999 best_copy=999999 extract_kib=0 copy_kib=0 extract_cpu=0 copy_cpu=0
for round in $(seq "$rounds"); do
    rm -f "$out"/out.* "$out/copy.bin"
    read -r t kib cpu < <(measure "$build/quarrow" extract "$image" 1 -o "$out" --prefix out -q)
    echo "  round $round: extract $t s, cpu $cpu s (peak ${kib} KiB)"
    extract_times+=("$t")
    extract_cpu=$(awk -v a="$extract_cpu" -v b="$cpu" 'BEGIN { print a + b }')
    best_extract=$(awk -v a="$t" -v b="$best_extract" 'BEGIN { print (a < b ? a : b) }')
    [ "$kib" -gt "$extract_kib" ] && extract_kib=$kib
    rm -f "$out"/out.*
    read -r t kib cpu < <(measure "$build/quarrow" extract "$image" 1 -o "$out" --prefix out -q --mux)
    echo "  round $round: mux     $t s, cpu $cpu s (peak ${kib} KiB)"
    mux_times+=("$t")
    [ "$kib" -gt "$mux_kib" ] && mux_kib=$kib
    rm -f "$out"/out.*
    read -r t kib cpu < <(measure "$build/quarrow" extract "$image" 1 -o "$out" --prefix out -q --mkv)
    echo "  round $round: mkv     $t s, cpu $cpu s (peak ${kib} KiB)"
    mkv_times+=("$t")
    [ "$kib" -gt "$mkv_kib" ] && mkv_kib=$kib
    rm -f "$out"/out.*
    read -r t kib cpu < <(measure dd if="$image" of="$out/copy.bin" bs=8M skip="$range_start" \
        count="$range_bytes" iflag=skip_bytes,count_bytes)
    echo "  round $round: copy    $t s, cpu $cpu s (peak ${kib} KiB)"
    copy_times+=("$t")
    copy_cpu=$(awk -v a="$copy_cpu" -v b="$cpu" 'BEGIN { print a + b }')
    best_copy=$(awk -v a="$t" -v b="$best_copy" 'BEGIN { print (a < b ? a : b) }')
    [ "$kib" -gt "$copy_kib" ] && copy_kib=$kib
done
"$build/quarrow" extract "$image" 1 -o "$out" --prefix out -q >/dev/null
"$build/quarrow" extract "$image" 1 -o "$out" --prefix out -q --mux >/dev/null
"$build/quarrow" extract "$image" 1 -o "$out" --prefix out -q --mkv >/dev/null
ls -l "$out"/out.* "$out/copy.bin" | awk '{print "  " $5 " " $9}'
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Ratios of each round's pair, then their median.
ratios() { local -n a=$1 b=$2; for i in "${!a[@]}"; do awk -v x="${a[$i]}" -v y="${b[$i]}" 'BEGIN { print x / y }'; done; }
awk -v e="$(median "${extract_times[@]}")" -v c="$(median "${copy_times[@]}")" \
    -v r="$(median $(ratios extract_times copy_times))" 'BEGIN {
    printf "median: extraction %.3f s, copy %.3f s; median ratio of the pairs %.3f (target <= 1.05)\n", e, c, r
}'
awk -v m="$(median "${mux_times[@]}")" -v e="$(median "${extract_times[@]}")" \
    -v r="$(median $(ratios mux_times extract_times))" -v k="$mux_kib" 'BEGIN {
    printf "median: --mux %.3f s, plain extraction %.3f s; median ratio of the pairs %.3f (target <= 1.15)\n", m, e, r
    printf "peak memory: --mux %.1f MiB (target <= 32)\n", k / 1024
}'
awk -v m="$(median "${mkv_times[@]}")" -v e="$(median "${mux_times[@]}")" \
    -v r="$(median $(ratios mkv_times mux_times))" -v k="$mkv_kib" 'BEGIN {
    printf "median: --mkv %.3f s, --mux %.3f s; median ratio of the pairs %.3f (target <= 1.05)\n", m, e, r
    printf "peak memory: --mkv %.1f MiB (target <= 32)\n", k / 1024
}'
awk -v e="$best_extract" -v c="$best_copy" -v ek="$extract_kib" -v ck="$copy_kib" \
    -v ec="$extract_cpu" -v cc="$copy_cpu" 'BEGIN {
    printf "extraction %.3f s, copy %.3f s (best of each), ratio %.3f (target <= 1.15)\n", e, c, e / c
    printf "processor time (user + system, all rounds): extraction %.2f s, copy %.2f s, ratio %.3f\n", ec, cc, ec / cc
    printf "peak memory: extraction %.1f MiB (target <= 40), copy %.1f MiB\n", ek / 1024, ck / 1024
}'

if [ -x "$build/bench/hot_loops_bench" ]; then
    "$build/bench/hot_loops_bench" --benchmark_min_time=0.5 2>/dev/null
fi
