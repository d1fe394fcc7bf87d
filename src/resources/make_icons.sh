#!/bin/sh
# Draws the program's icons with ImageMagick: a hard disk (dark case, silver platter) with an
# orange play triangle on it. quarrow.ico (icon 105) holds 48, 32 and 16 pixel images;
# quarrow_small.ico (icon 113) the 16 pixel one. Run from this folder; the results are committed.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
draw() {  # size output
    s=$1
    convert -size 256x256 xc:none \
        -fill '#1f3a5f' -draw 'roundrectangle 16,16 239,239 36,36' \
        -fill '#c9d3de' -draw 'circle 128,128 128,36' \
        -fill '#8796a8' -draw 'circle 128,128 128,108' \
        -fill '#f28c1e' -stroke '#7a3f00' -strokewidth 6 -draw 'polygon 100,78 100,178 186,128' \
        -resize "${s}x${s}" "$2"
}
for s in 48 32 16; do draw $s "$tmp/$s.png"; done
convert "$tmp/48.png" "$tmp/32.png" "$tmp/16.png" quarrow.ico
convert "$tmp/16.png" quarrow_small.ico
