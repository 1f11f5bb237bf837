#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The serial lab: reburn3 against the kernel's own serial drivers, in a virtual machine
# made only of Debian packages. QEMU (TCG) boots Debian's kernel, downloaded and
# unpacked here, never installed, with an initramfs of busybox, the kernel modules the
# lab needs and the built reburn3. Three drivers, each with the simulated device on the
# far end of the line (`reburn3 simulate --tty`):
#
#   8250      a 16550 wired to a second 16550 (two QEMU pci-serial ports joined by a socket)
#   ftdi_sio  QEMU's FTDI adapter (usb-serial on qemu-xhci), wired to a third 16550;
#             unplugged with device_del on QEMU's monitor (scripts/vm-serial/hands.py)
#   cdc_acm   the g_serial gadget (3 ports) on dummy_hcd: /dev/ttyACM* against /dev/ttyGS*;
#             unplugged by de-authorising the USB device
#
# The guest runs the matrix (scripts/vm-serial/matrix.sh) in one boot; each case is one
# line here: `PASS|FAIL driver case: details`, and `N passed, M failed` comes last.
#
#   scripts/vm-serial.sh           the short matrix (every driver; about 6 minutes)
#   scripts/vm-serial.sh --full    the full one (also VM_SERIAL_FULL=1): hundreds of runs
#   VM_SERIAL_DRIVERS="cdc_acm"    only these drivers' cases
#
# BUILD_DIR (default build/default) or REBURN3_BIN picks the reburn3 to test, REBURN3_SIM_BIN the
# simulator on the device end (default: BUILD_DIR's reburn3-sim). Exit: 0 when every
# case passed, 1 when one failed, 77 (with one line saying why) when QEMU or the kernel
# cannot be had or the guest does not start: a skip, never a pass.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
lab_dir="$root/scripts/vm-serial"
cache="${VM_SERIAL_CACHE:-$root/build/vm}"
build_dir="${BUILD_DIR:-$root/build/default}"
reburn3_bin="${REBURN3_BIN:-$build_dir/src/reburn3}"
# The device end: the simulator of this tree by default, so that a build without
# `simulate --tty` (an older one) can still be put to the test on the host end.
sim_bin="${REBURN3_SIM_BIN:-$build_dir/src/reburn3-sim}"
full="${VM_SERIAL_FULL:-0}"
# The drivers whose cases run (a subset helps while working on one).
drivers="${VM_SERIAL_DRIVERS:-8250 ftdi_sio cdc_acm}"
# A whole boot may take this long before it is given up (the full matrix takes hours).
boot_limit="${VM_SERIAL_TIMEOUT:-}"

# The modules the guest loads, in this order (each after what it depends on).
modules=(dummy_hcd libcomposite u_serial usb_f_acm g_serial cdc-acm
    xhci-pci usbserial ftdi_sio)

skip() {
    echo "vm-serial: SKIPPED: $*"
    exit 77
}

log() {
    echo "vm-serial: $*" >&2
}

parse_arguments() {
    for arg in "$@"; do
        case $arg in
            --full) full=1 ;;
            -h | --help)
                sed -n '3,25p' "$0" | sed 's/^# \{0,1\}//'
                exit 0 ;;
            *)
                echo "vm-serial: unknown argument $arg" >&2
                exit 2 ;;
        esac
    done
    if [ -z "$boot_limit" ]; then
        boot_limit=$([ "$full" = 1 ] && echo 36000 || echo 900)
    fi
}

ensure_tools() {
    # Installs nothing when every package is there.
    "$root/scripts/bootstrap.sh" vm >&2 || skip "the vm packages cannot be installed"
    local tool
    for tool in qemu-system-x86_64 depmod cpio python3; do
        command -v "$tool" >/dev/null || skip "$tool is missing"
    done
    file_is_static /bin/busybox || skip "/bin/busybox is not the static one (busybox-static)"
    [ -x "$reburn3_bin" ] || skip "no reburn3 at $reburn3_bin (build it first)"
    [ -x "$sim_bin" ] || skip "no reburn3-sim at $sim_bin (build it first)"
}

file_is_static() {
    [ -x "$1" ] && ! ldd "$1" >/dev/null 2>&1
}

# Downloads Debian's kernel package (the one linux-image-amd64 names) into the cache and
# unpacks it there; sets kernel_version.
fetch_kernel() {
    local debs="$cache/deb" meta image version
    mkdir -p "$debs"
    if [ ! -f "$cache/kernel/version" ]; then
        (cd "$debs" && apt-get download linux-image-amd64 >&2) ||
            skip "apt-get download linux-image-amd64 failed (no package source?)"
        meta=$(ls -t "$debs"/linux-image-amd64_*.deb | head -n1)
        image=$(dpkg-deb -f "$meta" Depends | grep -o 'linux-image-[0-9][^ ,]*' | head -n1)
        [ -n "$image" ] || skip "cannot tell which kernel linux-image-amd64 depends on"
        (cd "$debs" && apt-get download "$image" >&2) || skip "apt-get download $image failed"
        rm -rf "$cache/kernel"
        dpkg-deb -x "$(ls -t "$debs/${image}"_*.deb | head -n1)" "$cache/kernel"
        version=${image#linux-image-}
        depmod -b "$cache/kernel" "$version"
        echo "$version" >"$cache/kernel/version"
    fi
    kernel_version=$(cat "$cache/kernel/version")
}

# Prints the module files to load for the module names given, dependencies first, each
# once (from the unpacked kernel's modules.dep).
module_files() {
    local dir=$1
    shift
    awk -v wanted="$*" '
        function visit(path,   parts, n, i) {
            if (path in seen) return
            seen[path] = 1
            n = split(deps[path], parts, " ")
            for (i = n; i >= 1; i--) visit(parts[i])
            print path
        }
        {
            sub(":", "", $1); p = $1; $1 = ""; deps[p] = $0
            name = p; sub(".*/", "", name); sub("\\.ko.*$", "", name); gsub("-", "_", name)
            byname[name] = p
        }
        END {
            n = split(wanted, w, " ")
            for (i = 1; i <= n; i++) {
                m = w[i]; gsub("-", "_", m)
                if (!(m in byname)) { print "missing " w[i] > "/dev/stderr"; exit 1 }
                visit(byname[m])
            }
        }' "$dir/modules.dep"
}

# Copies a program and every shared library it needs to the same paths under $1.
copy_with_libraries() {
    local dest=$1 program=$2 lib
    install -D -m 0755 "$program" "$dest/usr/bin/$(basename "$program")"
    for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
        install -D -m 0755 "$(readlink -f "$lib")" "$dest$lib"
    done
}

# The guest's whole file system, packed as a cpio archive.
build_initramfs() {
    local version=$1 out=$2 tree="$cache/initramfs" moddir
    moddir="$cache/kernel/lib/modules/$version"
    rm -rf "$tree"
    mkdir -p "$tree"/{bin,dev,proc,sys,tmp,lab/modules,lab/scripts}
    cp /bin/busybox "$tree/bin/busybox"
    install -m 0755 "$lab_dir/init" "$tree/init"
    install -m 0755 "$lab_dir/matrix.sh" "$tree/lab/matrix.sh"
    copy_with_libraries "$tree" "$reburn3_bin"
    copy_with_libraries "$tree" "$sim_bin"
    local file n=0
    module_files "$moddir" "${modules[@]}" >"$cache/modules.list" ||
        skip "kernel $version lacks a module the lab needs"
    for file in $(cat "$cache/modules.list"); do
        n=$((n + 1))
        cp "$moddir/$file" "$tree/lab/modules/$(printf %02d "$n")-$(basename "$file")"
    done
    python3 "$lab_dir/make_scripts.py" "$tree/lab/scripts"
    printf 'full=%s\ndrivers="%s"\n' "$full" "$drivers" >"$tree/lab/settings"
    (cd "$tree" && find . | cpio -o -H newc --quiet) >"$out"
}

# Boots the guest and prints its result lines as they come; the exit code is the
# verdict of the matrix.
boot_and_run() {
    local version=$1 initrd=$2 run="$cache/run" console="$cache/console.log"
    rm -rf "$run"
    mkdir -p "$run"
    trap stop_guest EXIT
    local qemu=(
        timeout --foreground --kill-after=10 "$boot_limit"
        qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 1024 -nographic -no-reboot
        -pidfile "$run/qemu.pid"
        -kernel "$cache/kernel/boot/vmlinuz-$version" -initrd "$initrd"
        -append "console=ttyS0 quiet loglevel=3 panic=-1 8250.nr_uarts=8"
        -serial stdio -monitor "unix:$run/monitor.sock,server=on,wait=off"
        # ttyS1: the guest asks hands.py to unplug and plug the FTDI adapter
        -chardev "socket,id=control,path=$run/control.sock,server=on,wait=off"
        -serial chardev:control
        # 8250: two 16550s joined by a socket; the host side at 00:10.0, the device's at 00:11.0
        -chardev "socket,id=uart_host,path=$run/uart.sock,server=on,wait=off"
        -chardev "socket,id=uart_device,path=$run/uart.sock"
        -device pci-serial,chardev=uart_host,addr=0x10
        -device pci-serial,chardev=uart_device,addr=0x11
        # ftdi_sio: QEMU's FTDI adapter on xHCI, its line wired to a 16550 at 00:13.0
        # through relay.py (see there why not directly)
        -chardev "socket,id=ftdi_line,path=$run/ftdi-line.sock,server=on,wait=off"
        -chardev "socket,id=ftdi_device,path=$run/ftdi-device.sock,server=on,wait=off"
        -device qemu-xhci,id=xhci,addr=0x12
        -device usb-serial,bus=xhci.0,chardev=ftdi_line,id=ftdi
        -device pci-serial,chardev=ftdi_device,addr=0x13
    )
    python3 "$lab_dir/relay.py" "$run/ftdi-line.sock" "$run/ftdi-device.sock" &
    helpers+=($!)
    python3 "$lab_dir/hands.py" "$run/control.sock" "$run/monitor.sock" &
    helpers+=($!)
    local status=0 started=0 passed=0 failed=0 line
    while IFS= read -r line; do
        line=${line%$'\r'}
        printf '%s\n' "$line" >>"$console"
        # The firmware's screen codes may lead the guest's first line.
        case $line in
            *"@lab "*) line="@lab ${line#*@lab }" ;;
        esac
        case $line in
            "@lab ready"*) started=1 ;;
            "@lab PASS "*) passed=$((passed + 1)) && echo "${line#@lab }" ;;
            "@lab FAIL "*) failed=$((failed + 1)) && echo "${line#@lab }" ;;
            "@lab note "*) echo "${line#@lab }" ;;
            "@lab end"*) started=2 ;;
        esac
    done < <("${qemu[@]}" </dev/null 2>&1 || echo "@qemu exit $?")
    stop_guest
    if [ "$started" -eq 0 ]; then
        skip "the guest did not start (see $console: $(grep -m1 -i 'qemu\|panic\|error' "$console" || true))"
    fi
    if [ "$started" -eq 1 ]; then
        echo "FAIL lab: the guest stopped before the end of the matrix (see $console)"
        failed=$((failed + 1))
    fi
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ] || status=1
    return "$status"
}

# The helpers on the host (relay.py, hands.py), ended with the guest.
helpers=()

# Ends QEMU (when this script is interrupted or QEMU hangs) and the helpers.
stop_guest() {
    local pidfile="$cache/run/qemu.pid"
    if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
        kill -9 "$(cat "$pidfile")" 2>/dev/null || true
    fi
    if [ "${#helpers[@]}" -gt 0 ]; then
        kill "${helpers[@]}" 2>/dev/null || true
        wait "${helpers[@]}" 2>/dev/null || true
    fi
    helpers=()
}

main() {
    parse_arguments "$@"
    # One lab at a time on a cache: the guest's files and sockets live there.
    mkdir -p "$cache"
    exec 9>"$cache/lock"
    if ! flock -n 9; then
        echo "vm-serial: another lab is running on $cache (VM_SERIAL_CACHE picks another)" >&2
        exit 2
    fi
    ensure_tools
    local start
    start=$(date +%s)
    fetch_kernel
    local version=$kernel_version
    log "kernel $version, reburn3 $reburn3_bin, $([ "$full" = 1 ] && echo full || echo short) matrix"
    : >"$cache/console.log"
    build_initramfs "$version" "$cache/initrd.cpio"
    local status=0
    boot_and_run "$version" "$cache/initrd.cpio" || status=$?
    log "wall time $(($(date +%s) - start)) s"
    exit "$status"
}

main "$@"
