"""LIST of a large mailbox through the bridge, beside curl fetching the same
listing pages straight from the simulator, interleaved in the same run.

usage: list_bench.py --sim VUREL_SIM --bin HOST_BIN_DIR --plugin PLUGIN --work DIR
                     [--counts 9999,10000] [--runs N]

For each mailbox size: the time from PASS to the end of LIST's answer (the
bridge pages through the whole listing for it; the saved session is adopted,
so no sign-in is timed), beside one curl process fetching every listing page
of the same mailbox through the simulator as its proxy. Medians of --runs.
Targets: the bridge at most 1.2x curl, and LIST names every message of the
mailbox. Exits 1 when one is missed."""

import os
import shutil
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import baselines  # noqa: E402
from pop3bench import PASSWORD, USER, arguments, start_bridge  # noqa: E402

ARGS = arguments(5, ("--counts", "9999,10000"))
PAGE = 25


def small_message(n):
    return ("From: Sender %d <s%d@example.org>\r\nTo: bench@vurel.example\r\n"
            "Subject: Note %d\r\n\r\nBody of note %d.\r\n" % (n, n, n, n)).encode()


def list_through(port):
    """One conversation; returns (seconds from PASS to LIST's end, entries)."""
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        f = s.makefile("rb")

        def command(line):
            s.sendall(line + b"\r\n")
            reply = f.readline()
            if not reply.startswith(b"+OK"):
                raise RuntimeError("%r answered %r" % (line, reply))
        if not f.readline().startswith(b"+OK"):
            raise RuntimeError("no greeting")
        command(b"USER " + USER.encode())
        start = time.perf_counter()
        command(b"PASS " + PASSWORD.encode())
        command(b"LIST")
        entries = 0
        while f.readline() != b".\r\n":
            entries += 1
        elapsed = time.perf_counter() - start
        command(b"QUIT")
    return elapsed, entries


def curl_pages(sim_port, cookie, host, pages):
    start = time.perf_counter()
    url = "http://%s/vm/ShowFolder?box=Inbox&Nview=a&Npos=[0-%d]" % (host, pages - 1)
    subprocess.run(["curl", "-sf", "-x", "127.0.0.1:%d" % sim_port, "-b", cookie, url],
                   stdout=subprocess.DEVNULL, check=True, timeout=300)
    return time.perf_counter() - start


def run(count):
    work = os.path.join(ARGS.work, str(count))
    shutil.rmtree(work, ignore_errors=True)
    mailbox = os.path.join(work, "mailbox")
    os.makedirs(mailbox)
    for n in range(count):
        with open(os.path.join(mailbox, "%05d.eml" % n), "wb") as f:
            f.write(small_message(n))
    sim, sim_port = baselines.start_simulator(ARGS.sim, work, USER, PASSWORD, mailbox)
    host = None
    try:
        host, pop3 = start_bridge(ARGS, work, sim_port)
        cookie, mail_host, _ = baselines.sign_in(sim_port, USER, PASSWORD)
        pages = (count + PAGE - 1) // PAGE
        _, listed = list_through(pop3)  # signs in and saves the session
        bridge, direct = [], []
        for _ in range(ARGS.runs):
            bridge.append(list_through(pop3)[0])
            direct.append(curl_pages(sim_port, cookie, mail_host, pages))
        bridge, direct = baselines.median(bridge), baselines.median(direct)
        print("LIST of %d messages (%d pages): bridge %.3f s, curl of the pages %.3f s "
              "(ratio %.2f), %d listed" % (count, pages, bridge, direct, bridge / direct, listed))
        ok = True
        if bridge > 1.2 * direct:
            print("  target missed: the bridge takes more than 1.2x curl's time")
            ok = False
        if listed != count:
            print("  target missed: %d of %d messages listed" % (listed, count))
            ok = False
        return ok
    finally:
        if host is not None:
            host.stop()
        sim.terminate()
        sim.wait()


def main():
    results = [run(int(c)) for c in ARGS.counts.split(",")]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
