#!/usr/bin/env bash
# Renders the desktop windows to docs/: the main window half way through a download
# against the simulated device, the port dialog and the About box. Runs under Qt's
# offscreen platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target gui_screenshots reburn3-sim --parallel 2

mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build/tests/gui_screenshots" \
    "$build/src/reburn3-sim" examples/orx716_demo.pf3 docs

# The icon as installed for the desktop entry, at the sizes drawn for the windows.
for size in 16 32; do
    cp "docs/icon_${size}.png" "src/gui/resources/reburn3-${size}.png"
done
