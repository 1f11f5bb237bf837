#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# What a Windows program carries inside it, read from the .exe itself (no Wine needed):
# the icon, the version resources with the project's version, the manifest (common controls
# 6, per-monitor DPI awareness), and imports of system DLLs only: no MinGW runtime and no Qt
# DLL, so that the program starts from any folder on a machine without them. Each program
# prints one line, "exe_check: PROGRAM: ok" or "... FAILED: why".
#
#   exe_check.sh VERSION PROGRAM.exe...
set -uo pipefail

version=$1
shift
failures=0
for exe in "$@"; do
    name=$(basename "$exe")
    resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null)
    imports=$(x86_64-w64-mingw32-objdump -p "$exe" 2>/dev/null | sed -n 's/^\tDLL Name: //p')
    why=
    grep -q 'RT_GROUP_ICON' <<<"$resources" || why+="no icon; "
    grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$resources" || why+="no version $version; "
    grep -q 'Microsoft.Windows.Common-Controls' <<<"$resources" || why+="no common controls 6; "
    grep -q 'PerMonitorV2' <<<"$resources" || why+="no per-monitor DPI awareness; "
    foreign=$(grep -iE '^(lib|qt)|mingw' <<<"$imports" | tr '\n' ' ')
    [ -z "$foreign" ] || why+="needs $foreign; "
    [ -n "$imports" ] || why+="no import table read; "
    if [ -z "$why" ]; then
        echo "exe_check: $name: ok"
    else
        echo "exe_check: $name: FAILED: $why"
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ]
