#!/usr/bin/env bash
# Builds quarrow, writes the sample MediaMaster disk image to build/sample.hex (five recordings
# made from the fixture media in tests/fixtures) and shows what is on it.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja
cmake --build build -j2 --target quarrow_cli make_sample_disk
build/tools/make_sample_disk build/sample.hex

echo
echo "\$ quarrow list build/sample.hex"
build/quarrow list build/sample.hex
