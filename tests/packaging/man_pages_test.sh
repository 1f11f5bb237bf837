#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# man_pages_test.sh BIN_DIR MAN_DIR
# Every option that a command's --help names is in the man page, and every option the man
# page names is one some --help names: the pages cannot drift from the programs.
set -uo pipefail
bin=$1 man=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

options_in() { grep -oE -- '(^|[^a-zA-Z0-9-])--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z0-9-]+' | sort -u; }
page_text() { MANWIDTH=200 man -l "$1" 2>/dev/null | sed 's/\x08.//g'; }

commands=$("$bin/reburn3" --help | awk '/^Commands:/ {i=1; next} i && /^[^ ]/ {i=0} i && /^  [a-z]/ && $1 != "help" {print $1}')
[ -n "$commands" ] || fail "reburn3 --help lists no commands"
help=$({ "$bin/reburn3" --help; for c in $commands; do "$bin/reburn3" "$c" --help; done; })
page=$(page_text "$man/reburn3.1")
for option in $(options_in <<<"$help"); do
    options_in <<<"$page" | grep -qxF -- "$option" || fail "reburn3(1) lacks $option"
done
for option in $(options_in <<<"$page"); do
    options_in <<<"$help" | grep -qxF -- "$option" || fail "reburn3(1) names $option, no --help does"
done
for command in $commands; do
    grep -q "reburn3 $command" <<<"$page" || fail "reburn3(1) has no part for $command"
done
for code in 0 1 2 3 4 130; do
    grep -qE "^ +$code +" <<<"$page" || fail "reburn3(1) lacks exit code $code"
done
grep -q ORX716_COM <<<"$page" || fail "reburn3(1) lacks the COMn variables"

gui_page=$(page_text "$man/reburn3-gui.1")
for option in $(env -u DISPLAY "$bin/reburn3-gui" --help | options_in); do
    options_in <<<"$gui_page" | grep -qxF -- "$option" || fail "reburn3-gui(1) lacks $option"
done
grep -q ORX716_COM <<<"$gui_page" || fail "reburn3-gui(1) lacks the COMn variables"
grep -qi "script" <<<"$gui_page" || fail "reburn3-gui(1) does not describe the script name"
exit $((failures > 0))
