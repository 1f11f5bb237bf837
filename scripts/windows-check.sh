#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Windows half, compiled and run: cross-builds the core, its tick-by-tick tests, the
# registry reader behind "System Info..." and the Windows COMn map with Debian's MinGW-w64,
# then runs the tests under Wine (the registry tests against Wine's own registry).
#
# Exit status: 0 when every test passed, 1 on a build or test failure, and 77 (skipped) when
# Wine itself could not start here; the reason is printed, and a skip is never a pass.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh windows

# The windows-cross preset of CMakePresets.json, in build/windows-cross.
build=build/windows-cross
jobs=$(nproc)

wine=${WINE:-/usr/lib/wine/wine64}
command -v "$wine" >/dev/null || wine=$(command -v wine64 || command -v wine || true)

echo "windows-check: cross-building in $build"
cmake --preset windows-cross -DREBURN3_WINE="${wine:-wine64}" >/dev/null
cmake --build --preset windows-cross --parallel "$jobs"

export WINEPREFIX=$PWD/$build/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko download prompts: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

skip() {
    echo "windows-check: SKIPPED: $*" >&2
    exit 77
}

stop_wine() {
    if [ -n "$wine" ] && [ -d "$WINEPREFIX" ]; then
        "$(dirname "$wine")/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
    fi
}
trap stop_wine EXIT

if [ -z "$wine" ]; then
    skip "no Wine loader (wine64) is installed"
fi
echo "windows-check: starting Wine in $WINEPREFIX"
status=0
boot_log=$(timeout 300 "$wine" wineboot --init 2>&1) || status=$?
if [ "$status" -ne 0 ]; then
    skip "Wine could not start (wineboot exit status $status): $(printf '%s' "$boot_log" | tail -n 3 | tr '\n' ' ')"
fi
if ! probe=$(timeout 120 "$wine" cmd /c echo reburn3-wine-ok 2>&1) ||
    ! printf '%s' "$probe" | grep -q reburn3-wine-ok; then
    skip "Wine started but runs no program: $(printf '%s' "$probe" | tail -n 3 | tr '\n' ' ')"
fi

echo "windows-check: running the tests under $wine"
ctest --preset windows-cross
