#!/usr/bin/env python3
"""Writes the progress windows' animation clip: a short looping AVI of our own.

The clip is uncompressed 8-bit DIB video with no sound, the one form every
animation control plays without a codec. It shows an envelope travelling
between two mail boxes, in FRAMES frames of WIDTH x HEIGHT pixels.

Usage: avigen.py OUTPUT.avi
       avigen.py --check FILE.avi   (re-reads a clip and checks its structure)
"""
import os
import struct
import sys

WIDTH, HEIGHT, FRAMES, FRAME_USEC = 80, 32, 8, 125000

# Palette: index 0 is the background (the control draws it transparent).
PALETTE = [
    (255, 255, 255),  # 0 background
    (0, 0, 128),      # 1 box outline
    (255, 255, 0),    # 2 envelope
    (128, 0, 0),      # 3 envelope flap
    (0, 128, 0),      # 4 dotted path
]


def fourcc(s):
    return s.encode("ascii")


def chunk(cid, payload):
    data = fourcc(cid) + struct.pack("<I", len(payload)) + payload
    if len(payload) % 2:
        data += b"\0"
    return data


def riff_list(kind, cid, payload):
    body = fourcc(cid) + payload
    return fourcc(kind) + struct.pack("<I", len(body)) + body


def frame_pixels(n):
    """Rows top-down, one palette index per pixel."""
    px = [[0] * WIDTH for _ in range(HEIGHT)]

    def rect(x0, y0, x1, y1, c, fill=False):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if fill or y in (y0, y1) or x in (x0, x1):
                    px[y][x] = c

    rect(1, 8, 16, 27, 1)                      # sending box
    rect(WIDTH - 17, 8, WIDTH - 2, 27, 1)      # receiving box
    for x in range(19, WIDTH - 19, 3):         # the path
        px[17][x] = 4
    travel = (WIDTH - 19 - 19 - 14) * n // (FRAMES - 1)
    ex = 19 + travel
    rect(ex, 12, ex + 13, 21, 2, fill=True)    # envelope
    rect(ex, 12, ex + 13, 21, 3)
    for i in range(7):                          # its flap
        px[12 + i // 2][ex + i] = 3
        px[12 + i // 2][ex + 13 - i] = 3
    return px


def dib_bytes(px):
    stride = (WIDTH + 3) & ~3
    out = bytearray()
    for row in reversed(px):                    # DIBs are stored bottom-up
        out += bytes(row) + b"\0" * (stride - WIDTH)
    return bytes(out)


def build():
    frames = [dib_bytes(frame_pixels(n)) for n in range(FRAMES)]
    frame_size = len(frames[0])
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    palette += b"\0\0\0\0" * (256 - len(PALETTE))

    avih = struct.pack("<IIIIIIIIII4I",
                       FRAME_USEC, frame_size * 1000000 // FRAME_USEC, 0,
                       0x10,                  # AVIF_HASINDEX
                       FRAMES, 0, 1, frame_size, WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh",
                       fourcc("vids"), fourcc("DIB "), 0, 0, 0, 0,
                       1, 1000000 // FRAME_USEC,  # scale, rate: frames per second
                       0, FRAMES, frame_size, 0xFFFFFFFF, 0,
                       0, 0, WIDTH, HEIGHT)
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, frame_size,
                       0, 0, 256, 0) + palette
    strl = riff_list("LIST", "strl", chunk("strh", strh) + chunk("strf", strf))
    hdrl = riff_list("LIST", "hdrl", chunk("avih", avih) + strl)

    movi_body = b""
    index = b""
    for f in frames:
        offset = 4 + len(movi_body)            # from the 'movi' fourcc
        movi_body += chunk("00db", f)
        index += struct.pack("<4sIII", fourcc("00db"), 0x10, offset, len(f))
    movi = riff_list("LIST", "movi", movi_body)
    return riff_list("RIFF", "AVI ", hdrl + movi + chunk("idx1", index))


def check(data):
    """Walks the RIFF tree; returns (width, height, frames) or raises ValueError."""
    if data[:4] != b"RIFF" or data[8:12] != b"AVI ":
        raise ValueError("not an AVI file")
    if struct.unpack_from("<I", data, 4)[0] + 8 != len(data):
        raise ValueError("RIFF size does not match the file")
    found = {}

    def walk(pos, end):
        while pos + 8 <= end:
            cid = data[pos:pos + 4].decode("ascii")
            size = struct.unpack_from("<I", data, pos + 4)[0]
            if pos + 8 + size > end:
                raise ValueError("chunk %s runs past its parent" % cid)
            if cid == "LIST":
                walk(pos + 12, pos + 8 + size)
            else:
                found.setdefault(cid, []).append(data[pos + 8:pos + 8 + size])
            pos += 8 + size + (size & 1)

    walk(12, len(data))
    for need in ("avih", "strh", "strf", "00db", "idx1"):
        if need not in found:
            raise ValueError("missing chunk " + need)
    w, h = struct.unpack_from("<II", found["avih"][0], 32)
    frames = struct.unpack_from("<I", found["avih"][0], 16)[0]
    bits, comp = struct.unpack_from("<HI", found["strf"][0], 14)
    if bits != 8 or comp != 0:
        raise ValueError("not uncompressed 8-bit video")
    if len(found["00db"]) != frames or len(found["idx1"][0]) != 16 * frames:
        raise ValueError("frame count and index disagree")
    stride = (w + 3) & ~3
    if any(len(f) != stride * h for f in found["00db"]):
        raise ValueError("a frame has the wrong size")
    return w, h, frames


if __name__ == "__main__":
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import resource_tool  # noqa: E402

    sys.exit(resource_tool.main(sys.argv, __doc__, build, check, lambda r: "%dx%d, %d frames" % r))
