#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# systemd_units_test.sh DEBIAN_DIR REBURN3: the station service's two units (the single
# reburn3-serve.service and the template reburn3-serve@.service) load without a warning
# under systemd-analyze verify, running the REBURN3 built here in place of /usr/bin/reburn3;
# both keep an exposure of 2.0 or less under systemd-analyze security (as systemd 252 of
# Debian 12 weighs it), and both carry the same hardening, line for line.
set -euo pipefail
debian=$1
program=$2
if ! command -v systemd-analyze >/dev/null; then
    echo "SKIPPED: systemd-analyze (Debian systemd) is not installed"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The template is checked as an instance, as systemd loads it (%i expanded).
cp "$debian/reburn3.reburn3-serve.service" "$work/reburn3-serve.service"
cp "$debian/reburn3.reburn3-serve@.service" "$work/reburn3-serve@line1.service"
for unit in reburn3-serve.service reburn3-serve@line1.service; do
    grep -q '^ExecStart=/usr/bin/reburn3 serve ' "$work/$unit" || fail "$unit: no ExecStart of reburn3 serve"
    sed -i "s|^ExecStart=/usr/bin/reburn3 |ExecStart=$program |" "$work/$unit"
    # man: the pages are installed with the package, not on a build machine.
    (cd "$work" && systemd-analyze verify --man=no "$unit") >"$work/verify.txt" 2>&1 ||
        { cat "$work/verify.txt"; fail "$unit: systemd-analyze verify"; }
    [ ! -s "$work/verify.txt" ] || { cat "$work/verify.txt"; fail "$unit: systemd-analyze verify warns"; }

    (cd "$work" && systemd-analyze security --offline=yes "$unit") >"$work/security.txt" 2>&1 || true
    score=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p' "$work/security.txt")
    [ -n "$score" ] || { cat "$work/security.txt"; fail "$unit: no exposure level"; }
    echo "$unit: exposure $score"
    awk -v s="$score" 'BEGIN { exit !(s <= 2.0) }' ||
        { grep '✗' "$work/security.txt"; fail "$unit: exposure $score is over 2.0"; }
done

# What differs between the two is where each keeps its options, state and secrets; from
# UMask= on (the hardening) they are the same.
hardening() { sed -n '/^UMask=/,$p' "$1"; }
diff <(hardening "$debian/reburn3.reburn3-serve.service") \
    <(hardening "$debian/reburn3.reburn3-serve@.service") ||
    fail "the two units' hardening differs"
echo "OK"
