"""The host's peak memory against a hostile site: a listing of millions of rows,
sign-in answers with huge cookies and a gzip bomb in the print view. A checking tool run by hand, not a
timed test.

usage: hostile_peak.py --bin HOST_BIN_DIR --plugin PLUGIN --work DIR
                       [--rows 2180000] [--pages 3] [--cookie-mib 16] [--bomb-mib 1024]

A small stand-in site (this script, reached by the bridge as its HTTP proxy)
serves, in the first conversation, either --pages gzipped listing pages of
--rows rows each, or seven sign-in answers (front page, login form, five
redirects) each with a Set-Cookie of --cookie-mib MiB, or a print view whose
gzip body inflates to --bomb-mib MiB of zeros (RETR 1). The bridge runs in the
stand-in host; after each case a plain conversation must be served. Prints
each case's reply and the host's peak resident memory (VmHWM); exits 1 when a
peak reaches 384 MiB or the plain conversation fails."""

import argparse
import gzip
import os
import socket
import socketserver
import sys
import threading
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "host"))
import hostrun  # noqa: E402

TITLE = b"<html><head><title>Vurel! Mail - ann@vurel.example</title></head><body>"
LIMIT_KIB = 384 * 1024


class Site:
    mode = "plain"  # "plain", "listing", "cookies" or "bomb"
    pages = {}      # page index: gzipped body of the hostile listing
    cookie = b""
    bomb = b""  # gzip body of the print view in mode "bomb"


def gzip_bomb(mib):
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)  # 31: a gzip member
    zeros = bytes(1 << 20)
    return b"".join([packer.compress(zeros) for _ in range(mib)] + [packer.flush()])


def listing_pages(rows, pages):
    total = rows * pages
    out = {}
    body_rows = b"".join(b'href="/vm/ShowLetter?MsgId=%d&<td</td><td>1k</td>\n' % i
                         for i in range(rows))
    for p in range(pages):
        counter = b"Messages %d-%d of %d<" % (p * rows + 1, (p + 1) * rows, total)
        out[p] = gzip.compress(TITLE + counter + body_rows, 6)
    return out


def answer(status, body, headers=b""):
    reason = b"OK" if status == 200 else b"Found"
    return (b"HTTP/1.0 %d %s\r\n" % (status, reason) + headers +
            b"Content-Length: %d\r\n\r\n" % len(body) + body)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        data = bytearray()
        while data.find(b"\r\n\r\n", max(0, len(data) - 65539)) < 0:
            chunk = self.request.recv(65536)
            if not chunk:
                return
            data += chunk
        data = bytes(data[:4096])
        target = data.split(b" ", 2)[1].decode("latin-1")
        path = target.split("/", 3)[3] if target.count("/") >= 3 else ""
        cookie = b""
        if Site.mode == "cookies":
            cookie = b"Set-Cookie: K=" + Site.cookie + b"; path=/\r\n"
        if path == "":
            reply = answer(200, b'<input name=".challenge" value="abc">', cookie)
        elif path.startswith("config/login"):
            reply = answer(302, b"", b"Location: http://login.vurel.example/hop1\r\n" + cookie)
        elif path.startswith("hop"):
            n = int(path[3:])
            nxt = ("hop%d" % (n + 1)) if n < 5 else "vm/Welcome"
            host = "login.vurel.example" if n < 5 else "us.mail.vurel.example"
            reply = answer(302, b"", b"Location: http://%s/%s\r\n" % (host.encode(), nxt.encode())
                           + cookie)
        elif path.startswith("vm/ShowFolder"):
            page = int(path.rsplit("=", 1)[1])
            if Site.mode == "listing" and page in Site.pages:
                reply = answer(200, Site.pages[page], b"Content-Encoding: gzip\r\n")
            else:
                reply = answer(200, TITLE + b"Messages 1-1 of 1<"
                               b'href="/vm/ShowLetter?MsgId=one&<td</td><td>1k</td>')
        elif path.startswith("vm/ShowLetter") and Site.mode == "bomb":
            reply = answer(200, Site.bomb, b"Content-Encoding: gzip\r\n")
        else:
            reply = answer(200, TITLE)
        self.request.sendall(reply)


def conversation(port, commands):
    """The replies to USER, PASS and then commands (first lines only)."""
    with socket.create_connection(("127.0.0.1", port), timeout=600) as s:
        f = s.makefile("rb")
        f.readline()
        replies = []
        for line in [b"USER ann", b"PASS secret"] + commands:
            s.sendall(line + b"\r\n")
            reply = f.readline().decode("latin-1").strip()
            replies.append(reply)
            if line == b"PASS secret" and not reply.startswith("+OK"):
                break
        s.sendall(b"QUIT\r\n")
        f.readline()
    return replies


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser()
    for flag in ("--bin", "--plugin", "--work"):
        parser.add_argument(flag, required=True)
    parser.add_argument("--rows", type=int, default=2180000)
    parser.add_argument("--pages", type=int, default=3)
    parser.add_argument("--cookie-mib", type=int, default=16)
    parser.add_argument("--bomb-mib", type=int, default=1024)
    args = parser.parse_args()

    Site.pages = listing_pages(args.rows, args.pages)
    Site.cookie = b"v" * (args.cookie_mib << 20)
    Site.bomb = gzip_bomb(args.bomb_mib)
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()

    failed = False
    for mode in ("listing", "cookies", "bomb"):
        work = os.path.join(args.work, mode)
        pop3 = hostrun.free_port()
        plugin = hostrun.install_plugin(
            args.plugin, os.path.join(work, "plugin"),
            hostrun.ini_text(pop3, hostrun.free_port(), save_cookie=False,
                             proxy=("127.0.0.1", server.server_address[1])))
        host = hostrun.Host(os.path.join(args.bin, "quillmere-host"), plugin, ["--log"],
                            log=open(os.path.join(work, "host.log"), "wb"))
        try:
            if not hostrun.wait_for_port(pop3, 60, host.proc):
                raise RuntimeError("the bridge did not start")
            Site.mode = mode
            hostile = conversation(pop3, [b"STAT", b"RETR 1"] if mode == "bomb" else [b"STAT"])
            Site.mode = "plain"
            plain = conversation(pop3, [b"STAT"])
            peak = peak_kib(host.proc.pid)
        finally:
            host.stop()
        ok = peak < LIMIT_KIB and plain[-1].startswith("+OK 1 ")
        if mode == "bomb":
            ok = ok and hostile[-1].startswith("-ERR")
        failed |= not ok
        print("%-8s hostile: %-40s next: %-14s host peak %6.1f MiB %s" %
              (mode, " / ".join(hostile[1:]), plain[-1], peak / 1024.0,
               "ok" if ok else "MISSED (limit 384 MiB)"))
    server.shutdown()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
