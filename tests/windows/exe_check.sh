#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# What a Windows program carries inside it, read from the .exe itself (no Wine needed):
# the icon, the version resources with the project's version, the manifest (common controls
# 6, per-monitor DPI awareness), the subsystem (the window a GUI program, reburn3.exe a
# console one), and imports of system DLLs only: no MinGW runtime and no Qt
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
    # The window is a GUI program (no console opens beside it from Explorer); the command
    # line a console program (its output goes to the console or the redirection it got).
    subsystem=$(x86_64-w64-mingw32-objdump -p "$exe" 2>/dev/null | sed -n 's/^Subsystem\t*//p')
    case $name in
        reburn3-gui.exe) want="00000002" ;;
        *) want="00000003" ;;
    esac
    case $subsystem in "$want"*) ;; *) why+="subsystem \"$subsystem\", not $want; " ;; esac
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
