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


def raw_verdict(deflate_data):
    # Whether raw inflate finds a damage itself, or only the CRC-32 can.
    try:
        zlib.decompressobj(-15).decompress(deflate_data)
        return "gzip CRC mismatch"
    except zlib.error:
        return "gzip data corrupt"


def sync_flushed(data):
    # A member whose sender flushed all its data and stopped: every byte
    # decodes, but the final block never came.
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return b"\x1f\x8b\x08\0\0\0\0\0\0\xff" + c.compress(data) + c.flush(zlib.Z_SYNC_FLUSH)


small = b"Hello, gzip!\r\n"
big = page(800)
other = page(40)

CUT = "gzip answer cut short"
HEADER = "gzip header invalid"
TRAILING = "gzip answer has bytes after its last member"

vectors = []  # (name, input, expected bytes or the fault named)
vectors.append(("gzip program, stdin", program(big, "-9"), big))
vectors.append(("gzip program, file name", program_file(big, "inbox.html"), big))
vectors.append(("gzip program, fast", program(small, "-1"), small))
vectors.append(("gzip program, empty", program(b"", "-9"), b""))
vectors.append(("python module", module(big), big))
vectors.append(("python module, file name", module(other, "page.html"), other))
vectors.append(("all header fields", assembled(other, b"AB\x04\x00data", b"name.html",
                                               b"a comment", True), other))
vectors.append(("two members, gzip program", program(small) + program(other), small + other))
vectors.append(("three members, mixed tools", module(small) + program(big) + module(other, "x"),
                small + big + other))
vectors.append(("trailing bytes", program(small) + b"trailer\x00\x1f", TRAILING))
vectors.append(("trailing zero bytes", program(small) + b"\0\0\0\0", TRAILING))
vectors.append(("bytes before the magic", b"junk" + program(small), HEADER))
vectors.append(("one trailing magic byte", program(small) + b"\x1f", CUT))

bad_crc = bytearray(program(other))
bad_crc[-8] ^= 0xFF
vectors.append(("corrupted CRC", bytes(bad_crc) + program(small), "gzip CRC mismatch"))
bad_length = bytearray(program(small))
bad_length[-4] ^= 0x01
vectors.append(("wrong length", program(other) + bytes(bad_length), "gzip length mismatch"))

good = program(big)
vectors.append(("truncated deflate data", good[:len(good) // 2], CUT))
vectors.append(("no final block", sync_flushed(big), CUT))
vectors.append(("truncated trailer", good[:-5], CUT))
vectors.append(("truncated header", good[:6], CUT))
vectors.append(("name never terminated", b"\x1f\x8b\x08\x08\0\0\0\0\0\x03abc", CUT))
vectors.append(("reserved flag bit", assembled(small, flags_extra=0x20), HEADER))
stored = bytearray(program(small))
stored[2] = 7
vectors.append(("method not deflate", bytes(stored), HEADER))
vectors.append(("bad second member header", program(small) + b"\x1f\x8b\x09\x00rest", HEADER))

damaged = bytearray(program(big))
damaged[len(damaged) // 3] ^= 0x55
# Inflate finds the damage, or the CRC-32 does: raw inflate tells which.
vectors.append(("damaged deflate data", bytes(damaged), raw_verdict(bytes(damaged)[10:])))

with open(out_path, "w") as out:
    out.write("// Generated at configure time; do not edit.\n")
    for name, data, expected in vectors:
        whole = isinstance(expected, bytes)
        out.write('{"%s", "%s", "%s", "%s"},\n' % (name, data.hex(), expected.hex() if whole else "",
                                                    "" if whole else expected))

# One small body, made by the gzip program, for the response tests.
with open(small_path, "w") as out:
    out.write("// Generated at configure time; do not edit.\n")
    out.write('"%s"\n' % "".join("\\x%02x" % b for b in program(small)))
