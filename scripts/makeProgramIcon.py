#!/usr/bin/env python3
"""Draws the programs' default icon, resources/korvane.ico: a blue rounded square with a white "K",
at 16, 32 and 48 pixels as 32-bit images with alpha and 256 pixels as a PNG, as Windows icons hold them.

    python3 scripts/makeProgramIcon.py resources/korvane.ico
"""
import math
import struct
import sys
import zlib

SAMPLES = 4  # per axis, for smooth edges


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def inside_rounded_square(x, y, margin, radius):
    lo, hi = margin, 1.0 - margin
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return lo <= x <= hi and lo <= y <= hi and math.hypot(x - cx, y - cy) <= radius


def on_letter(x, y, stroke):
    # The K: a stem and two arms meeting at its middle, in the unit square.
    return (segment_distance(x, y, 0.36, 0.24, 0.36, 0.76) <= stroke
            or segment_distance(x, y, 0.38, 0.53, 0.66, 0.24) <= stroke
            or segment_distance(x, y, 0.46, 0.46, 0.68, 0.76) <= stroke)


def pixel(size, px, py):
    margin = 0.5 / size if size <= 16 else 0.04
    stroke = max(0.075, 1.1 / size)
    covered = letter = 0
    top = bottom = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if inside_rounded_square(x, y, margin, 0.2):
                covered += 1
                if on_letter(x, y, stroke):
                    letter += 1
                top += 1.0 - y
                bottom += y
    total = SAMPLES * SAMPLES
    if covered == 0:
        return (0, 0, 0, 0)
    # A vertical gradient from a light to a deep blue, with the letter laid over it.
    shade = bottom / covered
    base = (int(0x3A + (0x1C - 0x3A) * shade), int(0x8E + (0x4E - 0x8E) * shade), int(0xE8 + (0xB0 - 0xE8) * shade))
    mix = letter / covered
    rgb = tuple(int(round(c + (255 - c) * mix)) for c in base)
    return rgb + (int(round(255 * covered / total)),)


def picture(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def dib(size):
    rows = picture(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + xor + bytes(mask)


def png(size):
    rows = picture(size)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(path):
    images = [(16, dib(16)), (32, dib(32)), (48, dib(48)), (256, png(256))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(path, "wb") as file:
        file.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/korvane.ico")
