#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The installer under Wine, as an administrator deploying it runs it: silently (/S).
# Installs, then checks what a Windows user finds (the programs in Program Files, the
# Start-menu entry, the .pf3 association opening the window, the "Apps & features" entry,
# the installed window answering --version, and on an X display a script opened the way
# Explorer opens it bringing up the window), uninstalls silently, and checks that all of it is
# gone. Each check prints "wine_installer: CHECK: ok" or "... FAILED: why".
#
#   wine_installer.sh SETUP_EXE VERSION [SCRIPT]
#
# WINE and WINEPREFIX name the loader and a started prefix. Exit status 0 when every check
# passed, 1 otherwise.
set -uo pipefail

setup=$1 version=$2 script=${3:-}
wine=${WINE:?}
failures=0
root=$WINEPREFIX/drive_c
install_dir="$root/Program Files/reburn3"
menu_dir="$root/ProgramData/Microsoft/Windows/Start Menu/Programs/reburn3"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\reburn3'

check() {  # NAME CONDITION-STATUS WHY
    if [ "$2" -eq 0 ]; then
        echo "wine_installer: $1: ok"
    else
        echo "wine_installer: $1: FAILED: $3"
        failures=$((failures + 1))
    fi
}
reg_value() {  # KEY VALUE -> the value's data, as reg query prints it
    "$wine" reg query "$1" ${2:+/v "$2"} 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *\(.*[^ ]\) \{1,\}REG_[A-Z_]* \{1,\}\(.*\)$/\1|\2/p'
}
wait_gone() {  # PATH: the uninstaller runs on from a copy of itself; give it time
    for _ in $(seq 100); do [ -e "$1" ] || return 0; sleep 0.2; done
    return 1
}

"$wine" "$setup" /S >/dev/null 2>&1
status=$?
check install "$status" "the installer ended with $status"

test -f "$install_dir/reburn3-gui.exe" && test -f "$install_dir/LICENSE.txt" &&
    test -f "$install_dir/uninstall.exe"
check "programs in Program Files" $? "$(ls "$install_dir" 2>&1 | tr '\n' ' ')"

test -f "$menu_dir/reburn3.lnk" && test -f "$menu_dir/Uninstall reburn3.lnk"
check "Start-menu entry" $? "$(ls "$menu_dir" 2>&1 | tr '\n' ' ')"

association=$(reg_value 'HKLM\Software\Classes\.pf3' '')
command=$(reg_value 'HKLM\Software\Classes\reburn3.Script\shell\open\command' '')
case "$association|$command" in
    *"|reburn3.Script|"*'"C:\Program Files\reburn3\reburn3-gui.exe" "%1"') status=0 ;;
    *) status=1 ;;
esac
check ".pf3 opens the window" "$status" "association \"$association\", command \"$command\""

entry=$(reg_value "$uninstall_key" DisplayVersion)
[ "$entry" = "DisplayVersion|$version" ]
check "Apps & features entry" $? "DisplayVersion \"$entry\""

answer=$("$wine" "$install_dir/reburn3-gui.exe" --version 2>/dev/null | tr -d '\r')
case $answer in "reburn3-gui $version"*) status=0 ;; *) status=1 ;; esac
check "installed window's --version" "$status" "it printed \"$answer\""

# The command line, installed beside the window, answers in the console.
answer=$("$wine" "$install_dir/reburn3.exe" --version 2>/dev/null | tr -d '\r')
case $answer in "reburn3 $version"*) status=0 ;; *) status=1 ;; esac
check "installed command line's --version" "$status" "it printed \"$answer\""

if [ -n "$script" ] && [ -n "${DISPLAY:-}" ]; then
    # `start` opens a document through its association, as a double-click in Explorer does.
    "$wine" start /unix "$script" >/dev/null 2>&1
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --name "ORX-716 reBURN Application" 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        sleep 0.2
    done
    pid=
    [ -n "$window" ] && pid=$(xdotool getwindowpid "$window" 2>/dev/null)
    # The window is the installed program, handed the script's name.
    started=$([ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)
    case $started in
        *'Program Files\reburn3\reburn3-gui.exe'*"$(basename "$script")"*) status=0 ;;
        *) status=1 ;;
    esac
    check "a .pf3 opened from the shell opens the window" "$status" \
        "after \"start\" of $script: window \"$window\", program \"$started\""
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    sleep 1
fi

"$wine" "$install_dir/uninstall.exe" /S >/dev/null 2>&1
wait_gone "$install_dir/reburn3-gui.exe" && wait_gone "$install_dir"
check "uninstall removes the programs" $? "$(ls "$install_dir" 2>&1 | tr '\n' ' ')"
! test -e "$menu_dir"
check "uninstall removes the Start-menu entry" $? "$menu_dir is still there"
[ -z "$(reg_value 'HKLM\Software\Classes\reburn3.Script' '')" ] &&
    [ -z "$(reg_value 'HKLM\Software\Classes\.pf3' '')" ] &&
    [ -z "$(reg_value "$uninstall_key" DisplayName)" ]
check "uninstall removes the registry entries" $? "the association or the uninstall entry is left"

[ "$failures" -eq 0 ]
