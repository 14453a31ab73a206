"""The simulator beside nginx serving the same bytes as files, in the same run.

usage: site_bench.py --sim VUREL_SIM --work DIR [--runs N] [--messages N]

The mailbox holds 10,000 small messages and one of 50 MB. Reported, as
medians of interleaved runs:
  - one listing page fetched by curl from the simulator (as its proxy), beside
    curl fetching the same page's bytes from nginx;
  - the whole listing (every page, one connection each) fetched by a client in
    this process, per page, beside the same number of fetches from nginx;
  - the 50 MB message's TEXT part by curl, beside curl fetching its bytes from
    nginx.
Targets: within 2x of nginx for the page and the part (by curl), and under
2 ms a listing page. Exits 1 when one is missed. The whole listing beside
nginx is for information: it shows the simulator's own cost per connection
(a thread each) and per page, without curl's start-up."""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import baselines  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--sim", required=True)
parser.add_argument("--work", required=True)
parser.add_argument("--runs", type=int, default=9)
parser.add_argument("--messages", type=int, default=10000)
ARGS = parser.parse_args()
USER, PASSWORD = "bench", "bench"
MB = 1024 * 1024
PAGE = 25


def small_message(n):
    return ("From: Sender %d <s%d@example.org>\r\nTo: bench@vurel.example\r\n"
            "Subject: Note %d\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
            "Message-ID: <n%d@example.org>\r\n\r\nBody of note %d.\r\n"
            % (n, n, n, n, n)).encode()


def large_message(size):
    header = b"From: Bench <bench@vurel.example>\r\nSubject: large\r\n\r\n"
    line = b"The quick brown fox jumps over the lazy dog. 0123456789 abcdefghij\r\n"
    body = line * ((size - len(header)) // len(line) + 1)
    return header + body[:size - len(header) - 2] + b"\r\n"


def fetch(port, target, host, cookie):
    """One HTTP/1.0 exchange on a fresh connection; the answer's body."""
    with socket.create_connection(("127.0.0.1", port), timeout=120) as s:
        request = "GET %s HTTP/1.0\r\nHost: %s\r\n" % (target, host)
        if cookie:
            request += "Cookie: %s\r\n" % cookie
        s.sendall((request + "\r\n").encode())
        chunks = []
        while True:
            data = s.recv(1 << 20)
            if not data:
                break
            chunks.append(data)
    answer = b"".join(chunks)
    head, _, body = answer.partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.") or b" 200 " not in head.split(b"\r\n")[0]:
        raise RuntimeError("unexpected answer to %s: %r" % (target, head[:80]))
    return body


def curl(url, proxy=None, cookie=None):
    command = ["curl", "-sf", "-o", os.devnull, url]
    if proxy:
        command += ["-x", "127.0.0.1:%d" % proxy]
    if cookie:
        command += ["-b", cookie]
    start = time.perf_counter()
    subprocess.run(command, check=True, timeout=300)
    return time.perf_counter() - start


def compare(name, ours, theirs, limit, results):
    """Interleaved runs of two fetches; prints and records the medians."""
    a, b = [], []
    for _ in range(ARGS.runs):
        a.append(ours())
        b.append(theirs())
    a, b = baselines.median(a), baselines.median(b)
    line = "%-38s simulator %8.2f ms  nginx %8.2f ms  ratio %5.2f" % (name, a * 1e3, b * 1e3, a / b)
    if limit is None:
        print(line + "  (for information)", flush=True)
        return
    ok = a <= limit * b
    print(line + "  (target <= %.1f) %s" % (limit, "met" if ok else "MISSED"), flush=True)
    results.append(ok)


def main():
    shutil.rmtree(ARGS.work, ignore_errors=True)
    mailbox = os.path.join(ARGS.work, "mailbox")
    www = os.path.join(ARGS.work, "www")
    os.makedirs(mailbox)
    os.makedirs(www)
    # File names load in order: the large message is the oldest, on the last page.
    with open(os.path.join(mailbox, "00000.eml"), "wb") as f:
        f.write(large_message(50 * MB))
    for n in range(1, ARGS.messages + 1):
        with open(os.path.join(mailbox, "%05d.eml" % n), "wb") as f:
            f.write(small_message(n))
    total = ARGS.messages + 1
    pages = (total + PAGE - 1) // PAGE

    sim, sim_port = baselines.start_simulator(ARGS.sim, ARGS.work, USER, PASSWORD, mailbox)
    nginx = None
    try:
        nginx = baselines.start_nginx(www, os.path.join(ARGS.work, "nginx"))
        cookie, host, _ = baselines.sign_in(sim_port, USER, PASSWORD)
        base = "http://%s/vm/ShowFolder?box=Inbox&Nview=a&Npos=" % host
        middle = base + str(pages // 2)
        with open(os.path.join(www, "listing.html"), "wb") as f:
            f.write(fetch(sim_port, middle, host, cookie))
        last = fetch(sim_port, base + str(pages - 1), host, cookie).decode("latin-1")
        large_id = last.rsplit("/vm/ShowLetter?MsgId=", 1)[1].split("&", 1)[0]
        part = ("http://%s/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=%s"
                "&bodyPart=TEXT" % (host, large_id))
        text = fetch(sim_port, part, host, cookie)
        if len(text) < 49 * MB:
            raise RuntimeError("the large message's text has %d bytes" % len(text))
        with open(os.path.join(www, "part.txt"), "wb") as f:
            f.write(text)
        local = "http://127.0.0.1:%d/" % nginx.port

        print("mailbox: %d messages (one of 50 MB), %d listing pages" % (total, pages))
        results = []
        compare("listing page (curl)",
                lambda: curl(middle, sim_port, cookie),
                lambda: curl(local + "listing.html"), 2.0, results)

        def whole_listing():
            start = time.perf_counter()
            for page in range(pages):
                fetch(sim_port, base + str(page), host, cookie)
            return (time.perf_counter() - start) / pages

        def whole_listing_nginx():
            start = time.perf_counter()
            for _ in range(pages):
                fetch(nginx.port, "/listing.html", "127.0.0.1", None)
            return (time.perf_counter() - start) / pages

        runs = ARGS.runs
        ARGS.runs = 3
        compare("whole listing, per page", whole_listing, whole_listing_nginx, None, results)
        ARGS.runs = runs
        per_page = baselines.median([whole_listing() for _ in range(3)])
        ok = per_page < 0.002
        print("%-38s simulator %8.2f ms  (target < 2 ms) %s"
              % ("listing page of %d messages" % total, per_page * 1e3, "met" if ok else "MISSED"))
        results.append(ok)
        compare("50 MB print-view part (curl)",
                lambda: curl(part, sim_port, cookie),
                lambda: curl(local + "part.txt"), 2.0, results)
        return 0 if all(results) else 1
    finally:
        if nginx is not None:
            nginx.stop()
        sim.terminate()
        sim.wait()


if __name__ == "__main__":
    sys.exit(main())
