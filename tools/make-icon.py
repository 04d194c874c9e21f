#!/usr/bin/env python3
"""Writes app/gateway.ico: a white sail on a blue disc, 16x16 and 32x32, 32-bit with alpha."""
import struct
import sys


def pixel(x, y, size):
    # coordinates in units of the icon's size, origin top left
    u, v = (x + 0.5) / size, (y + 0.5) / size
    inside_disc = (u - 0.5) ** 2 + (v - 0.5) ** 2 <= 0.47 ** 2
    if not inside_disc:
        return (0, 0, 0, 0)
    mast = 0.46 <= u <= 0.52 and 0.15 <= v <= 0.78
    sail = 0.18 <= v <= 0.68 and 0.52 < u <= 0.52 + (v - 0.18) * 0.56
    jib = 0.28 <= v <= 0.68 and 0.46 - (v - 0.28) * 0.6 <= u < 0.46
    hull = 0.72 <= v <= 0.80 and 0.26 + (v - 0.72) * 1.5 <= u <= 0.74 - (v - 0.72) * 1.5
    if mast or hull:
        return (0x30, 0x30, 0x40, 0xFF)
    if sail or jib:
        return (0xFF, 0xFF, 0xFF, 0xFF)
    return (0xC0, 0x70, 0x20, 0xFF)  # blue, as BGRA


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(struct.pack("<BBBB", *pixel(x, y, size)) for x in range(size)))
    stride = ((size + 31) // 32) * 4
    mask = []
    for y in reversed(range(size)):
        bits = bytearray(stride)
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.append(bytes(bits))
    return header + b"".join(rows) + b"".join(mask)


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "app/gateway.ico")
