#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Puts the static Qt 6.4.2 for x86_64-w64-mingw32 in place for the Windows build, with its
# serial port module rebuilt from source with one patch
# (packaging/windows/qtserialport-wait-comm-event.patch: WaitCommEvent completes through a
# tagged event and a thread-pool wait, so that Wine's serial layer, which blocks a
# WaitCommEvent whose OVERLAPPED has no event, neither hangs the program nor loses the
# completion; see docs/windows.md).
#
#   scripts/windows-qt.sh        unpack and patch when missing; nothing to do otherwise
#
# REBURN3_QT_MINGW names the tree (default /opt/qt6-mingw); REBURN3_QT_MINGW_SOURCES the
# folder with qt6-mingw-6.4.2-static-x86_64.tar.xz and qtserialport-6.4.2.tar.gz (default
# shared/toolchains/qt6-mingw beside the checkout, or beside its parent for a worktree).
# Exit status 77 when neither the tree nor its tarball is to be found.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
qt=${REBURN3_QT_MINGW:-/opt/qt6-mingw}
# A worktree sits one folder deeper than the checkout: look beside both.
sources=${REBURN3_QT_MINGW_SOURCES:-}
if [ -z "$sources" ]; then
    for candidate in "$root/../shared/toolchains/qt6-mingw" "$root/../../shared/toolchains/qt6-mingw"; do
        if [ -d "$candidate" ]; then sources=$candidate; break; fi
    done
fi
patch_file=$root/packaging/windows/qtserialport-wait-comm-event.patch
stamp=$qt/.reburn3-serialport-patch
want=$(sha256sum "$patch_file" | cut -d' ' -f1)

if [ ! -x "$qt/bin/qt-cmake" ]; then
    tarball=${sources:-?}/qt6-mingw-6.4.2-static-x86_64.tar.xz
    # Without the tree there is no Windows program to build: 77, a skip with its reason.
    [ -f "$tarball" ] || { echo "windows-qt: no Qt for MinGW at $qt and no $tarball" >&2; exit 77; }
    echo "windows-qt: unpacking $tarball"
    parent=$(dirname "$qt")
    mkdir -p "$parent"
    tar xJf "$tarball" -C "$parent"
    if [ "$parent/qt6-mingw" != "$qt" ]; then mv "$parent/qt6-mingw" "$qt"; fi
fi

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
    exit 0
fi

echo "windows-qt: rebuilding the serial port module with $(basename "$patch_file")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar xzf "${sources:?no shared/toolchains/qt6-mingw found: set REBURN3_QT_MINGW_SOURCES}/qtserialport-6.4.2.tar.gz" -C "$work"
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
patch -d "$src" -p1 --quiet <"$patch_file"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
"$qt/bin/qt-cmake" -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "${launcher[@]}" >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --parallel 2 >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >/dev/null
echo "$want" >"$stamp"
echo "windows-qt: $qt ready"
