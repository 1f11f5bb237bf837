#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the serial lab's download scripts into a folder.

For each script NAME: NAME.pf3, the script; NAME.tx, every byte the device must receive
in a complete download (the handshake E1 94, then the script's T bytes in order); and
NAME.meta, shell assignments: `total` (bytes in NAME.tx) and `tail_start` (bytes before
the trailing T group that follows the last R record; `total` when there is none).
"""
import random
import sys
from pathlib import Path

HANDSHAKE = bytes([0xE1, 0x94])


def line(sent: bytes, answer: int | None) -> str:
    records = "".join(f"T{b:02X}:" for b in sent)
    if answer is not None:
        records += f"R{answer:02X}:"
    return records + "E\r\n:"


def write(folder: Path, name: str, lines: int, tail_kib: int, seed: int) -> None:
    rng = random.Random(seed)
    text, sent = [], bytearray(HANDSHAKE)
    for _ in range(lines):
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(16, 49)))
        sent += data
        text.append(line(data, (-sum(data)) & 0xFF))
    tail_start = len(sent)
    if tail_kib:
        data = bytes(rng.randrange(256) for _ in range(tail_kib * 1024))
        sent += data
        text.append(line(data, None))
    (folder / f"{name}.pf3").write_bytes("".join(text).encode("ascii"))
    (folder / f"{name}.tx").write_bytes(bytes(sent))
    (folder / f"{name}.meta").write_text(f"total={len(sent)}\ntail_start={tail_start}\n")


def main() -> int:
    folder = Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    write(folder, "small", 20, 0, 1)  # healthy runs
    write(folder, "long", 120, 0, 2)  # unplugged in mid-script
    for kib in (12, 60, 120, 240):
        write(folder, f"tail{kib}", 4, kib, 10 + kib)
    return 0


if __name__ == "__main__":
    sys.exit(main())
