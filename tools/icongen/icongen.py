#!/usr/bin/env python3
"""Writes the progress windows' icon: an envelope, at 32x32 and 16x16 pixels.

Each image is a 4-bit (16 colour) bitmap with its transparency mask, the form
every version of the system reads from an icon group resource.

Usage: icongen.py OUTPUT.ico
       icongen.py --check FILE.ico   (re-reads an icon file and checks it)
"""
import os
import struct
import sys

# Palette index 0 is unused (transparent through the mask).
PALETTE = [(0, 0, 0), (0, 0, 128), (255, 255, 0), (128, 0, 0)] + [(0, 0, 0)] * 12
SIZES = (32, 16)


def envelope(size):
    """Rows top-down: a palette index per pixel, None for transparent."""
    px = [[None] * size for _ in range(size)]
    top, bottom = size // 4, size - size // 4 - 1
    for y in range(top, bottom + 1):
        for x in range(size):
            edge = y in (top, bottom) or x in (0, size - 1)
            px[y][x] = 1 if edge else 2
    half = size // 2
    for i in range(half):                       # the flap, a V from the corners
        y = top + i * (bottom - top) // (2 * half)
        px[y][i] = 3
        px[y][size - 1 - i] = 3
    return px


def image(size):
    px = envelope(size)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(px):                    # bottom-up, as in every DIB
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                c = 0
            line[x // 2] |= c << (4 if x % 2 == 0 else 0)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def build():
    images = [image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    return out + b"".join(images)


def check(data):
    """Returns the list of image sizes or raises ValueError."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1 or count == 0:
        raise ValueError("not an icon file")
    sizes = []
    for i in range(count):
        w, h, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if offset + length > len(data):
            raise ValueError("image %d runs past the end" % i)
        bw, bh, _, bbits = struct.unpack_from("<IiiHH", data, offset)[1:5]
        if (bw, bh, bbits) != (w, 2 * h, bits):
            raise ValueError("image %d: directory and bitmap disagree" % i)
        sizes.append(w)
    return sizes


if __name__ == "__main__":
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import resource_tool  # noqa: E402

    sys.exit(resource_tool.main(sys.argv, __doc__, build, check, lambda sizes: "sizes %s" % (sizes,)))
