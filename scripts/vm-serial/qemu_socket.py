# SPDX-License-Identifier: Apache-2.0
"""The lab's host helpers reach QEMU's character devices and monitor over Unix sockets
that QEMU listens on; QEMU may not have made them yet when a helper starts."""
import socket
import time


def connect(path: str, limit_s: float = 30.0) -> socket.socket:
    """A socket connected to PATH, tried every 0.1 s for LIMIT_S seconds."""
    deadline = time.monotonic() + limit_s
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)
