#!/bin/busybox sh
# SPDX-License-Identifier: Apache-2.0
# The serial lab's matrix, run in the guest by /init. Every case starts the simulated
# device on the device end of a line (`reburn3 simulate --tty`, recording what it
# receives), runs `reburn3 flash` on the host end, plays its event (an unplug, a device
# that stops reading, Ctrl-C), and judges:
#   a complete run: exit 0, DONE, and the device received exactly the script's T bytes;
#   a loss: exit not 0, a verdict that is not DONE, the device's bytes a prefix of the
#     script's, and the verdict under a second after the event.
# One line per case: "@lab PASS|FAIL driver case: details". No `set -e`: the cases are
# made to fail commands (reburn3 exits non-zero on purpose), and each is judged itself.
. /lab/settings
scripts=/lab/scripts
work=/tmp/lab
mkdir -p "$work"

# --- clock and reports ---------------------------------------------------------------

# Milliseconds since boot (10 ms steps).
now_ms() {
    local up rest
    read -r up rest </proc/uptime
    local cs=${up#*.}
    echo $((${up%.*} * 1000 + ${cs#0} * 10))
}

# Prefixes every line read with the time it was read.
stamp() {
    local line
    while IFS= read -r line; do
        echo "$(now_ms) $line"
    done
}

report() {
    echo "@lab $1 $2 $3: $4"
}

# --- the lines ------------------------------------------------------------------------

# The ttyS whose device sits at PCI function $1 (e.g. 0000:00:11.0).
tty_at() {
    local t
    for t in /sys/class/tty/ttyS*; do
        case $(readlink "$t/device") in
            *"$1") echo "/dev/${t##*/}" && return ;;
        esac
    done
}

# The sysfs folder of the USB device with vendor id $1.
usb_device() {
    local d
    for d in /sys/bus/usb/devices/*; do
        if [ "$(cat "$d/idVendor" 2>/dev/null)" = "$1" ]; then
            echo "$d" && return
        fi
    done
}

uart_host=$(tty_at 0000:00:10.0)
uart_device=$(tty_at 0000:00:11.0)
ftdi_device=$(tty_at 0000:00:13.0)
acm_usb=$(usb_device 0525)
# The control port to the host, held open for the whole matrix: a UART that nobody
# holds open drops what arrives, the host's answers with it.
stty -F /dev/ttyS1 115200 raw -echo
exec 3<>/dev/ttyS1

host_port() {
    case $1 in
        8250) echo "$uart_host" ;;
        ftdi_sio) echo /dev/ttyUSB0 ;;
        cdc_acm) echo /dev/ttyACM0 ;;
    esac
}

device_port() {
    case $1 in
        8250) echo "$uart_device" ;;
        ftdi_sio) echo "$ftdi_device" ;;
        cdc_acm) echo /dev/ttyGS0 ;;
    esac
}

# Asks the host to do $1 ("unplug ftdi", "plug ftdi") and waits until it has.
ask_host() {
    local answer
    echo "$1" >&3
    read -r answer <&3
    [ "$answer" = done ] || echo "@lab note host: $1: $answer"
}

# Waits up to $2 hundredths of a second for the path $1 to exist.
wait_for() {
    local n=0
    while [ ! -e "$1" ] && [ "$n" -lt "$2" ]; do
        usleep 10000
        n=$((n + 1))
    done
    [ -e "$1" ]
}

# Pulls the USB cable of driver $1: QEMU removes the FTDI adapter (device_del); the
# gadget is de-authorised on the host's side, so its driver lets go of it. Either way
# the host's tty hangs up.
unplug() {
    case $1 in
        ftdi_sio) ask_host "unplug ftdi" ;;
        cdc_acm) echo 0 >"$acm_usb/authorized" ;;
    esac
}

# Plugs it in again and waits for its port to come back.
replug() {
    case $1 in
        ftdi_sio) ask_host "plug ftdi" ;;
        cdc_acm) echo 1 >"$acm_usb/authorized" ;;
    esac
    wait_for "$(host_port "$1")" 1000 ||
        echo "@lab note $1: $(host_port "$1") did not come back: $(ls /dev/ttyUSB* /dev/ttyACM* 2>&1)"
    usleep 300000
}

unpluggable() {
    [ "$1" = ftdi_sio ] || [ "$1" = cdc_acm ]
}

# --- the device end -------------------------------------------------------------------

sim_pids=

# start_device NAME TTY SCRIPT [simulate options]: the device on TTY, recording into
# $work/NAME.rec; returns when it serves the line.
start_device() {
    local name=$1 tty=$2 script=$3
    shift 3
    rm -f "$work/$name.rec" "$work/$name.out"
    reburn3-sim "$scripts/$script.pf3" --tty "$tty" --record "$work/$name.rec" \
        --lifetime 600 "$@" >"$work/$name.out" 2>"$work/$name.err" &
    sim_pids="$sim_pids $!"
    local n=0
    while [ ! -s "$work/$name.out" ] && [ "$n" -lt 500 ]; do
        usleep 10000
        n=$((n + 1))
    done
}

stop_devices() {
    if [ -n "$sim_pids" ]; then
        kill -TERM $sim_pids 2>/dev/null
        wait $sim_pids 2>/dev/null
    fi
    sim_pids=
}

size_of() {
    if [ -e "$1" ]; then stat -c %s "$1"; else echo 0; fi
}

# Waits until the device NAME has received $2 bytes, or nothing more for half a second
# (at most 60 s). A line can still carry bytes after reburn3 has ended: QEMU's FTDI
# adapter takes every USB packet at once and its line then goes through a relay and a
# 16550, slower than USB. They must reach this device, not the next case's.
settle() {
    local n=0 size last=-1 still=0
    while [ "$n" -lt 600 ]; do
        size=$(size_of "$work/$1.rec")
        [ "$size" -lt "$2" ] || return 0
        if [ "$size" -eq "$last" ]; then
            still=$((still + 1))
            [ "$still" -lt 5 ] || return 0
        else
            still=0
        fi
        last=$size
        usleep 100000
        n=$((n + 1))
    done
}

# Waits until the device NAME has received $2 bytes (at most 60 s).
wait_bytes() {
    local n=0
    while [ "$(size_of "$work/$1.rec")" -lt "$2" ] && [ "$n" -lt 6000 ]; do
        usleep 10000
        n=$((n + 1))
    done
}

# --- the host end ---------------------------------------------------------------------

# start_flash PORTS SCRIPT [flash options]: reburn3 in the background; its standard
# error, time-stamped line by line, goes to $work/err.
start_flash() {
    local ports=$1 script=$2
    shift 2
    rm -f "$work/fifo"
    mkfifo "$work/fifo"
    stamp <"$work/fifo" >"$work/err" &
    stamp_pid=$!
    t_start=$(now_ms)
    reburn3 flash --progress=none "$@" --port "$ports" "$scripts/$script.pf3" \
        2>"$work/fifo" >/dev/null &
    flash_pid=$!
}

# Waits for reburn3; sets flash_rc, verdict and t_verdict, and t_fault: when its first
# "Error" line came, the moment reburn3 itself saw the fault (a time-out).
finish_flash() {
    wait "$flash_pid"
    flash_rc=$?
    wait "$stamp_pid"
    local last
    last=$(grep ' reburn3: [A-Z]' "$work/err" | tail -n1)
    t_verdict=${last%% *}
    verdict=${last#* }
    t_fault=$(grep -m1 '^[0-9]* Error' "$work/err" | cut -d' ' -f1)
    [ -n "$t_verdict" ] || t_verdict=$(now_ms)
    [ -n "$t_fault" ] || t_fault=$t_verdict
}

short_verdict() {
    echo "$verdict" | cut -c1-90
}

# --- judging --------------------------------------------------------------------------

# complete DRIVER CASE NAME SCRIPT: the download must have completed, byte for byte.
judge_complete() {
    local got total
    got=$(size_of "$work/$3.rec")
    total=$(size_of "$scripts/$4.tx")
    local details="exit $flash_rc, device got $got of $total bytes, run $((t_verdict - t_start)) ms"
    if [ "$flash_rc" -eq 0 ] && cmp -s "$work/$3.rec" "$scripts/$4.tx"; then
        report PASS "$1" "$2" "$details"
    else
        report FAIL "$1" "$2" "$details; $(short_verdict)"
    fi
}

# judge_loss DRIVER CASE NAME SCRIPT T_EVENT: the run must not claim success, the device
# must hold a prefix of the script's bytes, and the verdict must come within a second.
judge_loss() {
    local got total waited why=
    got=$(size_of "$work/$3.rec")
    total=$(size_of "$scripts/$4.tx")
    waited=$((t_verdict - $5))
    if [ "$waited" -lt 0 ] && [ "$flash_rc" -eq 0 ] &&
        case $verdict in *"reburn3: DONE"*) true ;; *) false ;; esac; then
        # The run ended before the event: every byte had left the port and the port was
        # still alive (for USB, the device's USB stack had accepted them all, though its
        # reader had stopped). No unplug interrupted a drain; the case did not happen.
        report PASS "$1" "$2" "drained before the event (DONE $((-waited)) ms before it, the device's reader had $got of $(size_of "$scripts/$4.tx") bytes): not an unplug during a drain"
        return
    fi
    if [ "$flash_rc" -eq 0 ] || case $verdict in *"reburn3: DONE"*) true ;; *) false ;; esac; then
        why="FALSE SUCCESS; "
    fi
    if [ "$got" -gt 0 ] && ! cmp -s -n "$got" "$work/$3.rec" "$scripts/$4.tx"; then
        why="${why}the device got other bytes; "
    fi
    if [ "$waited" -ge 1000 ]; then
        why="${why}verdict over a second after the event; "
    elif [ "$waited" -lt 0 ]; then
        why="${why}the verdict came before the event; "
    fi
    local details="exit $flash_rc, device got $got of $total bytes, event-to-verdict $waited ms"
    if [ -z "$why" ]; then
        report PASS "$1" "$2" "$details; $(short_verdict)"
    else
        report FAIL "$1" "$2" "$why$details; $(short_verdict)"
    fi
}

mode_options() {
    [ "$1" = reactive ] && echo --reactive
}

# --- the cases ------------------------------------------------------------------------

# healthy DRIVER SCRIPT MODE: a complete download.
healthy() {
    start_device dev "$(device_port "$1")" "$2"
    start_flash "$(host_port "$1")" "$2" $(mode_options "$3")
    finish_flash
    settle dev "$(size_of "$scripts/$2.tx")"
    stop_devices
    judge_complete "$1" "ok-$2-$3" dev "$2"
}

# unplugged DRIVER WHEN MODE [TAIL]: the cable pulled before the handshake is answered,
# in mid-script, or while the final T group (of TAIL KiB) drains: the device has stopped
# reading 5 bytes into it, and the host waits for the line to take the rest. A 120 KiB
# group fits in the kernel's queues (the host's URBs and the gadget's buffers), so all of
# it has left reburn3; of 240 KiB some is still in reburn3's own buffer.
unplugged() {
    local script options bytes pause=0
    . "$scripts/long.meta"
    case $2 in
        handshake) script=long options=--silent-handshake bytes=2 ;;
        mid) script=long options= bytes=$((total / 2)) ;;
        drain)
            script=tail$4
            . "$scripts/$script.meta"
            bytes=$((tail_start + 5))
            options="--stop-reading-at $bytes"
            pause=500000 ;;
    esac
    start_device dev "$(device_port "$1")" "$script" $options
    start_flash "$(host_port "$1")" "$script" $(mode_options "$3")
    wait_bytes dev "$bytes"
    [ "$pause" -eq 0 ] || usleep "$pause"
    local t_event
    t_event=$(now_ms)
    unplug "$1"
    finish_flash
    settle dev "$total"
    stop_devices
    replug "$1"
    judge_loss "$1" "unplug-$2${4:+-${4}k}-$3" dev "$script" "$t_event"
}

# stalled DRIVER MODE: the device stops reading 5 bytes into a 240 KiB final T group,
# more than the kernel holds; the verdict must come within a second of reburn3's own
# time-out (its first "Error" line).
stalled() {
    . "$scripts/tail240.meta"
    start_device dev "$(device_port "$1")" tail240 --stop-reading-at $((tail_start + 5))
    start_flash "$(host_port "$1")" tail240 $(mode_options "$2")
    finish_flash
    stop_devices
    judge_loss "$1" "stalled-drain-$2" dev tail240 "$t_fault"
    refresh "$1"
}

# interrupted DRIVER MODE: Ctrl-C while the final T group is stuck in the kernel.
interrupted() {
    . "$scripts/tail240.meta"
    start_device dev "$(device_port "$1")" tail240 --stop-reading-at $((tail_start + 5))
    start_flash "$(host_port "$1")" tail240 $(mode_options "$2")
    wait_bytes dev $((tail_start + 5))
    usleep 1000000
    local t_event
    t_event=$(now_ms)
    kill -INT "$flash_pid"
    finish_flash
    stop_devices
    judge_loss "$1" "ctrl-c-stalled-drain-$2" dev tail240 "$t_event"
    refresh "$1"
}

# stops_reading DRIVER MODE: the device stops reading in mid-script, before it has
# answered; the host's time-out ends the run.
stops_reading() {
    start_device dev "$(device_port "$1")" long --stop-reading-at 300
    start_flash "$(host_port "$1")" long $(mode_options "$2")
    finish_flash
    stop_devices
    judge_loss "$1" "stops-reading-$2" dev long "$t_fault"
    refresh "$1"
}

# A device that stopped reading leaves bytes in the line; a USB line is plugged again
# so that the next case starts clean.
refresh() {
    if unpluggable "$1"; then
        unplug "$1"
        usleep 200000
        replug "$1"
    fi
}

# reopen DRIVER MODE: unplugged and plugged again while idle, then a complete download.
reopen() {
    unplug "$1"
    usleep 300000
    replug "$1"
    start_device dev "$(device_port "$1")" small
    start_flash "$(host_port "$1")" small $(mode_options "$2")
    finish_flash
    settle dev "$(size_of "$scripts/small.tx")"
    stop_devices
    judge_complete "$1" "reopen-after-replug-$2" dev small
}

# gang MODE: four ports at once, three gadget ports and the FTDI adapter.
gang() {
    local i ports= names="acm0 acm1 acm2 ftdi"
    for i in 0 1 2; do
        start_device "acm$i" "/dev/ttyGS$i" small
        ports="$ports,/dev/ttyACM$i"
    done
    start_device ftdi "$ftdi_device" small
    start_flash "${ports#,},/dev/ttyUSB0" small $(mode_options "$1")
    finish_flash
    settle ftdi "$(size_of "$scripts/small.tx")"
    stop_devices
    local name bad=
    for name in $names; do
        cmp -s "$work/$name.rec" "$scripts/small.tx" || bad="$bad $name"
    done
    local details="exit $flash_rc, run $((t_verdict - t_start)) ms"
    if [ "$flash_rc" -eq 0 ] && [ -z "$bad" ]; then
        report PASS "cdc_acm+ftdi_sio" "four-ports-$1" "$details"
    else
        report FAIL "cdc_acm+ftdi_sio" "four-ports-$1" "$details; wrong bytes at:$bad"
    fi
}

# --- the matrix -----------------------------------------------------------------------

healthy_runs() {
    local driver=$1 rounds=$2 i
    for i in $(seq "$rounds"); do
        healthy "$driver" small ticks
        healthy "$driver" small reactive
    done
    for mode in ticks reactive; do
        healthy "$driver" tail12 "$mode"
        healthy "$driver" tail60 "$mode"
        healthy "$driver" tail240 "$mode"
    done
}

usb_cases() {
    local driver=$1 rounds=$2 i
    for i in $(seq "$rounds"); do
        unplugged "$driver" handshake ticks
        unplugged "$driver" mid ticks
        unplugged "$driver" mid reactive
    done
    reopen "$driver" ticks
    reopen "$driver" reactive
}

drain_unplugs() {
    local i tail
    for i in $(seq "$1"); do
        tail=$([ $((i % 2)) -eq 1 ] && echo 120 || echo 240)
        unplugged cdc_acm drain ticks "$tail"
        unplugged cdc_acm drain reactive "$tail"
    done
}

if [ "$full" = 1 ]; then
    rounds=47 usb_rounds=5 drains=100 stalls=3 gangs=5
else
    rounds=2 usb_rounds=1 drains=8 stalls=1 gangs=1
fi

echo "@lab note lines: 8250 $uart_host-$uart_device, ftdi_sio /dev/ttyUSB0-$ftdi_device," \
    "cdc_acm /dev/ttyACM0-/dev/ttyGS0"
runs() {
    case " $drivers " in
        *" $1 "*) true ;;
        *) false ;;
    esac
}

for driver in $drivers; do
    healthy_runs "$driver" "$rounds"
    stops_reading "$driver" ticks
done
if runs ftdi_sio; then
    usb_cases ftdi_sio "$usb_rounds"
fi
if runs cdc_acm; then
    usb_cases cdc_acm "$usb_rounds"
    drain_unplugs "$drains"
    for i in $(seq "$stalls"); do
        stalled cdc_acm ticks
        interrupted cdc_acm ticks
        interrupted cdc_acm reactive
    done
fi
if runs cdc_acm && runs ftdi_sio; then
    for i in $(seq "$gangs"); do
        gang ticks
        gang reactive
    done
fi
