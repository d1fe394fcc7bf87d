#!/usr/bin/env bash
# Builds the release packages into dist/, each from a fresh Release build of its own:
#   quarrow_VERSION_amd64.deb         the command-line program, its manual page and documentation
#   quarrow-VERSION-windows-x64.zip   quarrow.exe, quarrow-cli.exe, README.txt, LICENSE.txt (and
#                                     the sample disk when it stays under 2 MiB compressed)
# The version is the top-level CMake project's. QUARROW_JOBS sets the parallel build jobs (2).
# usage: tools/release.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${QUARROW_JOBS:-2}
dist=$root/dist
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dist"

echo "==> Debian package"
# Debian's own hardening flags (stack protector, fortified functions, read-only relocations).
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now" \
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_TESTS=OFF
cmake --build build-release -j"$jobs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
rm -f "$dist/quarrow_${version}_amd64.deb" "$dist/quarrow-${version}-windows-x64.zip"
(cd build-release && cpack -B "$dist")

echo "==> Windows zip"
# The sample disk is mostly empty clusters but holds a few MiB of media; it goes into the zip
# only while it stays small there.
build-release/tools/make_sample_disk "$work/sample.hex" >/dev/null
(cd "$work" && zip -9 -q sample.zip sample.hex)
compressed=$(stat -c %s "$work/sample.zip")
sample=""
if [ "$compressed" -lt $((2 * 1024 * 1024)) ]; then
    sample=$work/sample.hex
    echo "release: the sample disk goes into the zip ($compressed bytes compressed)"
else
    echo "release: the sample disk stays out of the zip ($compressed bytes compressed, 2 MiB at most)"
fi
cmake -S . -B build-release-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DQUARROW_TESTS=OFF -DQUARROW_RELEASE_SAMPLE="$sample"
cmake --build build-release-win -j"$jobs"
(cd build-release-win && cpack -B "$dist")
rm -rf "$dist/_CPack_Packages"

echo
ls -l "$dist/quarrow_${version}_amd64.deb" "$dist/quarrow-${version}-windows-x64.zip"
