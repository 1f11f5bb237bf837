#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Windows programs, built and run under Wine:
#
#   1. scripts/windows-build.sh: reburn3-gui.exe, the core's tick-by-tick tests and the
#      Windows pieces' tests cross-built with MinGW-w64 and the static Qt for MinGW (the
#      windows-cross preset, build/windows-cross), the installer and the portable zip; the
#      programs' resources and imports checked (tests/windows/exe_check.sh);
#   2. the tests under Wine (the registry tests against Wine's own registry);
#   3. tests/windows/wine/wine_cli_e2e.sh: reburn3.exe downloading through COM3 into the
#      simulated device (its record byte-exact, its log line), a wrong byte and an unplug
#      ending as on Linux, and `check` printing the Linux program's bytes;
#      tests/windows/wine/wine_e2e.sh: the window on a virtual X display, downloading through
#      COM3 into the simulated device (its record byte-exact), a wrong byte, an unplug, and
#      "System Info..." (the window's picture: build/windows-cross/wine-window.png);
#   4. tests/windows/wine/wine_installer.sh: the installer installed, checked and uninstalled
#      silently.
#
# Exit status: 0 when every test passed, 1 on a build or test failure, and 77 (skipped) when
# Wine itself could not start here, or no Qt for MinGW is to be had; the reason is printed, and a skip is never a pass.
set -euo pipefail
cd "$(dirname "$0")/.."

qt_status=0
scripts/bootstrap.sh windows || qt_status=$?
if [ "$qt_status" -eq 77 ]; then
    echo "windows-check: SKIPPED: no static Qt for MinGW to build the Windows programs with (see above; REBURN3_QT_MINGW_SOURCES names its folder)" >&2
    exit 77
elif [ "$qt_status" -ne 0 ]; then
    exit "$qt_status"
fi

# The windows-cross preset of CMakePresets.json, in build/windows-cross.
build=build/windows-cross

wine=${WINE:-/usr/lib/wine/wine64}
command -v "$wine" >/dev/null || wine=$(command -v wine64 || command -v wine || true)

cmake --preset windows-cross -DREBURN3_WINE="${wine:-wine64}" >/dev/null
scripts/windows-build.sh
version=$(sed -n 's/^project(reburn3 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The programs' icon, version, manifest and DLL imports, read from the .exe files.
exe_status=0
tests/windows/exe_check.sh "$version" "$build"/dist/reburn3-"$version"/*.exe || exe_status=1

# What the end-to-end run needs on the Linux side: the simulated device, the X helper, and
# the preload that lets Wine use the simulator's pseudo-terminal as a COM port.
echo "windows-check: building the Linux program, the simulator and the X helper in build/default"
cmake --preset default >/dev/null
cmake --build --preset default --target reburn3 reburn3-sim x_probe --parallel 2
cc -O2 -Wall -Wextra -Werror -shared -fPIC -o "$build/wine_pty_serial.so" \
    tests/windows/wine_pty_serial/wine_pty_serial.c -ldl -lpthread

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
status=$exe_status
ctest --preset windows-cross || status=1

echo "windows-check: the command line, end to end under Wine"
WINE=$wine tests/windows/wine/wine_cli_e2e.sh "$build/src/reburn3.exe" build/default/src/reburn3 \
    build/default/src/reburn3-sim "$PWD/$build/wine_pty_serial.so" "$PWD/examples/orx716_demo.pf3" ||
    status=1

echo "windows-check: the window, end to end under Wine"
x_status=0
WINE=$wine scripts/with_x.sh --screen 1024x768 tests/windows/wine/wine_e2e.sh \
    "$build/src/reburn3-gui.exe" build/default/src/reburn3-sim build/default/tests/x_probe \
    "$PWD/$build/wine_pty_serial.so" "$PWD/examples/orx716_demo.pf3" \
    "$build/wine-window.png" || x_status=$?
if [ "$x_status" -eq 77 ]; then
    skip "no virtual X display for the window (Xvfb, jwm or xprop missing: scripts/bootstrap.sh)"
elif [ "$x_status" -ne 0 ]; then
    status=1
fi

echo "windows-check: the installer under Wine"
WINE=$wine scripts/with_x.sh tests/windows/wine/wine_installer.sh \
    "$build/dist/reburn3-$version-setup.exe" "$version" "$PWD/examples/orx716_demo.pf3" || status=1

[ "$status" -eq 0 ] && echo "windows-check: passed" || echo "windows-check: FAILED" >&2
exit "$status"
