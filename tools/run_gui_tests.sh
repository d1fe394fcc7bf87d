#!/usr/bin/env bash
# Runs the Windows program's tests (quarrow_gui_tests.exe) under Wine on a virtual X display, in
# a fresh Wine prefix that is removed afterwards. The tests name drives only through
# QUARROW_DRIVES and keep their settings under registry keys of their own.
# usage: tools/run_gui_tests.sh [BUILD_WIN_DIR] [gtest arguments...]
set -euo pipefail
build=${1:-build-win}
shift || true
exe="$build/tests/quarrow_gui_tests.exe"
if [ ! -f "$exe" ]; then
    echo "run_gui_tests: $exe not found; build the Windows tree first" >&2
    exit 2
fi
prefix=$(mktemp -d)
cleanup() {
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT
xvfb-run -a -s "-screen 0 1024x768x24" env WINEPREFIX="$prefix" WINEDEBUG=-all wine "$exe" "$@"
