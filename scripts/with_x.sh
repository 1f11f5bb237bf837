#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs a command on a virtual X display of its own (Xvfb) managed by JWM, a small
# window manager that frames each window with only the title bar buttons it asks for
# (minimize and close on the main window, close alone on the dialogs) and closes the
# active window on Alt+F4. The frames look the same every time: the window manager
# is set up here, not from whatever configuration the machine holds.
#
#   scripts/with_x.sh [--screen WIDTHxHEIGHT] COMMAND [ARGUMENT...]
#
# The command runs with DISPLAY set, in a process group of its own; its exit status is
# the script's. REBURN3_X_SERVER_PID and REBURN3_WM_PID name the X server and the window
# manager, so that a benchmark can read their CPU time. Exits 77 (skipped) when Xvfb, jwm or xprop is missing: scripts/bootstrap.sh
# installs them. Every process started here is ended on the way out.
set -euo pipefail

screen=1024x768
if [ "${1:-}" = "--screen" ]; then
    screen=$2
    shift 2
fi
[ $# -gt 0 ] || { echo "usage: with_x.sh [--screen WxH] COMMAND [ARGUMENT...]" >&2; exit 2; }
for tool in Xvfb jwm xprop; do
    command -v "$tool" >/dev/null 2>&1 || { echo "with_x.sh: $tool is missing" >&2; exit 77; }
done

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cmd_pid=
stop() {
    if [ -n "$cmd_pid" ]; then kill -- "-$cmd_pid" 2>/dev/null || true; fi
    if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display number and writes it to the descriptor.
Xvfb -displayfd 3 -screen 0 "${screen}x24" -dpi 96 -nolisten tcp -noreset \
    3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# The port dialog is narrow: with no window menu button in the title bars
# (TitleButtonOrder: title, minimize, close) its whole title, blanks first, fits.
cat >"$work/jwmrc" <<'JWMRC'
<?xml version="1.0"?>
<JWM>
    <WindowStyle decorations="flat">
        <Font>DejaVu Sans-9:bold</Font>
        <Height>20</Height>
        <Width>4</Width>
        <Corner>0</Corner>
        <Foreground>#404040</Foreground>
        <Background>#D8D8D8</Background>
        <Outline>#808080</Outline>
        <Opacity>1.0</Opacity>
        <Active>
            <Foreground>#FFFFFF</Foreground>
            <Background>#0A246A:#3A6EA5</Background>
            <Outline>#000000</Outline>
            <Opacity>1.0</Opacity>
        </Active>
    </WindowStyle>
    <TitleButtonOrder>tix</TitleButtonOrder>
    <FocusModel>click</FocusModel>
    <Desktops width="1" height="1"/>
    <Key mask="A" key="F4">close</Key>
</JWM>
JWMRC
export XDG_RUNTIME_DIR="$work/runtime" HOME="$work/home"
mkdir -m 700 "$XDG_RUNTIME_DIR" "$HOME"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION
jwm -f "$work/jwmrc" >"$work/wm.log" 2>&1 &
wm_pid=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    kill -0 "$wm_pid" 2>/dev/null || { cat "$work/wm.log" >&2; exit 1; }
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' ||
    { echo "the window manager did not start" >&2; exit 1; }

REBURN3_X_SERVER_PID=$xvfb_pid REBURN3_WM_PID=$wm_pid QT_QPA_PLATFORM=xcb setsid "$@" &
cmd_pid=$!
status=0
wait "$cmd_pid" || status=$?
cmd_pid=
exit "$status"
