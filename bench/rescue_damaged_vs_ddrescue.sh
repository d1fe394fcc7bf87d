#!/usr/bin/env bash
# Times `quarrow rescue` of a damaged disk against GNU ddrescue imaging it front to back. The
# disk is a sparse 2 GiB image with four recordings scattered over it (bench/make_scattered_disk),
# served by nbdkit through tests/support/failing_disk.py and seen as a file through nbdfuse:
# three unreadable areas (one inside the newest recording) and one slow area. Measured, in
# alternating rounds: the time until the rescue reports the newest recording done (every
# readable sector of it in the image), the rescue's whole time, and ddrescue's whole time; the
# medians and their ratios (targets: newest recording <= 0.3 x ddrescue).
#   bench/rescue_damaged_vs_ddrescue.sh [BUILD_DIR]
# BUILD_DIR must be configured with -DQUARROW_BENCH=ON (default: build-bench, made if missing).
# Needs nbdkit with its Python plugin, nbdfuse, fuse3 and gddrescue (tools/deps.sh), and root
# for FUSE. Nothing but files under a temporary folder is read or written.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
rounds=${ROUNDS:-3}
for tool in ddrescue nbdkit nbdfuse fusermount3; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (tools/deps.sh)"; exit 1; }
done
if [ ! -x "$build/bench/make_scattered_disk" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BENCH=ON \
        -DQUARROW_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target quarrow_cli make_scattered_disk >/dev/null

work=$(mktemp -d /tmp/quarrow-bench-XXXXXX)
out=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d /dev/shm/quarrow-bench-XXXXXX); fi
mnt=$work/mnt
mkdir -p "$mnt"
cleanup() {
    fusermount3 -u "$mnt" 2>/dev/null || true
    rm -rf "$work" "$out"
}
trap cleanup EXIT
image=$work/disk.hex
"$build/bench/make_scattered_disk" "$image" >"$work/layout"
echo "Sparse disk image: $(stat -c %s "$image") bytes, $(du -k "$image" | cut -f1) KiB on disk"
# The newest recording's second cluster gets 16 bad sectors; two more areas lie in free space;
# the slow area (20 ms more a read) covers 256 MiB of free space in the middle of the disk.
newest_second=$(awk 'NR == 1 { print $3 }' "$work/layout")
bad="$((newest_second + 5000))-$((newest_second + 5015)),600000-600063,3900000-3900127"
slow="1700000-2224287:20"
echo "bad sectors: $bad; slow: $slow"

nbdfuse "$mnt/disk" --command nbdkit -s python "$root/tests/support/failing_disk.py" \
    file="$image" bad="$bad" slow="$slow" >"$work/nbdfuse.log" 2>&1 &
for _ in $(seq 100); do [ -r "$mnt/disk" ] && break; sleep 0.05; done
[ -r "$mnt/disk" ] || { cat "$work/nbdfuse.log"; exit 1; }
source=$mnt/disk

now() { date +%s.%N; }
# Runs quarrow rescue; prints "newest total": seconds until the notice for recording 1, and in all.
quarrow_run() {
    local t0 first=""
    t0=$(now)
    while IFS= read -r line; do
        case $line in
            "Recording 1 ("*) [ -z "$first" ] && first=$(now) ;;
        esac
    done < <("$build/quarrow" rescue "$source" "$out/q.hex" --map "$out/q.map" 2>&1 >/dev/null)
    local t1
    t1=$(now)
    awk -v a="$t0" -v f="${first:-$t1}" -v b="$t1" 'BEGIN { printf "%.3f %.3f\n", f - a, b - a }'
}
ddrescue_run() {
    local t0 t1
    t0=$(now)
    ddrescue -q "$source" "$out/d.hex" "$out/d.map" >/dev/null 2>&1 || true
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}

newest=() whole=() theirs=()
for round in $(seq "$rounds"); do
    rm -f "$out"/*
    if [ $((round % 2)) -eq 1 ]; then
        read -r n w < <(quarrow_run)
        rm -f "$out"/q.*
        d=$(ddrescue_run)
    else
        d=$(ddrescue_run)
        rm -f "$out"/d.*
        read -r n w < <(quarrow_run)
    fi
    echo "  round $round: quarrow newest recording $n s, whole rescue $w s; ddrescue $d s"
    newest+=("$n") whole+=("$w") theirs+=("$d")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
awk -v n="$(median "${newest[@]}")" -v w="$(median "${whole[@]}")" -v d="$(median "${theirs[@]}")" \
    -v r="$rounds" 'BEGIN {
    printf "median of %d rounds: newest recording %.3f s, whole rescue %.3f s, ddrescue %.3f s\n", r, n, w, d
    printf "ratios to ddrescue: newest recording %.3f (target <= 0.3), whole rescue %.3f\n", n / d, w / d
}'
