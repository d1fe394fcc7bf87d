#!/usr/bin/env bash
# Builds quarrow, writes the sample MediaMaster disk image to build/sample.hex (five recordings
# made from the fixture media in tests/fixtures), shows what is on it, extracts one recording
# (its clusters run 9 -> 4 -> 6), as separate video and audio and as one program stream (--mux),
# and shows the files written and, where ffprobe is installed, what it reads in them.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja
cmake --build build -j2 --target quarrow_cli make_sample_disk
build/tools/make_sample_disk build/sample.hex

echo
echo "\$ quarrow list build/sample.hex"
build/quarrow list build/sample.hex

out=build/demo
rm -rf "$out"
mkdir -p "$out"
echo
echo "\$ quarrow extract build/sample.hex 3 -o $out"
build/quarrow extract build/sample.hex 3 -o "$out"
echo
echo "\$ quarrow extract build/sample.hex 3 -o $out --mux --metadata"
build/quarrow extract build/sample.hex 3 -o "$out" --mux --metadata
echo
ls -l "$out"
if command -v ffprobe >/dev/null; then
    for f in "$out"/*.m2v "$out"/*.mp2 "$out"/*.mpg; do
        echo
        echo "\$ ffprobe \"$f\""
        ffprobe -v error -count_frames -show_entries \
            stream=codec_name,width,height,nb_read_frames,sample_rate,channels,duration:format=format_name \
            -of default=noprint_wrappers=1 "$f"
    done
fi
