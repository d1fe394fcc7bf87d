#!/usr/bin/env bash
# Writes the given text files to stdout one after the other, a blank line between them, with
# Windows line ends (for LICENSE.txt in the Windows zip).
# usage: tools/join_text_crlf.sh FILE...
set -euo pipefail
first=1
for file in "$@"; do
    [ "$first" = 1 ] || printf '\r\n'
    first=0
    sed 's/\r*$/\r/' "$file"
done
