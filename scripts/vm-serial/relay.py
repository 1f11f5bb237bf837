#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Joins two QEMU character devices (Unix sockets, QEMU listening on both) and carries
the bytes both ways, holding whatever the far side cannot take yet.

QEMU's usb-serial writes to its character device with a blocking write that holds
QEMU's main lock; wired straight back into the same QEMU (a socket to a 16550), the
16550 side can then never read and both stop. Between them this relay always reads.

    relay.py SOCKET_A SOCKET_B
"""
import selectors
import sys

from qemu_socket import connect


def main() -> int:
    ends = [connect(sys.argv[1]), connect(sys.argv[2])]
    for s in ends:
        s.setblocking(False)
    waiting = {0: bytearray(), 1: bytearray()}  # bytes waiting to be written to end i
    sel = selectors.DefaultSelector()
    for i, s in enumerate(ends):
        sel.register(s, selectors.EVENT_READ, i)
    while True:
        for i, s in enumerate(ends):
            events = selectors.EVENT_READ | (selectors.EVENT_WRITE if waiting[i] else 0)
            sel.modify(s, events, i)
        for key, mask in sel.select():
            i = key.data
            if mask & selectors.EVENT_READ:
                try:
                    data = ends[i].recv(65536)
                except BlockingIOError:
                    data = None
                if data == b"":
                    return 0
                if data:
                    waiting[1 - i] += data
            if mask & selectors.EVENT_WRITE and waiting[i]:
                try:
                    sent = ends[i].send(waiting[i])
                    del waiting[i][:sent]
                except BlockingIOError:
                    pass


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, KeyboardInterrupt):
        sys.exit(0)
