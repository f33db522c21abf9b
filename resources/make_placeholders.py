#!/usr/bin/env python3
"""Writes the placeholder icon and cursor (32 x 32, 32-bit) until the
artwork arrives: a ring for the icon, an arrow for the cursor."""
import struct
import sys
from pathlib import Path


def image(pixel):
    size = 32
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(struct.pack("<BBBB", *pixel(x, y)) for x in range(size)))
    mask = b"\x00" * (4 * size)  # alpha carries the shape; AND mask all clear
    return header + b"".join(rows) + mask


def ring(x, y):
    d = ((x - 15.5) ** 2 + (y - 15.5) ** 2) ** 0.5
    if 9 <= d <= 15:
        return (240, 160, 110, 255)  # blue-ish, BGRA
    if d < 5:
        return (90, 230, 0, 255)
    return (0, 0, 0, 0)


def arrow(x, y):
    if x <= y // 2 + 1 and y < 24 and x <= 12:
        edge = x == 0 or x == y // 2 + 1 or y == 23
        return (0, 0, 0, 255) if edge else (255, 255, 255, 255)
    return (0, 0, 0, 0)


def container(kind, pixels, hotspot):
    data = image(pixels)
    planes, bits = (1, 32) if kind == 1 else hotspot
    return struct.pack("<HHH", 0, kind, 1) + struct.pack(
        "<BBBBHHII", 32, 32, 0, 0, planes, bits, len(data), 22) + data


out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
(out / "mimicore.ico").write_bytes(container(1, ring, None))
(out / "mimicore.cur").write_bytes(container(2, arrow, (0, 0)))
