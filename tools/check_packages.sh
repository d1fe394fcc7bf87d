#!/usr/bin/env bash
# Checks the packages that tools/release.sh left in dist/:
#   - the .deb passes lintian without errors; unpacked into a temporary root (dpkg -x) its quarrow
#     prints the version and lists the sample disk, and the manual page renders without warnings
#   - the zip holds its files; quarrow.exe's manifest asks for elevation, declares Windows 10/11
#     and DPI awareness and keeps the classic controls, quarrow-cli.exe's runs as invoker, and both
#     carry the version; unpacked into a fresh folder, quarrow-cli.exe prints the version and lists
#     the sample disk under Wine, and quarrow.exe starts and shows its main window
# Under Wine run as root \\.\PhysicalDrive0 is this machine's disk: QUARROW_DRIVES names the
# sample image as the only drive, so nothing else is scanned. Nothing is written anywhere but a
# temporary folder.
# usage: tools/check_packages.sh [DIST_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$root/dist}" && pwd)
version=$(sed -n 's/^project(Quarrow VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb=$dist/quarrow_${version}_amd64.deb
zip=$dist/quarrow-${version}-windows-x64.zip
work=$(mktemp -d)
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "packages: FAILED: $*" >&2
    exit 1
}
ok() { echo "packages: ok: $*"; }

for f in "$deb" "$zip"; do
    [ -f "$f" ] || fail "$f not found; run tools/release.sh first"
done
"$root/build-release/tools/make_sample_disk" "$work/sample.hex" >/dev/null ||
    fail "could not make the sample disk with build-release/tools/make_sample_disk"

echo "--> $deb"
lint_status=0
lint=$(lintian --fail-on error "$deb" 2>&1) || lint_status=$?
lint=$(grep -v 'running with root privileges' <<<"$lint" || true)
[ -z "$lint" ] || echo "$lint"
[ "$lint_status" -eq 0 ] || fail "lintian reports errors"
ok "lintian"
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/quarrow usr/share/man/man1/quarrow.1.gz usr/share/doc/quarrow/copyright \
    usr/share/doc/quarrow/README.md.gz usr/share/doc/quarrow/changelog.gz; do
    [ -f "$work/root/$f" ] || fail "the .deb lacks /$f"
done
out=$("$work/root/usr/bin/quarrow" --version) || fail "quarrow --version exits $?"
[ "$out" = "quarrow $version" ] || fail "quarrow --version prints '$out'"
ok "quarrow --version: $out"
out=$("$work/root/usr/bin/quarrow" list "$work/sample.hex") || fail "quarrow list exits $?"
grep -q '^MediaMaster Disk Image with 5 Recordings' <<<"$out" || fail "quarrow list prints: $out"
ok "quarrow list sample.hex: $(head -n 1 <<<"$out")"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man1/quarrow.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
ok "man quarrow"

echo "--> $zip"
mkdir "$work/unzipped"
unzip -q "$zip" -d "$work/unzipped"
dir=$work/unzipped/quarrow-${version}-windows-x64
for f in quarrow.exe quarrow-cli.exe README.txt LICENSE.txt; do
    [ -f "$dir/$f" ] || fail "the zip lacks quarrow-${version}-windows-x64/$f"
done
grep -q 'The Extras menu' "$dir/README.txt" ||
    fail "the zip's README.txt does not explain the Extras menu"
manifest=$(wrestool -x --raw -t 24 "$dir/quarrow.exe")
grep -q 'requestedExecutionLevel level="requireAdministrator"' <<<"$manifest" ||
    fail "quarrow.exe's manifest does not ask for elevation"
grep -q 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' <<<"$manifest" ||
    fail "quarrow.exe's manifest does not declare Windows 10/11"
grep -q '<dpiAware[^>]*>true</dpiAware>' <<<"$manifest" ||
    fail "quarrow.exe's manifest is not DPI aware"
! grep -q 'Microsoft.Windows.Common-Controls' <<<"$manifest" ||
    fail "quarrow.exe's manifest asks for Common Controls 6 (the windows would lose their look)"
wrestool -x --raw -t 24 "$dir/quarrow-cli.exe" |
    grep -q 'requestedExecutionLevel level="asInvoker"' ||
    fail "quarrow-cli.exe's manifest does not run as invoker"
for exe in quarrow.exe quarrow-cli.exe; do
    info=$(wrestool -x --raw -t 16 "$dir/$exe" | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -c '[:print:]' ' ')
    grep -q "ProductVersion *$version" <<<"$info" && grep -q 'the Quarrow team' <<<"$info" ||
        fail "$exe's version resource lacks version $version or the copyright"
done
ok "manifests (requireAdministrator, asInvoker) and version resources"

# Everything under Wine in one fresh prefix on one virtual display.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export QUARROW_DRIVES="Z:${work//\//\\}\\sample.hex"
export DIR="$dir" VERSION="$version" SAMPLE="Z:${work//\//\\}\\sample.hex"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -uo pipefail
    wineboot -i >/dev/null 2>&1
    wineserver -w
    cd "$DIR"
    out=$(wine quarrow-cli.exe --version | tr -d "\r")
    [ "$out" = "quarrow $VERSION" ] || { echo "packages: FAILED: quarrow-cli.exe --version prints \"$out\"" >&2; exit 1; }
    echo "packages: ok: quarrow-cli.exe --version: $out"
    out=$(wine quarrow-cli.exe list "$SAMPLE" | tr -d "\r")
    grep -q "^MediaMaster Disk Image with 5 Recordings" <<<"$out" ||
        { echo "packages: FAILED: quarrow-cli.exe list prints: $out" >&2; exit 1; }
    echo "packages: ok: quarrow-cli.exe list sample.hex: $(head -n 1 <<<"$out")"
    wine quarrow.exe >/dev/null 2>&1 &
    for _ in $(seq 60); do
        title=$(xdotool search --name "^Quarrow v" getwindowname %@ 2>/dev/null | head -n 1)
        [ -n "$title" ] && break
        sleep 1
    done
    wineserver -k
    wait
    [ -n "$title" ] || { echo "packages: FAILED: quarrow.exe showed no main window within 60 s" >&2; exit 1; }
    echo "packages: ok: quarrow.exe started: \"$title\""
' || fail "under Wine"
echo "packages: all checks passed"
