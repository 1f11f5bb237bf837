#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs with apt whatever the build and the tests need and is not there yet.
# Safe to run again: it installs nothing when everything is present.
#
#   scripts/bootstrap.sh              the build and the tests (scripts/test.sh, demo.sh)
#   scripts/bootstrap.sh package      and what making the Debian package needs
#   scripts/bootstrap.sh windows      and the MinGW-w64 cross-build, the static Qt for MinGW,
#                                     Wine and NSIS
#   scripts/bootstrap.sh vm           and the serial lab's virtual machine (scripts/vm-serial.sh)
#   scripts/bootstrap.sh serve        and what the tests of `reburn3 serve` and its page need
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format clang libclang-rt-14-dev
    qt6-base-dev qt6-serialport-dev libgl-dev
    # the SHA-256 of a script (libcrypto)
    libssl-dev
    # the records of `reburn3 serve` (Qt SQL's SQLite driver)
    libqt6sql6-sqlite
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb jwm x11-utils xdotool fonts-dejavu-core
    python3 python3-jsonschema tmux
    # the man pages, and the checks of the completion and the desktop files
    help2man man-db bash-completion desktop-file-utils appstream
)
for extra in "$@"; do
    case $extra in
        package)
            packages+=(debhelper dpkg-dev fakeroot lintian git) ;;
        windows)
            # The cross compiler, the host moc/rcc/uic for the static Qt for MinGW
            # (scripts/windows-qt.sh), Wine to run what is built, NSIS and zip for the
            # installer and the portable archive.
            packages+=(g++-mingw-w64-x86-64-posix qt6-base-dev-tools wine64 googletest nsis zip) ;;
        vm)
            # QEMU under TCG, a static busybox for the guest, and what packs the
            # initramfs (kmod: depmod for the unpacked modules); the kernel itself is
            # downloaded, never installed.
            packages+=(qemu-system-x86 busybox-static cpio kmod) ;;
        serve)
            # A real PostgreSQL server and its Qt driver for the records, promtool for
            # the metrics.
            packages+=(postgresql libqt6sql6-psql prometheus)
            # The station page's test drives a real browser.
            packages+=(chromium chromium-driver python3-selenium) ;;
        *)
            echo "bootstrap: unknown set $extra (package, windows, vm, serve)" >&2
            exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "bootstrap: installing ${missing[*]}"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo_cmd=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian has no Qt for MinGW: the windows set unpacks the static Qt 6.4.2 tree and patches
# its serial port module (scripts/windows-qt.sh; nothing to do when it is in place).
for extra in "$@"; do
    if [ "$extra" = windows ]; then
        # 77 (no Qt for MinGW to be had) is passed on: a skip for the caller to tell.
        "$(dirname "$0")/windows-qt.sh" || exit $?
    fi
done
