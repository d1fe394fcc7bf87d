#!/usr/bin/env bash
# Installs every Debian package that building, testing and demonstrating Quarrow needs: the
# native toolchains (g++ and clang with its sanitizer runtime), CMake and Ninja, GoogleTest and
# Google Benchmark, CLI11 and nlohmann-json, the MinGW-w64 cross compiler, Wine with a virtual X
# display for the Windows tests and screenshots, ffmpeg and twolame for the fixture media, and
# losetup for the loop-device test; dvdauthor, which the one-file output test hands a program
# stream to; mkvtoolnix (mkvmerge, mkvinfo) and mediainfo, the readers the Matroska tests hand
# their .mkv to.
# clang-tidy: the static checks that tools/check.sh runs (.clang-tidy).
# mount and e2fsprogs: losetup, mount and mkfs.ext2 for the loop-device tests of the erase.
# nbdkit with its Python plugin, nbdfuse (libnbd-bin) and fuse3 serve a disk image as a drive with
# failing sectors for the rescue tests; gddrescue is the rescue they and the benchmark compare with.
# The release packages (tools/release.sh, tools/check_packages.sh): dpkg-dev (dpkg-shlibdeps,
# dpkg-buildflags) and lintian for the .deb, zip and unzip for the Windows zip, icoutils
# (wrestool) to read the programs' manifests back, man-db to render the manual page.
set -euo pipefail

packages=(
    build-essential cmake ninja-build g++ clang clang-format clang-tidy libclang-rt-14-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcli11-dev nlohmann-json3-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth xdotool imagemagick
    ffmpeg twolame dvdauthor mkvtoolnix mediainfo
    util-linux git ca-certificates
    mount e2fsprogs
    nbdkit nbdkit-plugin-python libnbd-bin fuse3 gddrescue time
    dpkg-dev lintian zip unzip icoutils man-db
)

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y "${packages[@]}"
