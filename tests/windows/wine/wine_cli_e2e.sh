#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Windows command line, end to end under Wine: reburn3.exe against the native Linux
# reburn3 and the simulated ORX-716 behind Wine's COM3, one line per case,
# "wine_cli_e2e: CASE: ok" or "wine_cli_e2e: CASE: FAILED: why":
#
#   version     --version answers, exit 0
#   ports       the COM1-COM8 map: COM3 (the device) present, COM8 not; exit 0
#   serve       a command of the Linux program only: one usage line, exit 2
#   check       `check SCRIPT` and `check --json SCRIPT` print byte for byte what the Linux
#               program prints, with its exit status
#   done        `flash --port COM3 --log --trace` ends in DONE, exit 0; the device received
#               the script's bytes exactly; the log line carries the keys a Linux log line
#               carries; the trace has its heading
#   log-guard   `--log` naming the script itself is refused as on Linux (the file told by
#               its identity), before the port opens
#   wrong-byte  the device answers one R record with a wrong byte; unplug: the cable is
#               pulled during the run: each ends with the verdict and exit status the Linux
#               program gives for the same fault
#   station     `--station=enter` with "q" on standard input: one board, then the station
#               ends as on Linux (the Windows program reads standard input in a thread)
#   interrupt   Ctrl-C during the run (Wine's console event for a SIGINT): INTERRUPTED,
#               exit 130, as the Linux program ends on SIGINT
#
# COM3 is Wine's link $WINEPREFIX/dosdevices/com3 to the simulator's pseudo-terminal;
# wine_pty_serial.so (LD_PRELOAD) answers the modem and counter requests a pseudo-terminal
# refuses. No display is needed.
#
#   wine_cli_e2e.sh EXE LINUX_REBURN3 SIM PRELOAD SCRIPT
#
# WINE and WINEPREFIX name the loader and a started prefix. Exit status: 0 when every case
# passed, 1 otherwise.
set -uo pipefail

exe=$1 linux=$2 sim=$3 preload=$4 script=$5
wine=${WINE:?}
work=$(mktemp -d)
failures=0
sim_pid=

wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wait 2>/dev/null
    # The server started below goes with the test (the next test starts its own, on its
    # own display).
    "$wineserver" -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# start_device, wait_device, device_path, expected_bytes: the simulated device as COM3.
source "$(dirname "$0")/wine_device.sh"

report() {  # CASE STATUS [WHY]
    if [ "$2" = ok ]; then
        echo "wine_cli_e2e: $1: ok"
    else
        echo "wine_cli_e2e: $1: FAILED: $3"
        failures=$((failures + 1))
    fi
}

windows() {  # ARGS...: reburn3.exe under Wine; its output in $work/win.out and win.err
    LD_PRELOAD=$preload timeout 180 "$wine" "$exe" "$@" >"$work/win.out" 2>"$work/win.err"
}

verdict() {  # FILE -> the word of the verdict, the last line's "reburn3: WORD:"
    tail -n 1 "$1" | sed -n 's/^reburn3: \([A-Z][A-Z-]*\).*/\1/p'
}

# The Wine server started now, in the background, so that it does not inherit (and write
# its own lines into) the output of the first program it serves; it stays 30 s after the
# last one. Restarted, it takes the COM ports of the registry afresh.
start_wineserver() {
    "$wineserver" -k 2>/dev/null
    "$wineserver" -p30 </dev/null >/dev/null 2>&1
}
start_wineserver

# --- version, serve ---------------------------------------------------------------------
windows --version
status=$?
if [ "$status" -ne 0 ] || ! grep -q '^reburn3 [0-9]' "$work/win.out"; then
    report version FAILED "exit $status, \"$(head -n 1 "$work/win.out")\""
else
    report version ok
fi

windows serve --port COM3 "$script"
status=$?
expected="reburn3: serve is not part of the Windows program; run it on Linux (see \`reburn3 --help\`)"
if [ "$status" -ne 2 ] || [ "$(cat "$work/win.err")" != "$expected" ]; then
    report serve FAILED "exit $status, \"$(cat "$work/win.err")\""
else
    report serve ok
fi

# --- check: the same bytes as Linux ---------------------------------------------------------
check_same() {  # CASE ARGS...
    local name=$1 linux_status win_status
    shift
    "$linux" check "$@" >"$work/linux.out" 2>"$work/linux.err"
    linux_status=$?
    windows check "$@"
    win_status=$?
    if [ "$linux_status" -ne "$win_status" ]; then
        report "$name" FAILED "exit $win_status under Wine, $linux_status on Linux"
    elif ! cmp -s "$work/linux.out" "$work/win.out"; then
        report "$name" FAILED "standard output differs: $(diff "$work/linux.out" "$work/win.out" | head -n 4 | tr '\n' '|')"
    elif ! cmp -s "$work/linux.err" "$work/win.err"; then
        report "$name" FAILED "standard error differs: $(diff "$work/linux.err" "$work/win.err" | head -n 4 | tr '\n' '|')"
    else
        echo "wine_cli_e2e: $name: $(wc -c <"$work/win.out") bytes, identical to Linux's"
        report "$name" ok
    fi
}
check_same check "$script"
check_same check-json --json "$script"

# --- ports, done ------------------------------------------------------------------------------
start_device 120
# COM3 is there, COM8 is not. Windows knows a COM port by its device name, which Wine gives
# the ports of its registry (HKLM\Software\Wine\Ports) when it starts: COM3 is put there
# for this case, and taken out again after it (the link alone serves the downloads).
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM3 /t REG_SZ /d "$(device_path)" /f >/dev/null 2>&1
start_wineserver
windows ports
"$wine" reg delete 'HKLM\Software\Wine\Ports' /v COM3 /f >/dev/null 2>&1
status=$?
if [ "$status" -ne 0 ] || ! grep -qx '  COM3  COM3' "$work/win.out" ||
    ! grep -qx '  COM8  COM8  (not present)' "$work/win.out"; then
    report ports FAILED "exit $status: $(tr '\n' '|' <"$work/win.out")"
else
    report ports ok
fi
windows flash --port COM3 --log "$work/log.jsonl" --trace "$work/trace.txt" "$script"
status=$?
wait_device
expected_bytes >"$work/expected"
# A log line of the Linux program, for its keys.
start_device 120
"$linux" flash --port "$(device_path)" --log "$work/linux-log.jsonl" "$script" >/dev/null 2>&1
wait_device
keys() {  # FILE -> the sorted keys of its one JSON line, or nothing when it is not one line
    [ "$(wc -l <"$1")" -eq 1 ] || return 0
    python3 -c 'import json,sys; print(" ".join(sorted(json.loads(open(sys.argv[1]).read()))))' "$1" 2>/dev/null
}
word=$(verdict "$work/win.err")
if [ "$status" -ne 0 ] || [ "$word" != DONE ]; then
    report done FAILED "exit $status, last line \"$(tail -n 1 "$work/win.err")\""
elif ! cmp -s "$work/expected" "$work/record"; then
    report done FAILED "the device received $(stat -c %s "$work/record") bytes, not the script's $(stat -c %s "$work/expected")"
elif [ -z "$(keys "$work/log.jsonl")" ] || [ "$(keys "$work/log.jsonl")" != "$(keys "$work/linux-log.jsonl")" ]; then
    report done FAILED "the log line's keys \"$(keys "$work/log.jsonl")\" are not Linux's \"$(keys "$work/linux-log.jsonl")\""
elif ! head -n 1 "$work/trace.txt" | grep -q '^# tick direction byte'; then
    report done FAILED "the trace has no heading"
else
    echo "wine_cli_e2e: done: \"$(tail -n 1 "$work/win.err")\"; $(stat -c %s "$work/record") bytes received, byte-exact"
    report done ok
fi

# --- log-guard --------------------------------------------------------------------------------
"$linux" flash --port COM3 --log "$script" "$script" >/dev/null 2>"$work/linux.err"
linux_status=$?
windows flash --port COM3 --log "$script" "$script"
status=$?
if [ "$status" -ne "$linux_status" ] || ! cmp -s "$work/linux.err" "$work/win.err"; then
    report log-guard FAILED "exit $status ($linux_status on Linux): \"$(tail -n 1 "$work/win.err")\" against \"$(tail -n 1 "$work/linux.err")\""
else
    report log-guard ok
fi

# --- wrong-byte and unplug: the Linux program's verdict -------------------------------------
fault_case() {  # NAME FAULT...
    local name=$1 linux_status linux_word
    shift
    start_device 60 "$@"
    "$linux" flash --port "$(device_path)" "$script" >/dev/null 2>"$work/linux.err"
    linux_status=$?
    kill "$sim_pid" 2>/dev/null
    wait_device
    linux_word=$(verdict "$work/linux.err")
    start_device 60 "$@"
    windows flash --port COM3 "$script"
    status=$?
    kill "$sim_pid" 2>/dev/null
    wait_device
    word=$(verdict "$work/win.err")
    if [ "$status" -eq 0 ] || [ "$status" -ne "$linux_status" ] || [ -z "$word" ] || [ "$word" != "$linux_word" ]; then
        report "$name" FAILED "exit $status, \"$(tail -n 1 "$work/win.err")\"; on Linux exit $linux_status, \"$(tail -n 1 "$work/linux.err")\""
    else
        echo "wine_cli_e2e: $name: exit $status, \"$(tail -n 1 "$work/win.err")\""
        report "$name" ok
    fi
}
fault_case wrong-byte --wrong-byte-at 3
fault_case unplug --unplug-at 4000

# --- station: --station=enter, the operator's "q" read from standard input ------------------
station_run() {  # PORT PROGRAM... : one board, then "q"; the last two lines and the status
    local port=$1
    shift
    printf 'q\n' | timeout 120 "$@" flash --station=enter --port "$port" "$script" >/dev/null 2>"$work/station.err"
    echo "$? $(tail -n 2 "$work/station.err" | tr '\n' '|')"
}
start_device 60
linux_answer=$(station_run "$(device_path)" "$linux")
kill "$sim_pid" 2>/dev/null
wait_device
start_device 60
answer=$(LD_PRELOAD=$preload station_run COM3 "$wine" "$exe")
kill "$sim_pid" 2>/dev/null
wait_device
if [ "$answer" != "$linux_answer" ] || [ "${answer%% *}" -ne 0 ]; then
    report station FAILED "\"$answer\"; on Linux \"$linux_answer\""
else
    echo "wine_cli_e2e: station: $answer"
    report station ok
fi

# --- interrupt: Ctrl-C during the run ---------------------------------------------------------
# Wine turns a SIGINT to a console program into the console's Ctrl-C event. It is sent once
# the device has received 2000 of the script's 11 749 bytes: the rest takes 2.8 s at least,
# the protocol's own time, so the download is always under way then.
# Each in a session of its own: Wine passes the console's Ctrl-C on to the whole process
# group, which would otherwise be this script's too.
interrupt_run() {  # ERR COMMAND...: runs COMMAND, interrupts it once it runs; its status
    local err=$1 pid
    shift
    setsid "$@" >/dev/null 2>"$err" &
    pid=$!
    for _ in $(seq 300); do
        [ "$(stat -c %s "$work/record" 2>/dev/null || echo 0)" -ge 2000 ] && break
        sleep 0.1
    done
    kill -INT "$pid"
    wait "$pid"
}
start_device 60
interrupt_run "$work/linux.err" "$linux" flash --port "$(device_path)" "$script"
linux_status=$?
kill "$sim_pid" 2>/dev/null
wait_device
start_device 60
LD_PRELOAD=$preload interrupt_run "$work/win.err" "$wine" "$exe" flash --port COM3 "$script"
status=$?
kill "$sim_pid" 2>/dev/null
wait_device
word=$(verdict "$work/win.err")
if [ "$status" -ne "$linux_status" ] || [ "$word" != INTERRUPTED ] ||
    [ "$word" != "$(verdict "$work/linux.err")" ] ||
    ! tail -n 1 "$work/win.err" | grep -q 'the device is partly programmed'; then
    report interrupt FAILED "exit $status, \"$(tail -n 1 "$work/win.err")\"; on Linux exit $linux_status, \"$(tail -n 1 "$work/linux.err")\""
else
    echo "wine_cli_e2e: interrupt: exit $status, \"$(tail -n 1 "$work/win.err")\""
    report interrupt ok
fi

[ "$failures" -eq 0 ]
