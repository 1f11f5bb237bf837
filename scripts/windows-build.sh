#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Windows programs on Debian: reburn3-gui.exe (the window) and reburn3.exe (the
# command line: flash, check, ports) with the windows-cross
# preset (MinGW-w64 and the static Qt for MinGW, in build/windows-cross), then packs them as
# Windows users take them: an NSIS installer and a portable zip, in build/windows-cross/dist:
#
#   reburn3-VERSION-setup.exe      per-machine install, Start menu, uninstaller, .pf3 association
#   reburn3-VERSION-portable.zip   the programs and the licence, to run from any folder
#
# The programs link Qt and the MinGW runtime statically: each .exe stands alone.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh windows

build=build/windows-cross
echo "windows-build: cross-building in $build"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake --preset windows-cross "${launcher[@]}" >/dev/null
cmake --build --preset windows-cross --parallel 2

version=$(sed -n 's/^project(reburn3 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist=$build/dist
rm -rf "$dist"
mkdir -p "$dist/reburn3-$version"
programs=("$build/src/reburn3-gui.exe" "$build/src/reburn3.exe")
cp "${programs[@]}" "$dist/reburn3-$version/"
cp LICENSE "$dist/reburn3-$version/LICENSE.txt"

makensis -V2 -DVERSION="$version" -DBINDIR="$PWD/$build/src" -DSOURCEDIR="$PWD" \
    -DOUTFILE="$PWD/$dist/reburn3-$version-setup.exe" packaging/windows/reburn3.nsi
(cd "$dist" && zip -q -r -X "reburn3-$version-portable.zip" "reburn3-$version")

for file in "${programs[@]}" "$dist/reburn3-$version-setup.exe" "$dist/reburn3-$version-portable.zip"; do
    printf 'windows-build: %-40s %9d bytes\n' "$(basename "$file")" "$(stat -c %s "$file")"
done
