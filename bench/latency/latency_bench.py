"""The bridge where users meet the site: tens of milliseconds away. Every
connection the bridge makes to its HTTP proxy (the simulator, which is also
the site) goes through latency-relay, which holds each byte for half the
round trip in each direction and a connection's first bytes for one round
trip more (the TCP handshake). Dovecot is reached through the same relay, as
if the site spoke POP3 itself.

usage: latency_bench.py --sim VUREL_SIM --bin HOST_BIN_DIR --plugin PLUGIN
                        --relay LATENCY_RELAY --work DIR
                        [--baseline-bin DIR --baseline-plugin PLUGIN --baseline-sim SIM
                         | --baseline-commit REV [--baseline-root DIR]]
                        [--runs N] [--list-runs N] [--quick] [--messages N]
                        [--list-messages N] [--sends N] [--rtts 0,20,50]
                        [--cases pop3,signin,list,smtp]

Cases, each at round trips of 0, 20 and 50 ms unless said:
  pop3 http / https  Python's poplib: USER, PASS, STAT, UIDL, RETR of each,
                     DELE of each, QUIT, against 100 messages (17.9 KB on
                     average, 1.79 MB in all, fixed seed, some with lines that begin with "."
                     and some with bare LFs), adopting a saved session; beside
                     Dovecot serving the same messages through the relay. Over
                     https the site is --tls and the bridge goes through CONNECT.
  signin http / https  USER and PASS without a saved session (PASS signs in
                     and lists the 100 messages' 4 pages).
  list 10000         USER, PASS, STAT of 10,000 messages with a saved session
                     (at 0 and 50 ms only).
  smtp 20x20KB       20 smtplib conversations (AUTH LOGIN, saved session), one
                     20 KB message each, timed together (at 0 and 50 ms only).
The build before (--baseline-*, or --baseline-commit REV: a git worktree of
REV under --baseline-root, default build/latency-baseline/<sha>, whose
release targets quillmere-host, quillmere_plugin and vurel-sim are built
once and reused) runs every bridge case at 0 ms, the listing and the sends
at 50 ms, and the sign-in at every round trip.

How a sample runs: a new simulator (its mailbox as loaded at start), a new
relay and a new host with the plug-in, so every timed conversation meets the
whole mailbox (QUIT deletes it) and only the session saved by an untimed
conversation just before it. That conversation (USER, PASS, STAT, QUIT; one
send for SMTP) runs at a round trip of 0; the relay then takes the case's
delay and its connection counts are reset. Dovecot gets a fresh copy of its
Maildir and the same untimed conversation. The sign-in's host has no saved
session at all. The comparands of a case take turns, --runs times (the
10,000 listing --list-runs times); each figure is the median, and each ratio
the median of the ratios within a round (where both met the same load). At
0 ms at least 9 rounds are run: those samples are short, mostly CPU, and a
shared machine moves them by a quarter from one to the next.

Targets (a PASS or FAIL line each; exit status 1 on any FAIL):
  at 50 ms  pop3 https at most 1.0x Dovecot; pop3 http at most 0.7x Dovecot;
            the 10,000 listing at most 0.25x the build before; the sends at
            most 1.05x the build before (no slower, with 5% for noise);
  at 0 ms   every bridge case at most 1.1x the build before;
  always    at most 6 connections open at once at the relay for this build.
The verifier of saved sessions runs at full strength (QUILLMERE_VERIFIER_ROUNDS
is cleared), as users meet it. The table at the end can go into README.
"""

import argparse
import base64
import contextlib
import json
import os
import poplib
import random
import shutil
import smtplib
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "host"))
import baselines  # noqa: E402
import hostrun  # noqa: E402

USER, PASSWORD = "bench", "bench"
KB = 1000                  # the mailbox's sizes are decimal: 17.9 KB, 1.79 MB
AVERAGE = 17.9 * KB        # the mailbox's mean message size
MAX_CONNECTIONS = 6        # at once at the relay, for one conversation
TIMEOUT = 900              # seconds for any one conversation
HTTPS_SITE = {"FrontPage": "https://mail.vurel.example/",
              "LoginPage": "https://login.vurel.example/config/login"}

WORDS = ("the meeting notes are attached please find below our quarterly figures "
         "thanks again for your help with the move next week regards see you "
         "tomorrow invoice schedule project draft review comments budget").split()


# ---- mail -----------------------------------------------------------------

def text_lines(rng, count):
    return [" ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 12))).capitalize() + "."
            for _ in range(count)]


def make_message(rng, n, size):
    """One message of about size bytes. Every fifth has lines that begin with
    "." (a quoted signature, an ellipsis, a lone dot), every seventh ends
    some of its lines with a bare LF; the large ones are a text and a base64
    attachment."""
    header = ("From: Sender %d <sender%d@example.org>\r\nTo: Bench <bench@vurel.example>\r\n"
              "Subject: Note %d about the %s\r\nDate: Mon, %d Nov 2026 %02d:%02d:00 +0000\r\n"
              "Message-ID: <%d.latency@example.org>\r\nMIME-Version: 1.0\r\n"
              % (n, n, n, rng.choice(WORDS), 1 + n % 28, n % 24, n % 60, n))
    dots = n % 5 == 2
    bare = n % 7 == 3
    body = []
    if size >= 50 * KB:
        boundary = "=_latency_%d" % n
        header += 'Content-Type: multipart/mixed; boundary="%s"\r\n\r\n' % boundary
        body += ["--" + boundary, "Content-Type: text/plain; charset=us-ascii", ""]
        body += text_lines(rng, 12)
        body += ["--" + boundary, "Content-Type: application/octet-stream",
                 'Content-Disposition: attachment; filename="file%d.bin"' % n,
                 "Content-Transfer-Encoding: base64", ""]
        tail = "--" + boundary + "--"
        # What is left for the attachment's lines of 76 characters and CR LF.
        left = size - len(header) - sum(len(line) + 2 for line in body) - len(tail) - 2
        raw = rng.randbytes(max(0, left * 76 // 78 * 3 // 4))
        encoded = base64.b64encode(raw).decode()
        body += [encoded[i:i + 76] for i in range(0, len(encoded), 76)]
        body += [tail]
    else:
        header += "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
        used = len(header)
        while used < size:
            line = text_lines(rng, 1)[0]
            if dots and rng.random() < 0.1:
                line = rng.choice((".", "..", "...and so on", ".signature follows"))
            line = line[:max(1, size - used - 2)]  # the last line ends at the size
            body.append(line)
            used += len(line) + 2
    out = header.encode()
    for i, line in enumerate(body):
        out += line.encode() + (b"\n" if bare and i % 3 == 1 else b"\r\n")
    return out


def make_mailbox(count, seed=1790):
    """count messages, mostly of 2-10 KB with one in twelve of 50-200 KB,
    the large ones sized so that the mean is 17.9 KB; the same for a seed."""
    rng = random.Random(seed)
    large = [i % 12 == 7 for i in range(count)]
    sizes = [rng.randint(50 * KB, 200 * KB) if big else rng.randint(2 * KB, 10 * KB)
             for big in large]
    # The large ones are scaled towards the mean, those that reach a bound
    # held there and the rest scaled again.
    for _ in range(10):
        free = [i for i, big in enumerate(large) if big and 50 * KB < sizes[i] < 200 * KB]
        if not free:
            break
        want = int(AVERAGE * count) - sum(s for i, s in enumerate(sizes) if i not in free)
        have = sum(sizes[i] for i in free)
        for i in free:
            sizes[i] = min(200 * KB, max(50 * KB, sizes[i] * want // have))
    return [make_message(rng, n, size) for n, size in enumerate(sizes)]


def small_message(n):
    return ("From: Sender %d <s%d@example.org>\r\nTo: bench@vurel.example\r\n"
            "Subject: Note %d\r\n\r\nBody of note %d.\r\n" % (n, n, n, n)).encode()


def lines_of(message):
    """A message as the lines a POP3 client gets (line ends aside)."""
    lines = message.replace(b"\r\n", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return tuple(lines)


def write_eml_folder(messages, folder):
    os.makedirs(folder, exist_ok=True)
    for n, message in enumerate(messages):
        with open(os.path.join(folder, "%05d.eml" % n), "wb") as f:
            f.write(message)


def write_maildir(messages, folder):
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    for n, message in enumerate(messages):
        with open(os.path.join(folder, "cur", "%d.latency%05d:2," % (1700000000 + n, n)),
                  "wb") as f:
            f.write(message)


# ---- programs ---------------------------------------------------------------

class Relay:
    """latency-relay in front of a loopback port, driven by its control lines."""

    def __init__(self, program, target_port, work):
        port_file = os.path.join(work, "relay.port")
        self.log = open(os.path.join(work, "relay.log"), "wb")
        self.proc = subprocess.Popen(
            [program, "--listen", "127.0.0.1:0", "--port-file", port_file,
             "--target", "127.0.0.1:%d" % target_port, "--delay-ms", "0"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True, bufsize=1)
        deadline = time.time() + 30
        while not os.path.exists(port_file):
            if self.proc.poll() is not None or time.time() > deadline:
                raise RuntimeError("latency-relay did not start (see %s)" % self.log.name)
            time.sleep(0.02)
        self.port = int(open(port_file).read())

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if not answer or answer.startswith("error"):
            raise RuntimeError("latency-relay answered %r to %r" % (answer, line))
        return answer

    def set_round_trip(self, rtt_ms):
        self.command("delay %g" % (rtt_ms / 2.0))

    def reset(self):
        self.command("reset")

    def peak(self):
        fields = self.command("stats").split()
        return int(fields[fields.index("peak") + 1])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        self.log.close()


@contextlib.contextmanager
def certificate_file(path):
    """SSL_CERT_FILE for the host started inside (the simulator's CA only)."""
    saved = {k: os.environ.get(k) for k in ("SSL_CERT_FILE", "SSL_CERT_DIR")}
    os.environ.pop("SSL_CERT_DIR", None)
    if path:
        os.environ["SSL_CERT_FILE"] = path
    try:
        yield
    finally:
        for key, value in saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value


class Stack:
    """A simulator with the mailbox, the relay in front of it and a host with
    the plug-in whose HTTP proxy is the relay; or, for build None, Dovecot
    with the Maildir behind the relay (pop3 is then the relay's port)."""

    def __init__(self, args, build, scheme, mailbox, work):
        os.makedirs(work)
        self.sim = self.dovecot = self.relay = self.host = None
        try:
            if build is None:
                maildir = os.path.join(work, "Maildir")
                shutil.copytree(mailbox, maildir)
                self.dovecot = baselines.start_dovecot(maildir, USER, PASSWORD,
                                                       os.path.join(work, "dovecot"))
                self.relay = Relay(args.relay, self.dovecot.port, work)
                self.pop3 = self.relay.port
                return
            sim_program, bin_dir, plugin_file = build
            ca = os.path.join(work, "ca.pem") if scheme == "https" else None
            extra = ["--tls", "--ca-file", ca] if ca else []
            self.sim, sim_port = baselines.start_simulator(sim_program, work, USER, PASSWORD,
                                                           mailbox, extra)
            self.relay = Relay(args.relay, sim_port, work)
            self.pop3, self.smtp = hostrun.free_port(), hostrun.free_port()
            plugin = hostrun.install_plugin(
                plugin_file, os.path.join(work, "plugin"),
                hostrun.ini_text(self.pop3, self.smtp, site=HTTPS_SITE if ca else None,
                                 proxy=("127.0.0.1", self.relay.port)))
            with certificate_file(ca):
                self.host = hostrun.Host(os.path.join(bin_dir, "quillmere-host"), plugin,
                                         log=open(os.path.join(work, "host.log"), "wb"))
            if not (hostrun.wait_for_port(self.pop3, 60, self.host.proc) and
                    hostrun.wait_for_port(self.smtp, 60, self.host.proc)):
                raise RuntimeError("the bridge did not start (see %s)" % work)
        except BaseException:
            self.stop()
            raise

    def stop(self):
        if self.host is not None:
            self.host.stop()
        if self.relay is not None:
            self.relay.stop()
        if self.sim is not None:
            self.sim.terminate()
            self.sim.wait()
        if self.dovecot is not None:
            self.dovecot.stop()


# ---- conversations ----------------------------------------------------------

def pop3_open(port):
    client = poplib.POP3("127.0.0.1", port, timeout=TIMEOUT)
    client.user(USER)
    client.pass_(PASSWORD)
    return client


def untimed_pop3(port):
    """Signs in (the bridge then keeps the session) and touches the mailbox."""
    client = pop3_open(port)
    client.stat()
    client.quit()


def pop3_conversation(port, expected):
    """The whole conversation, timed from connect to QUIT's answer; checks
    that every message came whole."""
    start = time.perf_counter()
    client = pop3_open(port)
    count, _ = client.stat()
    client.uidl()
    got = []
    for n in range(1, count + 1):
        got.append(tuple(client.retr(n)[1]))
    for n in range(1, count + 1):
        client.dele(n)
    client.quit()
    elapsed = time.perf_counter() - start
    if sorted(got) != expected:
        raise RuntimeError("the messages did not come as stored (%d of %d listed)"
                           % (count, len(expected)))
    return elapsed


def sign_in(port):
    start = time.perf_counter()
    client = pop3_open(port)
    elapsed = time.perf_counter() - start
    client.quit()
    return elapsed


def listing(port, count):
    start = time.perf_counter()
    client = pop3_open(port)
    listed, _ = client.stat()
    elapsed = time.perf_counter() - start
    client.quit()
    if listed != count:
        raise RuntimeError("%d of %d messages listed" % (listed, count))
    return elapsed


def smtp_send(port, body):
    client = smtplib.SMTP("127.0.0.1", port, timeout=TIMEOUT)
    client.ehlo("bench")
    client.user, client.password = USER, PASSWORD
    client.auth("LOGIN", client.auth_login)
    client.sendmail("bench@vurel.example", ["friend@example.org"], body)
    client.quit()


def smtp_sends(port, count, body):
    start = time.perf_counter()
    for _ in range(count):
        smtp_send(port, body)
    return time.perf_counter() - start


def sent_message(size):
    header = (b"From: Bench <bench@vurel.example>\r\nTo: friend@example.org\r\n"
              b"Subject: twenty kilobytes\r\n\r\n")
    line = b"The quick brown fox jumps over the lazy dog. 0123456789 abcdefghij\r\n"
    return header + (line * (size // len(line) + 1))[:size - len(header)]


# ---- the cases --------------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        self.samples = 0
        data = os.path.join(self.work, "data")
        shutil.rmtree(data, ignore_errors=True)
        messages = make_mailbox(args.messages)
        self.expected = sorted(lines_of(m) for m in messages)
        self.mail_eml = os.path.join(data, "mailbox")
        self.maildir = os.path.join(data, "Maildir")
        write_eml_folder(messages, self.mail_eml)
        write_maildir(messages, self.maildir)
        self.list_eml = os.path.join(data, "mailbox-%d" % args.list_messages)
        write_eml_folder([small_message(n) for n in range(args.list_messages)], self.list_eml)
        self.body = sent_message(20 * KB)
        total = sum(len(m) for m in messages)
        print("mailbox: %d messages, %.2f MB in all, %.1f KB on average (%d of 50 KB or "
              "more); listing mailbox: %d messages"
              % (len(messages), total / 1e6, total / len(messages) / KB,
                 sum(len(m) >= 50 * KB for m in messages), args.list_messages), flush=True)

    def stack(self, build, scheme, mailbox):
        self.samples += 1
        return Stack(self.args, build, scheme, mailbox,
                     os.path.join(self.work, "s%04d" % self.samples))

    def timed(self, build, scheme, mailbox, rtt, prepare, measure):
        """One sample: a new stack, the untimed conversation at 0 ms, then
        the measured one at rtt; returns (seconds, peak connections)."""
        stack = self.stack(build, scheme, mailbox)
        try:
            if prepare is not None:
                prepare(stack)
            stack.relay.set_round_trip(rtt)
            stack.relay.reset()
            seconds = measure(stack)
            return seconds, stack.relay.peak()
        finally:
            stack.stop()

    def pop3(self, build, scheme, rtt):
        # Dovecot (build None) reads a fresh copy of the Maildir.
        mailbox = self.maildir if build is None else self.mail_eml
        return self.timed(build, scheme, mailbox, rtt, lambda s: untimed_pop3(s.pop3),
                          lambda s: pop3_conversation(s.pop3, self.expected))

    def signin(self, build, scheme, rtt):
        return self.timed(build, scheme, self.mail_eml, rtt, None, lambda s: sign_in(s.pop3))

    def list(self, build, scheme, rtt):
        count = self.args.list_messages
        return self.timed(build, scheme, self.list_eml, rtt, lambda s: untimed_pop3(s.pop3),
                          lambda s: listing(s.pop3, count))

    def smtp(self, build, scheme, rtt):
        return self.timed(build, scheme, self.mail_eml, rtt,
                          lambda s: smtp_send(s.smtp, self.body),
                          lambda s: smtp_sends(s.smtp, self.args.sends, self.body))


def baseline_from_commit(revision, root):
    """The release build of revision in a worktree of its own under root,
    made and built once; returns (sim, bin, plugin)."""
    sha = subprocess.run(["git", "-C", SOURCE, "rev-parse", "--verify", revision + "^{commit}"],
                         check=True, capture_output=True, text=True).stdout.strip()
    tree = os.path.join(root, sha)
    release = os.path.join(tree, "build", "release")
    build = (os.path.join(release, "bin", "vurel-sim"), os.path.join(release, "bin"),
             os.path.join(release, "plugin", "Quillmere.so"))
    if not os.path.isdir(tree):
        os.makedirs(root, exist_ok=True)
        subprocess.run(["git", "-C", SOURCE, "worktree", "add", "--detach", tree, sha],
                       check=True, stdout=subprocess.DEVNULL)
    if not all(os.path.exists(p) for p in (build[0], build[2],
                                           os.path.join(build[1], "quillmere-host"))):
        print("building the build before (%s) in %s" % (sha[:12], tree), flush=True)
        subprocess.run(["cmake", "--preset", "release"], cwd=tree, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "release", "-j2", "--target",
                        "quillmere-host", "quillmere_plugin", "vurel-sim"], cwd=tree,
                       check=True, stdout=subprocess.DEVNULL)
    return build, sha


def schedule(args, has_before):
    """Groups in the order they run: (case, rtt, runs, subjects, rows). A
    subject is (who, scheme), who being "this", "before" or "dovecot"; the
    subjects take turns, runs times. Each row is (scheme, comparands): this
    build over that scheme and what it is compared with (Dovecot's runs
    serve both schemes)."""
    rtts = [float(r) for r in args.rtts.split(",")]
    cases = args.cases.split(",")
    before = ["before"] if has_before else []
    plan = []
    for rtt in rtts:
        # At 0 ms the samples are short and cheap: more of them steady the
        # ratio to the build before against the machine's noise.
        runs = args.runs if args.quick or rtt != 0 else max(args.runs, 9)
        if "pop3" in cases:
            others = (before if rtt == 0 else []) + ["dovecot"]
            subjects = [(who, scheme) for who in ["this"] + (before if rtt == 0 else [])
                        for scheme in ("http", "https")] + [("dovecot", None)]
            plan.append(("pop3", rtt, runs, subjects,
                         [(scheme, others) for scheme in ("http", "https")]))
        if "signin" in cases:
            for scheme in ("http", "https"):
                plan.append(("signin", rtt, runs, [(w, scheme) for w in ["this"] + before],
                             [(scheme, before)]))
        if "list" in cases and rtt in (0, max(rtts)):
            plan.append(("list", rtt, runs if rtt == 0 else args.list_runs,
                         [(w, "http") for w in ["this"] + before], [("http", before)]))
        if "smtp" in cases and rtt in (0, max(rtts)):
            plan.append(("smtp", rtt, runs, [(w, "http") for w in ["this"] + before],
                         [("http", before)]))
    return plan


TARGETS = {
    # (case, scheme, rtt): (comparand, highest ratio, what it says)
    ("pop3", "https", 50.0): ("dovecot", 1.0, "POP3 conversation over HTTPS at most 1.0x Dovecot"),
    ("pop3", "http", 50.0): ("dovecot", 0.7, "POP3 conversation over HTTP at most 0.7x Dovecot"),
    ("list", "http", 50.0): ("before", 0.25, "listing at most 0.25x the build before"),
    ("smtp", "http", 50.0): ("before", 1.05,
                             "sends no slower than the build before (1.05x: 5% for noise)"),
}


def label(case, scheme, args):
    return {"pop3": "POP3 %d messages %s" % (args.messages, scheme),
            "signin": "fresh sign-in %s" % scheme,
            "list": "STAT of %d (saved session)" % args.list_messages,
            "smtp": "%d SMTP sends of 20 KB" % args.sends}[case]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for flag in ("--sim", "--bin", "--plugin", "--relay", "--work"):
        parser.add_argument(flag, required=True)
    for flag in ("--baseline-sim", "--baseline-bin", "--baseline-plugin", "--baseline-commit"):
        parser.add_argument(flag)
    parser.add_argument("--baseline-root", default=os.path.join(SOURCE, "build",
                                                                "latency-baseline"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--list-runs", type=int, default=1)
    parser.add_argument("--quick", action="store_true", help="one run of each")
    parser.add_argument("--messages", type=int, default=100)
    parser.add_argument("--list-messages", type=int, default=10000)
    parser.add_argument("--sends", type=int, default=20)
    parser.add_argument("--rtts", default="0,20,50")
    parser.add_argument("--cases", default="pop3,signin,list,smtp")
    args = parser.parse_args()
    if args.quick:
        args.runs = args.list_runs = 1
    os.environ.pop("QUILLMERE_VERIFIER_ROUNDS", None)
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    for old in os.listdir(args.work):
        if old.startswith("s") and old[1:].isdigit():
            shutil.rmtree(os.path.join(args.work, old), ignore_errors=True)

    check = subprocess.run([args.relay, "--self-check", "--delay-ms", "25"],
                           capture_output=True, text=True)
    sys.stdout.write(check.stdout)
    if check.returncode != 0:
        sys.stdout.write(check.stderr)
        print("FAIL: latency-relay's self-check failed; nothing was measured")
        return 1

    builds = {"this": (args.sim, args.bin, args.plugin), "dovecot": None}
    if args.baseline_plugin:
        builds["before"] = (args.baseline_sim, args.baseline_bin, args.baseline_plugin)
        print("the build before: %s" % args.baseline_plugin)
    elif args.baseline_commit:
        builds["before"], sha = baseline_from_commit(args.baseline_commit, args.baseline_root)
        print("the build before: %s (%s)" % (sha[:12], args.baseline_commit))
    baselines.ensure_packages("/usr/sbin/dovecot", ["dovecot-core", "dovecot-pop3d"])
    bench = Bench(args)

    results = []
    began = time.time()
    for case, rtt, runs, subjects, rows in schedule(args, "before" in builds):
        times = {subject: [] for subject in subjects}
        peaks = {subject: [] for subject in subjects}
        for _ in range(runs):
            for who, scheme in subjects:
                seconds, peak = getattr(bench, case)(builds[who], scheme, rtt)
                times[(who, scheme)].append(seconds)
                peaks[(who, scheme)].append(peak)
        for scheme, others in rows:
            def of(who):
                return (who, None) if who == "dovecot" else (who, scheme)
            row = {"case": case, "scheme": scheme, "rtt": rtt, "label": label(case, scheme, args),
                   "seconds": {}, "all": {}, "peak": {}, "ratio": {}}
            for who in ["this"] + others:
                row["seconds"][who] = baselines.median(times[of(who)])
                row["all"][who] = times[of(who)]
                row["peak"][who] = max(peaks[of(who)])
            for who in others:
                row["ratio"][who] = baselines.median(
                    [a / b for a, b in zip(times[of("this")], times[of(who)])])
            results.append(row)
            print("%5g ms  %-28s this build %8.3f s, peak %d connections%s   [%.0f s so far]"
                  % (rtt, row["label"], row["seconds"]["this"], row["peak"]["this"],
                     "".join(", %s %.3f s (%.2fx)" % (o, row["seconds"][o], row["ratio"][o])
                             for o in others), time.time() - began), flush=True)

    with open(os.path.join(args.work, "latency.json"), "w") as f:
        json.dump(results, f, indent=1)

    print()
    print("| round trip | case | this build | compared with | ratio | peak connections |")
    print("|---|---|---|---|---|---|")
    for row in results:
        others = list(row["ratio"])
        print("| %g ms | %s | %.2f s | %s | %s | %d%s |"
              % (row["rtt"], row["label"], row["seconds"]["this"],
                 ", ".join("%s %.2f s" % (o, row["seconds"][o]) for o in others) or "-",
                 ", ".join("%.2fx" % row["ratio"][o] for o in others) or "-",
                 row["peak"]["this"],
                 "".join(" (%s %d)" % (o, row["peak"][o]) for o in others)))
    print()

    failed = 0

    def verdict(ok, text):
        nonlocal failed
        failed += not ok
        print("%s: %s" % ("PASS" if ok else "FAIL", text))

    for row in results:
        key = (row["case"], row["scheme"], row["rtt"])
        if key in TARGETS and TARGETS[key][0] in row["ratio"]:
            other, limit, text = TARGETS[key]
            ratio = row["ratio"][other]
            verdict(ratio <= limit, "%g ms, %s: %.2fx" % (row["rtt"], text, ratio))
        if row["rtt"] == 0 and "before" in row["ratio"]:
            ratio = row["ratio"]["before"]
            verdict(ratio <= 1.1, "0 ms, %s at most 1.1x the build before: %.2fx"
                    % (row["label"], ratio))
        verdict(row["peak"]["this"] <= MAX_CONNECTIONS,
                "%g ms, %s: at most %d connections at once: %d"
                % (row["rtt"], row["label"], MAX_CONNECTIONS, row["peak"]["this"]))
    print("%d target%s missed; %.0f s in all" % (failed, "" if failed == 1 else "s",
                                                 time.time() - began))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
