# Writes a C++ include of gzip inputs made by real tools (the gzip program and
# Python's gzip and zlib modules) with the bytes a reader must produce from
# them. Deterministic: fixed texts, fixed time stamps.
# Usage: make_gzip_vectors.py OUTPUT SMALL_OUTPUT GZIP_PROGRAM
import gzip
import io
import os
import struct
import subprocess
import sys
import tempfile
import zlib

out_path, small_path, gzip_program = sys.argv[1], sys.argv[2], sys.argv[3]


def page(n):
    rows = "".join(
        '<tr><td class="m%d"><a href="/vm/ShowLetter?Idx=%d&amp;box=Inbox">Subject %d</a></td>'
        "<td>%d KB</td></tr>\n" % (i % 7, i, i * 31 % 997, i % 50) for i in range(n))
    return ("<html><head><title>Vurel! Mail - inbox</title></head><body><table>\n%s</table>"
            "</body></html>\n" % rows).encode()


def program(data, *args):
    return subprocess.run([gzip_program, "-c", *args], input=data, stdout=subprocess.PIPE,
                          check=True).stdout


def program_file(data, name):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (1000000000, 1000000000))
        return subprocess.run([gzip_program, "-c", "-N", path], stdout=subprocess.PIPE,
                              check=True).stdout


def module(data, filename=""):
    buf = io.BytesIO()
    with gzip.GzipFile(filename=filename, mode="wb", fileobj=buf, mtime=0) as f:
        f.write(data)
    return buf.getvalue()


def raw_deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def assembled(data, extra=b"", name=b"", comment=b"", hcrc=False, flags_extra=0):
    # A member with every optional header field, around zlib's raw deflate.
    flags = flags_extra
    tail = b""
    if extra:
        flags |= 0x04
        tail += struct.pack("<H", len(extra)) + extra
    if name:
        flags |= 0x08
        tail += name + b"\0"
    if comment:
        flags |= 0x10
        tail += comment + b"\0"
    head = b"\x1f\x8b\x08" + bytes([flags | (0x02 if hcrc else 0)]) + b"\0\0\0\0\0\xff" + tail
    if hcrc:
        head += struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    return head + raw_deflate(data) + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def partial(deflate_data):
    # What raw inflate yields from a cut or damaged deflate stream: fed one
    # byte at a time, so the bytes decoded before an error are kept.
    d = zlib.decompressobj(-15)
    out = b""
    for i in range(len(deflate_data)):
        try:
            out += d.decompress(deflate_data[i:i + 1])
        except zlib.error:
            break
        if d.eof:
            break
    return out


small = b"Hello, gzip!\r\n"
big = page(800)
other = page(40)

vectors = []  # (name, input, expected, exact)
vectors.append(("gzip program, stdin", program(big, "-9"), big, True))
vectors.append(("gzip program, file name", program_file(big, "inbox.html"), big, True))
vectors.append(("gzip program, fast", program(small, "-1"), small, True))
vectors.append(("gzip program, empty", program(b"", "-9"), b"", True))
vectors.append(("python module", module(big), big, True))
vectors.append(("python module, file name", module(other, "page.html"), other, True))
vectors.append(("all header fields", assembled(other, b"AB\x04\x00data", b"name.html",
                                               b"a comment", True), other, True))
vectors.append(("two members, gzip program", program(small) + program(other), small + other, True))
vectors.append(("three members, mixed tools", module(small) + program(big) + module(other, "x"),
                small + big + other, True))
vectors.append(("trailing bytes copied", program(small) + b"trailer\x00\x1f", small + b"trailer\x00\x1f",
                True))
vectors.append(("one trailing magic byte", program(small) + b"\x1f", small + b"\x1f", True))

bad_crc = bytearray(program(other))
bad_crc[-8] ^= 0xFF
vectors.append(("corrupted CRC keeps the member", bytes(bad_crc) + program(small), other, True))

good = program(big)
cut = good[:len(good) // 2]
vectors.append(("truncated deflate data", cut, partial(cut[10:]), True))
vectors.append(("truncated trailer", good[:-5], big, True))
vectors.append(("truncated header", good[:6], b"", True))
vectors.append(("name never terminated", b"\x1f\x8b\x08\x08\0\0\0\0\0\x03abc", b"", True))
vectors.append(("reserved flag bit", assembled(small, flags_extra=0x20), b"", True))
stored = bytearray(program(small))
stored[2] = 7
vectors.append(("method not deflate", bytes(stored), b"", True))
vectors.append(("bad second member header", program(small) + b"\x1f\x8b\x09\x00rest", small, True))

damaged = bytearray(program(big))
damaged[len(damaged) // 3] ^= 0x55
# Either inflate finds the damage (the bytes before it are the result) or the
# CRC-32 does (the whole damaged member is the result): raw inflate tells which.
vectors.append(("damaged deflate data", bytes(damaged), partial(bytes(damaged)[10:]), True))

with open(out_path, "w") as out:
    out.write("// Generated at configure time; do not edit.\n")
    for name, data, expected, exact in vectors:
        out.write('{"%s", "%s", "%s", %s},\n' % (name, data.hex(), expected.hex(),
                                                   "true" if exact else "false"))

# One small body, made by the gzip program, for the response tests.
with open(small_path, "w") as out:
    out.write("// Generated at configure time; do not edit.\n")
    out.write('"%s"\n' % "".join("\\x%02x" % b for b in program(small)))
