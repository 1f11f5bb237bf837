# SPDX-License-Identifier: Apache-2.0
# Sourced by the scripts that start the simulated device: however the script ends (done,
# failed, Ctrl-C), the simulator it started is stopped and waited for, and its work folder
# removed. The script sets `sim_pid` when it starts the simulator and `work` to its folder.
sim_pid=""
work=""

stop_simulator() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}

simulator_cleanup() {
    stop_simulator
    if [ -n "$work" ]; then
        rm -rf "$work"
    fi
}

trap simulator_cleanup EXIT
trap "exit 130" INT TERM
