#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Windows window, end to end under Wine: reburn3-gui.exe downloads the demonstration script
# through a Windows COM port into the simulated ORX-716, driven as an operator drives it
# ("Select Input File", "Configure COM port", COM3 and "Initialize", "Program FLASH"), once
# per case:
#
#   done        the logs hold "Processing complete." and the device received the
#               script's bytes exactly (the simulator's record against the script's T bytes)
#   wrong-byte  the device answers one R record with a wrong byte: the run stops with the
#               read error, never "Processing complete."
#   unplug      the cable is pulled a third of the way in: the run ends with the port gone
#   sysinfo     "System Info..." finds the system-information program through Wine's
#               registry and starts it
#
# COM3 is Wine's link $WINEPREFIX/dosdevices/com3 to the simulator's pseudo-terminal;
# wine_pty_serial.so (LD_PRELOAD) answers the modem and counter requests a pseudo-terminal
# refuses. The logs are read back through their "Copy All" and the clipboard; every case
# prints one line, "wine_e2e: CASE: ok" or "wine_e2e: CASE: FAILED: why".
#
#   wine_e2e.sh GUI_EXE SIM X_PROBE PRELOAD SCRIPT [SCREENSHOT]
#
# Runs on an X display with a window manager (scripts/with_x.sh); WINE and WINEPREFIX name
# the loader and a started prefix. Exit status: 0 when every case passed, 1 otherwise.
set -uo pipefail

gui_exe=$1 sim=$2 x_probe=$3 preload=$4 script=$5 screenshot=${6:-}
wine=${WINE:?}
work=$(mktemp -d)
failures=0
gui_pid=
sim_pid=

cleanup() {
    [ -n "$gui_pid" ] && kill "$gui_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# start_device, expected_bytes: the simulated device as COM3.
source "$(dirname "$0")/wine_device.sh"

report() {  # CASE STATUS [WHY]
    if [ "$2" = ok ]; then
        echo "wine_e2e: $1: ok"
    else
        echo "wine_e2e: $1: FAILED: $3"
        failures=$((failures + 1))
    fi
}

# The window's widgets, in the window's own pixels (the client area starts under the
# 16-pixel menu bar): the centres of the buttons and the logs, from the window's designed
# layout (gui/main_window.cpp) at scale 1, and the port dialog's from its twips
# (gui/port_dialog_widget.cpp). A layout change moves them here too.
menu_bar=16
click() {  # WINDOW X Y [BUTTON]
    xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"
    sleep 0.4
}
wait_window() {  # NAME -> prints the id of the newest window with that name
    local id=
    for _ in $(seq 150); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
visible_windows() {
    xdotool search --onlyvisible --name . 2>/dev/null | sort
}
wait_new_window() {  # BEFORE -> prints the id of a visible window not in BEFORE
    local id=
    for _ in $(seq 150); do
        id=$(comm -13 <(printf '%s\n' "$1") <(visible_windows) | tail -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
wait_closed() {  # WINDOW
    for _ in $(seq 150); do
        visible_windows | grep -qx "$1" || return 0
        sleep 0.2
    done
    return 1
}

start_window() {
    LD_PRELOAD=$preload "$wine" "$gui_exe" >"$work/gui.out" 2>"$work/gui.err" &
    gui_pid=$!
    window=$(wait_window "ORX-716 reBURN Application") || return 1
    sleep 1
}

stop_window() {
    kill "$gui_pid" 2>/dev/null
    wait "$gui_pid" 2>/dev/null
    gui_pid=
    sleep 0.5
}

# The operator's road: the script through the file dialog, COM3 through the port dialog,
# then "Program FLASH"; returns when the device has ended: the script played, the cable
# pulled, or its lifetime over (a run that stopped on a fault leaves the device waiting).
operate() {
    local before dialog
    before=$(visible_windows)
    click "$window" 83 $((menu_bar + 296))            # Select Input File
    dialog=$(wait_new_window "$before") || return 1
    sleep 0.5
    xdotool type --delay 15 "Z:$(printf '%s' "$script" | tr / '\\')"
    xdotool key Return
    wait_closed "$dialog" || return 1
    before=$(visible_windows)
    click "$window" 83 $((menu_bar + 332))            # Configure COM port
    dialog=$(wait_new_window "$before") || return 1
    sleep 0.5
    click "$dialog" 31 88                             # COM3:
    click "$dialog" 56 252                            # Initialize
    wait_closed "$dialog" || return 1
    click "$window" 83 $((menu_bar + 386))            # Program FLASH
    for _ in $(seq 240); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.5; done
    wait "$sim_pid" 2>/dev/null
    sim_status=$?
    sim_pid=
    sleep 1.5
}

window_logs() {  # the status and debug logs' text, each through its context menu's "Copy All"
    local x y text
    for at in "415 $((menu_bar + 133))" "399 $((menu_bar + 442))"; do
        read -r x y <<<"$at"
        for _ in 1 2 3 4 5; do
            click "$window" "$x" "$y" 3
            xdotool key Down Down Return
            sleep 0.3
            text=$("$x_probe" clipboard 2>/dev/null) && break
        done
        printf '%s\n' "$text"
    done
}

frame_of() {  # WINDOW -> "X,Y,W,H" of the window with the frame its window manager drew
    local info extents x y w h left right top bottom
    info=$(xwininfo -id "$1" 2>/dev/null)
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p' | tr -d ' ')
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/.*Width: *//p' <<<"$info")
    h=$(sed -n 's/.*Height: *//p' <<<"$info")
    IFS=, read -r left right top bottom <<<"${extents:-0,0,0,0}"
    echo "$((x - left)),$((y - top)),$((w + left + right)),$((h + top + bottom))"
}

# --- done ---------------------------------------------------------------------------------
start_device 120
if start_window; then
    operate
    log=$(window_logs)
    [ -n "$screenshot" ] && "$x_probe" grab "$screenshot" "$(frame_of "$window")"
    expected_bytes >"$work/expected"
    if ! printf '%s' "$log" | grep -qF "Processing complete.  Exit this application."; then
        report done FAILED "no \"Processing complete.\" in the logs: $(printf '%s' "$log" | tail -n 3 | tr '\n' '|')"
    elif [ "$sim_status" -ne 0 ]; then
        report done FAILED "the simulator ended with $sim_status"
    elif ! cmp -s "$work/expected" "$work/record"; then
        report done FAILED "the device received $(stat -c %s "$work/record") bytes, not the script's $(stat -c %s "$work/expected")"
    else
        echo "wine_e2e: done: $(stat -c %s "$work/record") bytes received, byte-exact"
        report done ok
    fi
    stop_window
else
    report done FAILED "the window did not appear: $(tail -n 3 "$work/gui.err" | tr '\n' '|')"
fi

# --- wrong-byte and unplug ----------------------------------------------------------------
fault_case() {  # NAME EXPECTED_TEXT FAULT...
    local name=$1 expected=$2
    shift 2
    start_device 15 "$@"
    if ! start_window; then
        report "$name" FAILED "the window did not appear"
        return
    fi
    operate
    local log
    log=$(window_logs)
    if printf '%s' "$log" | grep -qF "Processing complete."; then
        report "$name" FAILED "the run was reported complete"
    elif ! printf '%s' "$log" | grep -qF "$expected"; then
        report "$name" FAILED "no \"$expected\" in the logs: $(printf '%s' "$log" | tail -n 3 | tr '\n' '|')"
    else
        report "$name" ok
    fi
    stop_window
}
fault_case wrong-byte "Error.  Expected = " --wrong-byte-at 3
fault_case unplug " went away (unplugged or closed); the port has been closed." --unplug-at 4000

# --- sysinfo ------------------------------------------------------------------------------
"$wine" reg add 'HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO' /v PATH /t REG_SZ \
    /d 'C:\windows\system32\msinfo32.exe' /f >/dev/null 2>&1
if start_window; then
    before=$(xdotool search --onlyvisible --name . 2>/dev/null | sort)
    click "$window" 18 8                              # Help
    xdotool key Down Return                           # About
    about=$(wait_window "About ") || about=
    if [ -z "$about" ]; then
        report sysinfo FAILED "the About box did not open"
    else
        xdotool key alt+s                             # System Info...
        sleep 4
        after=$(xdotool search --onlyvisible --name . 2>/dev/null | sort)
        new=$(comm -13 <(printf '%s\n' "$before") <(printf '%s\n' "$after") | while read -r id; do
            name=$(xdotool getwindowname "$id" 2>/dev/null)
            case $name in "About ORX-716"*|"ORX-716"*|"") ;; *) echo "$name" ;; esac
        done)
        if [ -n "$new" ]; then
            echo "wine_e2e: sysinfo: started \"$(printf '%s' "$new" | head -n 1)\""
            report sysinfo ok
        else
            report sysinfo FAILED "no new window after \"System Info...\""
        fi
    fi
    stop_window
else
    report sysinfo FAILED "the window did not appear"
fi

[ "$failures" -eq 0 ]
