# SPDX-License-Identifier: Apache-2.0
# The simulated ORX-716 for the Wine tests, sourced by them: the native Linux simulator on a
# new pseudo-terminal, linked as Wine's COM3. Needs $sim, $script and $work; sets sim_pid.

start_device() {  # LIFETIME FAULT... : the simulator on a new pseudo-terminal, linked as COM3
    local lifetime=$1
    shift
    rm -f "$work/record" "$work/sim.out"
    "$sim" --record "$work/record" --lifetime "$lifetime" "$@" "$script" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    ln -sfn "$(head -n 1 "$work/sim.out")" "$WINEPREFIX/dosdevices/com3"
}

# The pseudo-terminal of the simulator started last.
device_path() {
    head -n 1 "$work/sim.out"
}

# Waits for the simulator to end; sim_status is its exit status.
wait_device() {
    wait "$sim_pid" 2>/dev/null
    sim_status=$?
    sim_pid=
}

# The bytes the host must send for SCRIPT: the handshake E1 94, then every T record's byte.
expected_bytes() {
    printf '\xe1\x94'
    grep -o 'T[0-9A-F][0-9A-F]' "$script" | cut -c2- | while read -r hex; do printf "\\x$hex"; done
}
