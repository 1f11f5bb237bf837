#!/usr/bin/env bash
# Renders the desktop windows to docs/: the main window half way through a download
# against the simulated device, the port dialog and the About box, each with the
# title bar and frame a window manager gives it.
#
# The windows run on a virtual X display (Xvfb) managed by JWM, a small window
# manager that offers only the title bar buttons each window asks for (minimize and
# close on the main window, close alone on the dialogs), and the helper
# program reads each window back from the screen. What is missing is installed with
# apt-get (run as root). Every process started here is ended on the way out.
#
#   BUILD_DIR=build scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."

packages=()
command -v Xvfb >/dev/null 2>&1 || packages+=(xvfb)
command -v jwm >/dev/null 2>&1 || packages+=(jwm)
command -v xprop >/dev/null 2>&1 || packages+=(x11-utils)
[ -e /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || packages+=(fonts-dejavu-core)
if [ ${#packages[@]} -gt 0 ]; then
    echo "installing ${packages[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends "${packages[@]}" >/dev/null ||
        { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${packages[@]}" >/dev/null; }
fi

build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target gui_screenshots reburn3-sim --parallel 2

work=$(mktemp -d)
xvfb_pid=
wm_pid=
shots_pid=
stop() {
    # The helper leads its own process group, which holds the simulated device too.
    if [ -n "$shots_pid" ]; then kill -- "-$shots_pid" 2>/dev/null || true; fi
    if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM

# A display of its own: Xvfb picks a free number and writes it to the descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset \
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

# The window manager, set up here rather than from whatever configuration the
# machine holds, so the frames look the same every time. The port dialog is narrow:
# with no window menu button in the title bars (TitleButtonOrder: title, minimize,
# close) its whole title, blanks first, fits.
cat >"$work/jwmrc" <<'EOF'
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
</JWM>
EOF
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

mkdir -p docs
QT_QPA_PLATFORM=xcb setsid "$build/tests/gui_screenshots" \
    "$build/src/reburn3-sim" examples/orx716_demo.pf3 docs &
shots_pid=$!
status=0
wait "$shots_pid" || status=$?
[ "$status" -eq 0 ] || { echo "gui_screenshots failed ($status)" >&2; exit "$status"; }

# The icon as installed for the desktop entry, at the sizes drawn for the windows.
for size in 16 32; do
    cp "docs/icon_${size}.png" "src/gui/resources/reburn3-${size}.png"
done
