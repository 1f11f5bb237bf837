#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# man_pages_test.sh BIN_DIR MAN_DIR
# Every option that a command's --help names is in the man page, and every option the man
# page names is one some --help names: the pages cannot drift from the programs. Every page
# reads at 80 columns, names its examples, and says its exit status.
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
grep -q "^EXIT STATUS" <<<"$gui_page" || fail "reburn3-gui(1) has no EXIT STATUS"
# Each variable of ENVIRONMENT is a tag with its text, not a blank tag.
awk '/^ENVIRONMENT/ { inside = 1; next } inside && /^[A-Z]/ { exit } inside && NF { print }' \
    <<<"$gui_page" | tr -s ' \n' ' ' | grep -q "ORX716_COMn the device" ||
    fail "reburn3-gui(1): ENVIRONMENT does not give ORX716_COMn with its text"

sim_page=$(page_text "$man/reburn3-sim.1")
for option in $("$bin/reburn3-sim" --help | options_in); do
    options_in <<<"$sim_page" | grep -qxF -- "$option" || fail "reburn3-sim(1) lacks $option"
done
grep -q "^EXIT STATUS\|^ *124 " <<<"$sim_page" || fail "reburn3-sim(1) lacks its exit codes"

for page in reburn3 reburn3-sim; do
    text=$(page_text "$man/$page.1")
    grep -q "^EXAMPLES" <<<"$text" || fail "$page(1) has no EXAMPLES"
    grep -q "/usr/share/doc/reburn3/examples/orx716_demo.pf3" <<<"$text" ||
        fail "$page(1) does not name the installed example scripts"
done

# Every --help fits 79 columns, as the pages made from them do.
wide=$({ "$bin/reburn3" --help; for c in $commands; do "$bin/reburn3" "$c" --help; done
    "$bin/reburn3-sim" --help; env -u DISPLAY "$bin/reburn3-gui" --help; } | awk 'length > 79')
[ -z "$wide" ] || fail "--help lines over 79 columns: $wide"

# Rendered at 80 columns, no line runs past them (words would break mid-word).
for page in reburn3 reburn3-gui reburn3-sim; do
    MANWIDTH=80 man -l "$man/$page.1" 2>/dev/null | sed 's/\x08.//g' >"$man/$page.80"
    [ -s "$man/$page.80" ] || fail "$page(1) does not render"
    long=$(awk 'length > 80 { n++ } END { print n + 0 }' "$man/$page.80")
    [ "$long" -eq 0 ] || fail "$page(1): $long lines over 80 columns, first: $(awk 'length > 80 { print; exit }' "$man/$page.80")"
done

# groff reads every line as lintian does: no line of --help text taken for a request.
for page in reburn3 reburn3-gui reburn3-sim; do
    warnings=$(groff -man -ww -z "$man/$page.1" 2>&1)
    [ -z "$warnings" ] || fail "$page(1): groff warns: $warnings"
done
exit $((failures > 0))
