#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes a man page from a program's own --help with help2man, so that the page always
# says what the program says.
#
#   make_man_page.sh PROGRAM OUTPUT VERSION "ONE-LINE DESCRIPTION" [INCLUDE.h2m]
#
# When the
# program's --help lists commands (a "Commands:" section, as reburn3 has), the help of each
# command (`PROGRAM COMMAND --help`; not of "help", which is this help) follows under
# COMMANDS IN DETAIL, as tagged paragraphs that man fills to the reader's width.
set -euo pipefail

program=$1
output=$2
version=$3
description=$4
include=${5:-}
name=$(basename "$program")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# roff: a backslash is \e, a line starting with . or ' is text, not a request.
as_roff() {
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" -e 's/-/\\-/g'
}

# A command's --help as man text: "Heading:" lines in bold, each "  TAG  text" line (and
# the lines indented under it) a tagged paragraph, other lines filled text.
as_man() {
    as_roff | awk '
        function flush() {
            if (tag != "") {
                sub(/^ +/, "", text)
                # Text after a tag starts a line of its own: "... and" must not be a request.
                first = substr(text, 1, 1)
                if (first == "." || first == "\047") text = "\\&" text
                print ".TP"
                print "\\fB" tag "\\fR"
                if (text != "") print text
                after_tag = 1
            }
            tag = ""; text = ""
        }
        /^$/ { flush(); print ".PP"; after_tag = 0; next }
        /^[A-Z][A-Za-z ]*:$/ { flush(); print ".PP"; print ".B " $0; after_tag = 0; next }
        /^  [^ ]/ {
            flush()
            line = substr($0, 3)
            if (match(line, /  +/)) {
                tag = substr(line, 1, RSTART - 1); text = substr(line, RSTART + RLENGTH)
            } else {
                tag = line
            }
            next
        }
        /^   +[^ ]/ && tag != "" { line = $0; sub(/^ +/, "", line); text = text " " line; next }
        {
            flush()
            if (after_tag) print ".PP"
            after_tag = 0
            print
        }
        END { flush() }'
}

{
    if [ -n "$include" ]; then
        cat "$include"
        echo
    fi
    commands=$("$program" --help | awk '
        /^Commands:/ { inside = 1; next }
        inside && /^[^ ]/ { inside = 0 }
        inside && /^  [a-z]/ && $1 != "help" { print $1 }')
    if [ -n "$commands" ]; then
        echo "[COMMANDS IN DETAIL]"
        for command in $commands; do
            printf '.SS "%s %s"\n' "$name" "$command"
            "$program" "$command" --help | as_man
        done
    fi
} >"$work/include.h2m"

help2man --no-info --section=1 --version-string="$version" --name="$description" \
    --include="$work/include.h2m" --output="$work/page.1" "$program"
mv "$work/page.1" "$output"
