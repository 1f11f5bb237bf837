#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The quickest way to see reburn3 work: from a fresh clone (as root, or with sudo, on
# Debian 12) it installs what is missing, builds the command line in ./build/default (the
# default preset), starts a simulated ORX-716 on a pseudo-terminal and downloads the
# demonstration script into it.
#
#   scripts/demo.sh          the command-line download
#   scripts/demo.sh --gui    the same through the window (scripts/demo_gui.sh)
#
# Exits 0 only when the download completed.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--gui" ]; then
    shift
    if [ -x scripts/demo_gui.sh ] || [ -f scripts/demo_gui.sh ]; then
        exec bash scripts/demo_gui.sh "$@"
    fi
    echo "demo: scripts/demo_gui.sh is not there in this checkout" >&2
    exit 2
fi
if [ $# -gt 0 ]; then
    echo "usage: scripts/demo.sh [--gui]" >&2
    exit 2
fi

script=examples/orx716_demo.pf3
# The default preset's build (CMakePresets.json), the one scripts/test.sh makes.
build=build/default

echo "demo: checking the build tools"
scripts/bootstrap.sh

echo "demo: building reburn3 in $build"
cmake --preset default >/dev/null
cmake --build --preset default --target reburn3 --parallel "$(nproc)"
reburn3="$build/src/reburn3"

. scripts/lib/simulator_cleanup.sh
work=$(mktemp -d)

echo "demo: starting the simulated ORX-716"
# The lifetime only guards against a simulator left behind if this script is killed.
"$reburn3" simulate "$script" --lifetime 300 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!

# Its first line of output is the pseudo-terminal to use.
port=""
for _ in $(seq 1 100); do
    port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
    if [ -n "$port" ]; then
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "demo: the simulator did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
fi
echo "demo: the device listens on $port"

progress=plain
if [ -t 2 ]; then
    progress=bar
fi

echo "demo: $reburn3 flash --port $port $script"
set +e
"$reburn3" flash --port "$port" --progress="$progress" "$script" | tee "$work/flash.out"
status=${PIPESTATUS[0]}
set -e

if [ "$status" -ne 0 ]; then
    echo "demo: the download failed with exit code $status" >&2
    exit "$status"
fi
if ! grep -qxF "Processing complete.  Exit this application." "$work/flash.out"; then
    echo "demo: the download did not complete" >&2
    exit 1
fi
echo
echo "Processing complete.  Exit this application."
