#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Renders the desktop windows to docs/: the main window half way through a download
# against the simulated device, the port dialog and the About box, each with the
# title bar and frame a window manager gives it.
#
# The windows run on a virtual X display (Xvfb) managed by JWM, a small window
# manager that offers only the title bar buttons each window asks for (minimize and
# close on the main window, close alone on the dialogs): scripts/with_x.sh. The helper
# program reads each window back from the screen. What is missing is installed with
# apt-get (run as root).
#
#   scripts/screenshots.sh
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

# The default preset's build (CMakePresets.json), as scripts/test.sh makes it.
build=build/default
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset default >/dev/null
fi
cmake --build "$build" --target gui_screenshots reburn3-sim --parallel 2

mkdir -p docs
status=0
scripts/with_x.sh "$build/tests/gui_screenshots" \
    "$build/src/reburn3-sim" examples/orx716_demo.pf3 docs || status=$?
[ "$status" -eq 0 ] || { echo "gui_screenshots failed ($status)" >&2; exit "$status"; }

# The icon as installed for the desktop entry, at the sizes drawn for the windows.
for size in 16 32; do
    cp "docs/icon_${size}.png" "src/gui/resources/reburn3-${size}.png"
done
