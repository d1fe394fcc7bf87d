#!/usr/bin/env bash
# Photographs the Windows program under Wine: quarrow.exe runs in a Wine virtual desktop on a
# virtual X display with the sample disk as its only "physical drive" (QUARROW_DRIVES), and
# quarrow_gui_driver.exe moves it from outside. Writes docs/screenshots/:
#   main.png      the main window after start-up detection
#   selected.png  after selecting the longest recording
#   during.png    in the middle of its extraction, its button reading "Cancel" and the status line
#                 the MB done and the time left (the program is held still for the shot)
#   after.png     the result box at the end of the extraction
#   manage.png, about.png, wait.png (with its Cancel), diagnostics.png, erase.png, dump.png: each tool window,
#                 opened by dialog_gallery.exe (the program started with that window open);
#                 a plain file stands for drive 0 there, the sample disk is drive 1
#   extras.png    the Extras menu pulled down, two of its toggles on
#   rescue.png    the Rescue Failing Disk dialog with an image file chosen
#   cut-list.png  the Cut List dialog for the longest recording, two stretches typed in
#   extract-all.png  the main window in the middle of Extract All Recordings (held still)
# usage: tools/screenshots.sh [BUILD_WIN_DIR] [NATIVE_BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "${1:-$root/build-win}" && pwd)
native=${2:-$root/build}

if [ "${SCREENSHOTS_INSIDE:-}" != 1 ]; then
    for exe in "$win/quarrow.exe" "$win/tools/quarrow_gui_driver.exe" \
        "$win/tools/dialog_gallery.exe"; do
        [ -f "$exe" ] || { echo "screenshots: $exe not found; build the Windows tree" >&2; exit 2; }
    done
    work=$(mktemp -d)
    cleanup() {
        WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    if [ -x "$native/tools/make_sample_disk" ]; then
        "$native/tools/make_sample_disk" "$work/sample.hex" >/dev/null
    else
        WINEPREFIX="$work/prefix" WINEDEBUG=-all wine "$win/tools/make_sample_disk.exe" \
            "Z:$work/sample.hex" "Z:$root/tests/fixtures" >/dev/null
    fi
    mkdir -p "$root/docs/screenshots"
    SCREENSHOTS_INSIDE=1 WORK="$work" OUT="$root/docs/screenshots" \
        xvfb-run -a -s "-screen 0 1024x768x24" bash ${SCREENSHOTS_TRACE:+-x} "$0" "$win" "$native"
    exit 0
fi

export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all
export QUARROW_DRIVES="Z:${WORK//\//\\}\\sample.hex"
driver() { wine "$win/tools/quarrow_gui_driver.exe" "$@" | tr -d '\r'; }
# shot NAME X Y W H: the part of the screen that holds the windows.
shot() {
    import -window root -crop "${4}x${5}+${2}+${3}" +repage "$OUT/$1.png"
    echo "screenshots: $OUT/$1.png"
}

wineboot -i >/dev/null 2>&1
# Debian's Wine does not find its own Marlett font, and the caption buttons then show letters.
for font in /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$font" ] && cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
done
mkdir -p "$WINEPREFIX/drive_c/Extracted"
wine reg add 'HKLM\SOFTWARE\Quarrow' /v DefaultPath /t REG_SZ /d 'C:\Extracted' /f >/dev/null 2>&1
wine explorer /desktop=quarrow,1024x768 "$win/quarrow.exe" &
read -r x y w h < <(driver wait)
sleep 1
shot main "$x" "$y" "$w" "$h"

driver select 3
sleep 1
shot selected "$x" "$y" "$w" "$h"

driver extract-pause 30
sleep 1
shot during "$x" "$y" "$w" "$h"
driver resume

read -r bx by bw bh < <(driver wait-box "Quarrow Information")
sleep 1
# The box may stand out of the main window: take both.
right=$(( (x + w > bx + bw) ? x + w : bx + bw ))
bottom=$(( (y + h > by + bh) ? y + h : by + bh ))
left=$(( x < bx ? x : bx ))
top=$(( y < by ? y : by ))
shot after "$left" "$top" $((right - left)) $((bottom - top))
driver close-box "Quarrow Information"
sleep 1
wineserver -k

# The tool windows, one program start each. The desktop's plain background is cut away.
head -c 1048576 /dev/zero >"$WORK/system.img"
export QUARROW_DRIVES="Z:${WORK//\//\\}\\system.img;Z:${WORK//\//\\}\\sample.hex"
for window in manage about wait diagnostics erase dump extras rescue cut-list; do
    wine explorer /desktop=quarrow,1024x768 "$win/tools/dialog_gallery.exe" "$window" &
    sleep "${SHOT_DELAY:-5}"
    import -window root -trim +repage "$OUT/$window.png"
    echo "screenshots: $OUT/$window.png"
    wineserver -k || true
    wait || true
done

# Extract All, photographed in its middle: the gallery answers the folder browser, the driver
# starts the batch and holds the window thread still.
wine explorer /desktop=quarrow,1024x768 "$win/tools/dialog_gallery.exe" extract-all &
read -r x y w h < <(driver wait)
sleep "${SHOT_DELAY:-5}"
driver menu-pause 40015 "${EXTRACT_ALL_PAUSE:-1400}"
sleep 1
shot extract-all "$x" "$y" "$w" "$h"
driver resume
driver wait-box "Quarrow Information" >/dev/null || true
wineserver -k || true
wait || true
