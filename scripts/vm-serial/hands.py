#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The lab's hands on the host: unplugs and plugs QEMU's FTDI adapter when the guest
asks. The guest writes "unplug ftdi" or "plug ftdi" as a line on its control port
(a 16550 whose character device is CONTROL_SOCKET); this sends device_del or device_add
to QEMU's human monitor (MONITOR_SOCKET) and answers "done" once QEMU has done it.

    hands.py CONTROL_SOCKET MONITOR_SOCKET
"""
import socket
import sys

from qemu_socket import connect

COMMANDS = {
    "unplug ftdi": "device_del ftdi",
    "plug ftdi": "device_add usb-serial,bus=xhci.0,chardev=ftdi_line,id=ftdi",
}
PROMPT = b"(qemu) "


def read_until(s: socket.socket, mark: bytes, pending: bytearray) -> bytes:
    while mark not in pending:
        data = s.recv(4096)
        if not data:
            raise EOFError
        pending += data
    end = pending.index(mark) + len(mark)
    text = bytes(pending[:end])
    del pending[:end]
    return text


def main() -> int:
    control = connect(sys.argv[1])
    monitor = connect(sys.argv[2])
    from_monitor, from_guest = bytearray(), bytearray()
    read_until(monitor, PROMPT, from_monitor)  # the banner
    while True:
        request = read_until(control, b"\n", from_guest).decode("ascii", "replace").strip()
        command = COMMANDS.get(request)
        if command is None:
            control.sendall(b"unknown\n")
            continue
        monitor.sendall(command.encode() + b"\n")
        answer = read_until(monitor, PROMPT, from_monitor).decode("ascii", "replace")
        # On success the monitor says nothing but its echo of the command.
        failed = "Error" in answer
        control.sendall(b"error\n" if failed else b"done\n")


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, EOFError, KeyboardInterrupt):
        sys.exit(0)
