#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Opens reburn3-gui wired to the simulated ORX-716: COM6 is mapped onto the simulator's
# pseudo-terminal and the demonstration script is named on the command line, so the
# operator only presses "Configure COM port", "Initialize" and "Program FLASH".
# The simulator serves download after download until the window is closed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# The default preset's build (CMakePresets.json), as scripts/test.sh makes it.
build=build/default
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset default >/dev/null
fi
cmake --build "$build" --target reburn3-gui reburn3-sim --parallel 2
case "$build" in /*) ;; *) build="$root/$build" ;; esac

# The program takes a command-line script name up to its first "." and adds "PF3";
# on a case-sensitive file system the script has to exist under that spelling. Give
# it a folder of its own, without a "." in its path, and start there.
. "$root/scripts/lib/simulator_cleanup.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/reburn3-demo-XXXXXX")
case "$work" in *.*) echo "demo_gui: temporary folder $work holds a '.'" >&2; exit 1 ;; esac
cp examples/orx716_demo.pf3 "$work/orx716_demo.PF3"

out="$work/sim.out"
"$build/src/reburn3-sim" "$work/orx716_demo.PF3" --stay >"$out" 2>"$work/sim.err" &
sim_pid=$!

for _ in $(seq 100); do
    [ -s "$out" ] && break
    sleep 0.05
done
pty=$(head -n 1 "$out")
if [ -z "$pty" ]; then
    echo "demo_gui: the simulated device did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
fi
echo "demo_gui: simulated ORX-716 on $pty, mapped to COM6"

cd "$work"
ORX716_COM6="$pty" "$build/src/reburn3-gui" orx716_demo.pf3
