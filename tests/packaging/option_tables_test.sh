#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# option_tables_test.sh BIN_DIR [MAN_DIR]
# Each command's option table (as `__complete` gives it) against what is drawn from it:
# the options its --help lists are exactly the table's, each with its short name, and
# every one is in the man page and offered by the completion script.
set -uo pipefail
bin=$1 man=${2:-}
completion=$(dirname "$0")/../../packaging/completion/reburn3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The options a help lists as its own: the entries of its "Options:" part, long and short.
help_entries() {
    awk '/^Options:/ { inside = 1; next } inside && /^[^ ]/ { inside = 0 }
         inside && /^  -/ { print }' |
        grep -oE -- '^  (-[a-zA-Z], )?--[a-z][a-z0-9-]*' | grep -oE -- '-{1,2}[a-zA-Z][a-z0-9-]*' |
        sort -u
}
page_text() { MANWIDTH=200 man -l "$1" 2>/dev/null | sed 's/\x08.//g'; }

# shellcheck source=/dev/null
source "$completion"
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    PATH="$bin:$PATH" _reburn3
    printf '%s\n' "${COMPREPLY[@]}" | sed 's/=$//' | sort -u
}

for command in flash check ports serve simulate sim; do
    if [ $command = sim ]; then
        table=$("$bin/reburn3-sim" __complete) help=$("$bin/reburn3-sim" --help) page=reburn3-sim
        words=("$bin/reburn3-sim" -)
    else
        table=$("$bin/reburn3" __complete $command) help=$("$bin/reburn3" $command --help) page=reburn3
        words=("$bin/reburn3" $command -)
    fi
    names=$(awk '{ print $1 }' <<<"$table" | sort -u)
    [ -n "$names" ] || fail "$command: an empty table"
    [ "$(help_entries <<<"$help")" = "$names" ] ||
        fail "$command: --help lists [$(help_entries <<<"$help" | tr '\n' ' ')], the table [$(tr '\n' ' ' <<<"$names")]"
    [ "$(offered "${words[@]}")" = "$names" ] ||
        fail "$command: the completion offers [$(offered "${words[@]}" | tr '\n' ' ')], the table [$(tr '\n' ' ' <<<"$names")]"
    if [ -n "$man" ]; then
        text=$(page_text "$man/$page.1")
        for name in $names; do
            grep -qF -- "$name" <<<"$text" || fail "$command: $page(1) lacks $name"
        done
    fi
done
exit $((failures > 0))
