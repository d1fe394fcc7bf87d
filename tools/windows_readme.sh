#!/usr/bin/env bash
# Writes README.txt for the Windows zip to stdout: the program's title and the parts of README.md
# marked for Windows users (between <!-- windows-readme --> and <!-- /windows-readme -->), as
# plain text with Windows line ends: headings underlined, code indented, pictures named by their
# captions, Markdown marks left out.
# usage: tools/windows_readme.sh README.md VERSION
set -euo pipefail
awk -v version="$2" '
# One blank line at most between paragraphs, none at the end.
function out(s) {
    if (s == "") { blank = 1; return }
    if (blank && printed) printf "\r\n"
    blank = 0; printed = 1
    printf "%s\r\n", s
}
function underline(s, c,    line) {
    line = s; gsub(/./, c, line); out(s); out(line)
}
function plain(s) {
    gsub(/\*\*/, "", s)
    gsub(/`/, "", s)
    # [text](target) keeps its text.
    while (match(s, /\[[^]]*\]\([^)]*\)/)) {
        link = substr(s, RSTART, RLENGTH)
        sub(/\]\(.*/, "", link)
        s = substr(s, 1, RSTART - 1) substr(link, 2) substr(s, RSTART + RLENGTH)
    }
    gsub(/VERSION/, version, s)
    return s
}
NR == 1 { underline("Quarrow " version, "="); out(""); next }
/^<!-- windows-readme -->$/ { on = 1; next }
/^<!-- \/windows-readme -->$/ { on = 0; out(""); next }
!on { next }
/^ *```/ { code = !code; next }
code { line = $0; sub(/^ */, "", line); out("    " line); next }
/^!\[/ { alt = $0; sub(/^!\[/, "", alt); sub(/\].*/, "", alt); if (alt != "") out("    [Picture: " alt "]"); next }
/^\|/ { next }
/^### / { sub(/^### /, ""); underline(plain($0), "-"); next }
/^## / { sub(/^## /, ""); underline(plain($0), "="); next }
{ out(plain($0)) }
' "$1"
