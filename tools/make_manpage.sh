#!/usr/bin/env bash
# Writes the manual page quarrow.1 (roff) to stdout from the command-line program's own --help
# texts: the program's description and options, then one subsection per command with its usage,
# description, arguments and notes, so the page never drifts from what the program says.
# usage: tools/make_manpage.sh PATH_TO_QUARROW VERSION
set -euo pipefail
program=$1
version=$2
# The page's date: SOURCE_DATE_EPOCH when a reproducible build sets it, else today.
date=$(LC_ALL=C date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" '+%B %Y')

# roff-escapes a help text read on stdin and lays it out: free text becomes paragraphs, the
# "Positionals:" and "Options:" tables become tagged paragraphs, and the "Usage:" line of a
# command becomes its subsection heading. With top=1 (the program's own help) the usage line is
# left to the synopsis and the options get their section; a command's help options, the same in
# every command, are left out.
format_help() {
    awk -v top="${1:-0}" '
    function esc(s) {
        gsub(/\\/, "\\e", s)
        gsub(/-/, "\\-", s)
        if (s ~ /^[.'"'"']/) s = "\\&" s
        return s
    }
    function flush_item() {
        if (item != "") {
            print ".TP"
            print "\\fB" esc(item) "\\fR"
            print esc(text)
        }
        item = ""; text = ""
    }
    /^Usage: / {
        flush_item(); table = 0
        if (!top) { sub(/^Usage: /, ""); print ".SS \"" esc($0) "\""; }
        next
    }
    /^(Positionals|Options):$/ { flush_item(); table = 1; para = 0; if (top) print ".SH OPTIONS"; next }
    /^Subcommands:$/ { flush_item(); table = 0; stop = 1 }
    stop { next }
    /^$/ { flush_item(); table = 0; para = 0; next }
    table && /^      / {
        # An option too long for the first column has its text on the next line.
        line = $0; sub(/^ +/, "", line); text = text (text == "" ? "" : " ") line; next
    }
    table && /^  / {
        flush_item()
        # The first column is 30 characters wide, the two-space indent included; a longer name
        # fills the line and its text follows on the next.
        if (length($0) <= 30 || substr($0, 30, 1) == " ") {
            item = substr($0, 3, 28); sub(/ +$/, "", item); text = substr($0, 31)
        } else {
            item = substr($0, 3); text = ""
        }
        if (!top && item ~ /^(-h,--help|--help-all)( |$)/) item = ""
        next
    }
    # Free text is wrapped to the terminal: the lines of one paragraph run on until a blank line.
    { flush_item(); table = 0; if (!para) print ".PP"; para = 1; print esc($0) }
    END { flush_item() }
    '
}

commands=$("$program" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [a-z]/ { print $1 }')

cat <<PAGE
.TH QUARROW 1 "$date" "quarrow $version" "User Commands"
.SH NAME
quarrow \\- read and maintain the disk of the MediaMaster 9902s satellite receiver
.SH SYNOPSIS
.B quarrow
.I COMMAND
.RI [ OPTIONS ]
.I ARGUMENTS
.br
.B quarrow
.RB [ \\-\\-help | \\-\\-help\\-all | \\-\\-version ]
.SH DESCRIPTION
PAGE
"$program" --help | format_help 1
echo ".SH COMMANDS"
for command in $commands; do
    # The usage line first: it becomes the command's heading, its wrapped description follows.
    "$program" "$command" --help |
        awk '{ line[NR] = $0 } !u && /^Usage: / { u = NR } END { if (u) print line[u]; for (i = 1; i <= NR; i++) if (i != u) print line[i] }' |
        format_help 0
done
cat <<'PAGE'
.SH ENVIRONMENT
.TP
.B QUARROW_DRIVES
Paths of files or devices, separated by ':', that stand for the physical drives 0, 1, ... in
place of the machine's own whole-disk block devices (an empty entry is a drive that does not
open).
.SH NOTES
Reading or writing a physical drive needs read (or write) access to its device, usually root:
run the command with sudo.
.SH SEE ALSO
The README in /usr/share/doc/quarrow/ describes every command with examples.
PAGE
