"""Small messages through the bridge, as a mail client that checks every few
minutes sees them: one sign-in, then 20 POP3 conversations (USER, PASS, STAT,
RETR of a 2 KB message, QUIT) and 20 SMTP submissions of a 2 KB message (EHLO,
AUTH LOGIN, MAIL, RCPT, DATA, QUIT), each on a new connection that adopts the
saved session. What it shows is the cost of a conversation apart from the
sign-in: the saved session's password check must not make each one slower.

usage: small_bench.py --sim VUREL_SIM --bin HOST_BIN_DIR --plugin PLUGIN --work DIR
                      [--runs N] [--baseline-bin DIR --baseline-plugin PLUGIN
                       --baseline-sim VUREL_SIM]

Prints, as medians over --runs (a new simulator and host each): the first
conversation (with the sign-in), the median POP3 and SMTP conversation after
it, and the sums of the 20 of each. With a baseline (another build's host,
plug-in and simulator) both run at once, their conversations in turns, so
that a busy machine weighs on both alike; the median conversation after the
first must be within 10% of the baseline's (the median over the runs of the
ratio within each run); exit status 1 when not. The verifier runs at
its full strength: QUILLMERE_VERIFIER_ROUNDS is cleared.
"""

import argparse
import base64
import json
import os
import shutil
import socket
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "host"))
import baselines  # noqa: E402
import hostrun  # noqa: E402

USER, PASSWORD = "bench", "bench"
CONVERSATIONS = 20
KB = 1024


def message(size, subject):
    header = ("From: Bench <bench@vurel.example>\r\nTo: friend@example.org\r\n"
              "Subject: %s\r\n\r\n" % subject).encode()
    line = b"The quick brown fox jumps over the lazy dog. 0123456789 abcdefghij\r\n"
    body = (line * (size // len(line) + 1))[:size - len(header) - 2]
    return header + body + b"\r\n"


class Lines:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.file = self.sock.makefile("rb")

    def reply(self, start):
        line = self.file.readline()
        if not line.startswith(start):
            raise RuntimeError("expected %r, got %r" % (start, line))
        return line

    def say(self, line, start):
        self.sock.sendall(line + b"\r\n")
        return self.reply(start)

    def close(self):
        self.file.close()
        self.sock.close()


def pop3_conversation(port):
    """Seconds for one whole conversation; checks that the message came."""
    start = time.perf_counter()
    c = Lines(port)
    c.reply(b"+OK")
    c.say(b"USER " + USER.encode(), b"+OK")
    c.say(b"PASS " + PASSWORD.encode(), b"+OK")
    if not c.say(b"STAT", b"+OK").startswith(b"+OK 1 "):
        raise RuntimeError("not one message")
    c.say(b"RETR 1", b"+OK")
    size = 0
    while True:
        line = c.file.readline()
        if line in (b".\r\n", b""):
            break
        size += len(line)
    c.say(b"QUIT", b"+OK")
    c.close()
    if size < 2 * KB - 64:
        raise RuntimeError("the message came short: %d bytes" % size)
    return time.perf_counter() - start


def smtp_conversation(port, body):
    start = time.perf_counter()
    c = Lines(port)
    c.reply(b"220")
    c.sock.sendall(b"EHLO bench\r\n")
    while not c.reply(b"250").startswith(b"250 "):
        pass
    c.say(b"AUTH LOGIN", b"334")
    c.say(base64.b64encode(USER.encode()), b"334")
    c.say(base64.b64encode(PASSWORD.encode()), b"235")
    c.say(b"MAIL FROM:<bench@vurel.example>", b"250")
    c.say(b"RCPT TO:<friend@example.org>", b"250")
    c.say(b"DATA", b"354")
    c.sock.sendall(body + b".\r\n")
    c.reply(b"250")
    c.say(b"QUIT", b"221")
    c.close()
    return time.perf_counter() - start


class Bridge:
    """One build's simulator and host with the plug-in, started in work."""

    def __init__(self, build, work):
        sim_program, bin_dir, plugin_file = build
        mailbox = os.path.join(work, "mailbox")
        os.makedirs(mailbox)
        with open(os.path.join(mailbox, "01.eml"), "wb") as f:
            f.write(message(2 * KB, "two kilobytes"))
        self.host = None
        self.sim, sim_port = baselines.start_simulator(sim_program, work, USER, PASSWORD, mailbox)
        self.pop3, self.smtp = hostrun.free_port(), hostrun.free_port()
        plugin = hostrun.install_plugin(plugin_file, os.path.join(work, "plugin"),
                                        hostrun.ini_text(self.pop3, self.smtp,
                                                         proxy=("127.0.0.1", sim_port)))
        self.host = hostrun.Host(os.path.join(bin_dir, "quillmere-host"), plugin,
                                 log=open(os.path.join(work, "host.log"), "wb"))
        if not (hostrun.wait_for_port(self.pop3, 60, self.host.proc) and
                hostrun.wait_for_port(self.smtp, 60, self.host.proc)):
            raise RuntimeError("the bridge did not start")

    def stop(self):
        if self.host is not None:
            self.host.stop()
        self.sim.terminate()
        self.sim.wait()


def one_run(builds, work):
    """All builds at once, their conversations in turns (a busy machine then
    weighs on each alike); returns their figures by name."""
    bridges = {}
    try:
        for name, build in builds.items():
            folder = os.path.join(work, name.replace(" ", "-"))
            os.makedirs(folder)
            bridges[name] = Bridge(build, folder)
        times = {name: {"first": [], "pop3": [], "smtp": []} for name in builds}
        for name, bridge in bridges.items():
            times[name]["first"].append(pop3_conversation(bridge.pop3))
        for _ in range(CONVERSATIONS):
            for name, bridge in bridges.items():
                times[name]["pop3"].append(pop3_conversation(bridge.pop3))
        body = message(2 * KB, "sent")
        for _ in range(CONVERSATIONS):
            for name, bridge in bridges.items():
                times[name]["smtp"].append(smtp_conversation(bridge.smtp, body))
        return {name: {"first": t["first"][0],
                       "pop3_median": baselines.median(t["pop3"]), "pop3_sum": sum(t["pop3"]),
                       "smtp_median": baselines.median(t["smtp"]), "smtp_sum": sum(t["smtp"])}
                for name, t in times.items()}
    finally:
        for bridge in bridges.values():
            bridge.stop()


def report(name, figures):
    print("%s: first conversation (sign-in, STAT, RETR) %.1f ms; after it, POP3 median "
          "%.2f ms (sum of 20: %.1f ms), SMTP median %.2f ms (sum of 20: %.1f ms)"
          % (name, figures["first"] * 1e3, figures["pop3_median"] * 1e3,
             figures["pop3_sum"] * 1e3, figures["smtp_median"] * 1e3, figures["smtp_sum"] * 1e3))


def main():
    parser = argparse.ArgumentParser()
    for flag in ("--sim", "--bin", "--plugin", "--work"):
        parser.add_argument(flag, required=True)
    for flag in ("--baseline-sim", "--baseline-bin", "--baseline-plugin"):
        parser.add_argument(flag)
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    os.environ.pop("QUILLMERE_VERIFIER_ROUNDS", None)
    builds = {"this build": (args.sim, args.bin, args.plugin)}
    if args.baseline_plugin:
        builds["baseline"] = (args.baseline_sim, args.baseline_bin, args.baseline_plugin)
    runs = []
    for i in range(args.runs):
        work = os.path.join(args.work, "run%d" % i)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        runs.append(one_run(builds, work))
    figures = {}
    for name in builds:
        figures[name] = {key: baselines.median([r[name][key] for r in runs])
                         for key in runs[0][name]}
        report(name, figures[name])
    with open(os.path.join(args.work, "small.json"), "w") as f:
        json.dump(figures, f)
    if "baseline" not in figures:
        return 0
    missed = 0
    for key in ("pop3_median", "smtp_median"):
        # The ratio within each run, where both builds met the same load.
        ratio = baselines.median([r["this build"][key] / r["baseline"][key] for r in runs])
        ok = ratio <= 1.10
        missed += not ok
        print("%s after the first conversation: %.2fx the baseline (median of the runs' "
              "ratios; target at most 1.10x): %s"
              % (key.split("_")[0].upper(), ratio, "met" if ok else "MISSED"))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
