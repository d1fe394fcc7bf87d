#!/usr/bin/env bash
# The one test command. Runs, in order, and reports each with its summary:
#   1. native build (g++) and every test (ctest)
#   2. clang-tidy with the checks of .clang-tidy over the native build's sources (src/, tools/)
#   3. the same tests built with clang under AddressSanitizer and UndefinedBehaviorSanitizer
#   4. the libFuzzer targets (clang), each run for a short while from its corpus, so that a target
#      that no longer builds or an input it finds at once fails here
#   5. the Windows cross-build (MinGW-w64) and its tests under Wine, in a fresh Wine prefix on a
#      virtual X display
#   6. the release packages (tools/release.sh) and their checks (tools/check_packages.sh): lintian,
#      the .deb unpacked and run, the zip unpacked and run under Wine, the manifests read back
# Exits non-zero when any step fails. QUARROW_JOBS sets the parallel build and test jobs (2).
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=${QUARROW_JOBS:-2}
logs=$(mktemp -d)
names=()
results=()
summaries=()
failed=0

# step NAME LOG COMMAND...: runs the command with its output shown and kept in LOG.
step() {
    local name=$1 log=$2
    shift 2
    echo
    echo "==> $name"
    "$@" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local summary
    summary=$(grep -E 'tests passed|tests failed|^\[  PASSED  \]|^\[  FAILED  \]|^packages: (all|FAILED)|^clang-tidy: |^fuzz: ' \
        "$log" | tail -n 2 | tr '\n' ' ')
    names+=("$name")
    summaries+=("${summary:-no test summary}")
    if [ "$status" -eq 0 ]; then
        results+=("PASS")
    else
        results+=("FAIL")
        failed=1
    fi
}

native() {
    cmake -S . -B build -G Ninja &&
        cmake --build build -j"$jobs" &&
        ctest --test-dir build --output-on-failure -j"$jobs"
}

# Every file of src/ and tools/ that the native build compiles (the compile database of step 1);
# a warning fails the step (WarningsAsErrors in .clang-tidy).
tidy() {
    run-clang-tidy-14 -p build -j "$jobs" -quiet "$PWD/(src|tools)/" 2>&1 |
        grep -v '^Running clang-tidy\|warnings\? generated\|^Suppressed\|^Use -header-filter\|^Enabled checks' |
        sed '/^$/d'
    local status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] && echo "clang-tidy: no findings"
    return "$status"
}

sanitized() {
    CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DQUARROW_SANITIZE=ON \
        -DCMAKE_BUILD_TYPE=Debug &&
        cmake --build build-sanitize -j"$jobs" &&
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
            ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
}

# FUZZ_SECONDS (15) per target; the corpus is copied, so the tree's stays as it is.
fuzz() {
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUARROW_FUZZ=ON -DQUARROW_TESTS=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build build-fuzz -j"$jobs" || return 1
    local target name corpus status=0
    for target in build-fuzz/fuzz/*_fuzz; do
        name=$(basename "$target" _fuzz)
        corpus=$(mktemp -d)
        [ -d "fuzz/corpus/$name" ] && cp "fuzz/corpus/$name"/* "$corpus"/
        if "$target" -max_total_time="${FUZZ_SECONDS:-15}" -print_final_stats=1 "$corpus" \
            >"$corpus.log" 2>&1; then
            echo "$name: $(grep -E 'average_exec_per_sec' "$corpus.log" | tr -s ' ') inputs/s, $(grep -oE 'cov: [0-9]+' "$corpus.log" | tail -n 1)"
        else
            tail -n 40 "$corpus.log"
            echo "$name: FAILED"
            status=1
        fi
        rm -rf "$corpus" "$corpus.log"
    done
    [ "$status" -eq 0 ] && echo "fuzz: all targets ran clean"
    return "$status"
}

windows() {
    cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake &&
        cmake --build build-win -j"$jobs" || return 1
    local prefix status
    prefix=$(mktemp -d)
    # The prefix is made first (its first start takes a while) and the tests then run in it, all
    # on one virtual display so that windows opened by the tests have somewhere to go.
    WINEPREFIX="$prefix" WINEDEBUG=-all xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        wineboot -i >/dev/null 2>&1
        wineserver -w
        ctest --test-dir build-win --output-on-failure --timeout 1200
    '
    status=$?
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null
    rm -rf "$prefix"
    return $status
}

packages() {
    QUARROW_JOBS=$jobs bash tools/release.sh && bash tools/check_packages.sh
}

step "native build and tests" "$logs/native.log" native
step "clang-tidy" "$logs/tidy.log" tidy
step "sanitizer build (clang, ASan + UBSan) and tests" "$logs/sanitize.log" sanitized
step "libFuzzer targets, a short run each" "$logs/fuzz.log" fuzz
step "Windows cross-build and tests under Wine" "$logs/windows.log" windows
step "release packages and their checks" "$logs/packages.log" packages

echo
echo "==> summary"
for i in "${!names[@]}"; do
    printf '%s  %-50s %s\n' "${results[$i]}" "${names[$i]}" "${summaries[$i]}"
done
rm -rf "$logs"
exit $failed
