"""End to end: the stand-in host with the real plug-in and the site simulator,
driven by real POP3 clients (Python's poplib, curl, fetchmail).

usage: pop3_e2e.py --sim VUREL_SIM --bin HOST_BIN_DIR --plugin PLUGIN --work DIR
                   [--mode proxy|direct|tls-proxy|tls-chain|tls-direct] [--mailbox DIR]
                   [unittest arguments]

proxy mode: the plug-in uses the simulator as its HTTP proxy (any user).
direct mode: the simulator listens on port 80 of a loopback address of its own
and the plug-in talks to it directly (root only; skipped otherwise).
tls-* modes: the simulator serves the site over HTTPS (--tls) and the plug-in
trusts its test CA only (SSL_CERT_FILE): tls-proxy through the simulator's own
CONNECT, tls-chain through tinyproxy with the simulator as its upstream proxy,
tls-direct on port 443 of a loopback address named by an IP subject name (root
only). Their extra rows: a certificate of another CA, an expired one, one for
another name and a TLS 1.0-only server each end the sign-in with "-ERR" and a
log line naming the reason, and no request reaches the site.
The host and the plug-in may be the Windows build: they then run under wine,
while the simulator and the clients stay native. There the plug-in trusts the
roots of wine's store, where a test fixture has put the CA of the test
certificates in QUILL_TLS_TEST_PKI: when that is set, the simulator serves
those certificates (a fault's own for a certificate fault) instead of making
its own."""

import argparse
import glob
import hashlib
import http.client
import itertools
import os
import poplib
import re
import shutil
import ssl
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "host"))
import hostrun  # noqa: E402


def read_file(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


parser = argparse.ArgumentParser()
parser.add_argument("--sim", required=True)
parser.add_argument("--bin", required=True)
parser.add_argument("--plugin", required=True)
parser.add_argument("--work", required=True)
parser.add_argument("--mode", default="proxy",
                    choices=["proxy", "direct", "tls-proxy", "tls-chain", "tls-direct"])
parser.add_argument("--mailbox", default=os.path.join(HERE, "..", "..", "..", "site",
                                                      "demo-mailbox"))
ARGS, rest = parser.parse_known_args()
sys.argv[1:] = rest

TLS = ARGS.mode.startswith("tls-")
DIRECT = ARGS.mode in ("direct", "tls-direct")
SCHEME = "https" if TLS else "http"
EXE = ".exe" if ARGS.plugin.lower().endswith(".dll") else ""
HOST = os.path.join(ARGS.bin, "quillmere-host" + EXE)
USER, PASSWORD = "alice", "secret"
TIMEOUT = 60
DEMO = {os.path.basename(f): read_file(f)
        for f in sorted(glob.glob(os.path.join(ARGS.mailbox, "*.eml")))}
_addresses = itertools.count(1)
PKI = os.environ.get("QUILL_TLS_TEST_PKI")
PKI_FAULTS = {"other-ca": "site-otherca.pem", "expired": "site-expired.pem",
              "wrong-name": "wrongname.pem"}


def tls_args(work, fault):
    """The simulator's HTTPS options, and the CA file that trusts it."""
    if not PKI:
        ca_file = os.path.join(work, "test-ca.pem")
        return ["--tls", "--ca-file", ca_file] + (["--tls-fault", fault] if fault else []), ca_file
    args = ["--tls", "--cert", os.path.join(PKI, PKI_FAULTS.get(fault, "site.pem")),
            os.path.join(PKI, "server.key")]
    return args + (["--tls-fault", fault] if fault == "tls1.0" else []), os.path.join(PKI, "ca.pem")


def split_message(raw):
    end = raw.find(b"\r\n\r\n")
    return raw[:end + 4], raw[end + 4:]


def unstuffed(lines):
    """A multi-line reply as poplib gives it (already un-stuffed) back to bytes."""
    return b"".join(line + b"\r\n" for line in lines)


def find_demo(raw):
    for name, stored in DEMO.items():
        if stored == raw:
            return name
    return None


class Simulator:
    def __init__(self, work, extra=(), fault=None):
        self.log_path = os.path.join(work, "sim.log")
        port_file = os.path.join(work, "sim.port")
        if os.path.exists(port_file):
            os.remove(port_file)  # an earlier simulator's in the same folder
        args = [ARGS.sim, "--user", "%s:%s" % (USER, PASSWORD), "--mailbox", ARGS.mailbox,
                "--log", "--port-file", port_file] + list(extra)
        if TLS:
            # The test CA only: the host and the checks below trust nothing else.
            tls, self.ca_file = tls_args(work, fault)
            args += tls
            os.environ["SSL_CERT_FILE"] = self.ca_file
            os.environ.pop("SSL_CERT_DIR", None)
        if DIRECT:
            n = next(_addresses)
            self.address = "127.66.%d.%d" % (os.getpid() % 250 + 1, n % 250 + 1)
            args += ["--listen", self.address + (":443" if TLS else ":80"), "--direct"]
        else:
            args += ["--listen", "127.0.0.1:0"]
        self.log = open(self.log_path, "wb")
        cmd = args
        if ARGS.sim.lower().endswith(".exe"):
            cmd = hostrun.emulator() + args[:1] + [
                hostrun.native_to_host_path(a, True) if a in (ARGS.mailbox, port_file) else a
                for a in args[1:]]
        self.proc = subprocess.Popen(cmd, stdout=self.log, stderr=subprocess.STDOUT,
                                     env=hostrun.host_env())
        deadline = time.time() + TIMEOUT
        while not (os.path.exists(port_file) and read_file(port_file, "r").strip()):
            if self.proc.poll() is not None or time.time() > deadline:
                raise RuntimeError("vurel-sim did not start: " + read_file(self.log_path, "r"))
            time.sleep(0.05)
        self.port = int(read_file(port_file, "r").strip())
        if not DIRECT:
            self.address = "127.0.0.1"
            self.front = "mail.vurel.example"
        else:
            self.front = self.address
        self.proxy = ("127.0.0.1", self.port) if not DIRECT else None
        self.tinyproxy = None
        if ARGS.mode == "tls-chain":
            self.tinyproxy = hostrun.Tinyproxy(work, self.port)
            self.proxy = ("127.0.0.1", self.tinyproxy.port)

    def stop(self):
        if self.tinyproxy is not None:
            self.tinyproxy.stop()
        self.proc.terminate()
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.log.close()

    def logins(self):
        """How many sign-in forms were posted."""
        return len(re.findall(rb'"POST \S*/config/login ', read_file(self.log_path)))

    # --- looking at the site as a browser would --------------------------

    def _get(self, url, cookie=None, body=None):
        m = re.match(r"https?://([^/]+)(/.*)", url)
        if TLS:
            context = ssl.create_default_context(cafile=self.ca_file)
            if DIRECT:
                conn = http.client.HTTPSConnection(m.group(1), 443, timeout=TIMEOUT,
                                                   context=context)
            else:
                conn = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=TIMEOUT,
                                                   context=context)
                conn.set_tunnel(m.group(1), 443)
            target = m.group(2)
        elif ARGS.mode == "proxy":
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=TIMEOUT)
            target = url
        else:
            conn = http.client.HTTPConnection(m.group(1), 80, timeout=TIMEOUT)
            target = m.group(2)
        headers = {}
        if cookie is not None:
            headers["Cookie"] = cookie
        if body is not None:
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        conn.request("POST" if body is not None else "GET", target, body=body, headers=headers)
        r = conn.getresponse()
        data = r.read()
        cookies = "".join(v.split(";")[0] + "; " for k, v in r.getheaders()
                          if k.lower() == "set-cookie")
        location = r.getheader("Location")
        conn.close()
        return r.status, data.decode("latin-1"), cookies, location

    def folder_count(self, folder):
        """The number of messages in one of alice's folders, by signing in."""
        front = "%s://%s/" % (SCHEME, self.front)
        status, page, cookie, _ = self._get(front)
        challenge = re.search(r'name="\.challenge" value="([^"]*)"', page).group(1)
        answer = hashlib.md5((hashlib.md5(PASSWORD.encode()).hexdigest() + challenge)
                             .encode()).hexdigest()
        login = front.replace("mail.", "login.") + "config/login" if not DIRECT \
            else front + "config/login"
        body = (".tries=1&.src=vm&.intl=us&login=%s&passwd=%s&.hash=1&.md5=1&.js=1"
                "&.challenge=%s" % (USER, answer, challenge))
        status, page, more, location = self._get(login, cookie, body)
        cookie += more
        while status == 302:
            url = location
            status, page, more, location = self._get(url, cookie)
            cookie += more
        host = re.match(r"https?://([^/:]+)", url).group(1)
        status, page, _, _ = self._get(
            "%s://%s/vm/ShowFolder?box=%s&Nview=a&Npos=0" % (SCHEME, host, folder), cookie)
        m = re.search(r"Messages \d+-\d+ of (\d+)", page)
        return int(m.group(1)) if m else 0


class BridgeTest(unittest.TestCase):
    """Each test: a simulator, and the plug-in installed in a folder of its own."""

    save_cookie = True
    inbox = True
    sim_extra = ()
    # The diagnostic log goes to the host's output file, for a failure's report.
    host_args = ("--log",)

    def setUp(self):
        self.work = os.path.join(ARGS.work, ARGS.mode, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        if DIRECT and os.geteuid() != 0:
            self.skipTest("direct mode needs root: the mail host listens on port 80 or 443")
        self.sim = Simulator(self.work, self.sim_extra)
        self.addCleanup(self.sim.stop)
        self.pop3 = hostrun.free_port()
        self.smtp = hostrun.free_port()
        self.plugin = self.install()
        self.host = None
        self.start_host()

    def install(self, **changes):
        options = dict(save_cookie=self.save_cookie, inbox=self.inbox)
        options.update(changes)
        if ARGS.mode == "proxy":
            site, proxy = None, self.sim.proxy
        elif not DIRECT:
            site = {"FrontPage": "https://mail.vurel.example/",
                    "LoginPage": "https://login.vurel.example/config/login",
                    "MailDomain": "vurel.example"}
            proxy = self.sim.proxy
        else:
            site = {"FrontPage": "%s://%s/" % (SCHEME, self.sim.address),
                    "LoginPage": "%s://%s/config/login" % (SCHEME, self.sim.address),
                    "MailDomain": "vurel.example"}
            proxy = None
        return hostrun.install_plugin(
            ARGS.plugin, os.path.join(self.work, "plugin"),
            hostrun.ini_text(self.pop3, self.smtp, site=site, proxy=proxy, **options))

    def start_host(self):
        self.host_log = open(os.path.join(self.work, "host-%d.log" % time.time_ns()), "wb")
        self.host = hostrun.Host(HOST, self.plugin, args=self.host_args, log=self.host_log)
        self.assertTrue(hostrun.wait_for_port(self.pop3, TIMEOUT, self.host.proc),
                        "the POP3 server never listened")

    def stop_host(self):
        status, _ = self.host.stop()
        self.host_log.close()
        self.host = None
        self.assertEqual(status, 0, "the host did not stop cleanly")

    def tearDown(self):
        if self.host is not None:
            self.host.stop()
            self.host_log.close()

    def pop(self):
        p = poplib.POP3("127.0.0.1", self.pop3, timeout=TIMEOUT)
        self.assertEqual(p.getwelcome(), b"+OK Quillmere POP3 service ready")
        p.user(USER)
        p.pass_(PASSWORD)
        return p

    @property
    def cookie_file(self):
        return os.path.join(self.work, "plugin", "VurelCookie.dat")


class PoplibTest(BridgeTest):
    def test_every_message_byte_for_byte(self):
        p = self.pop()
        count, size = p.stat()
        self.assertEqual(count, len(DEMO))
        uids = [line.split()[1] for line in p.uidl()[1]]
        self.assertEqual(len(set(uids)), len(DEMO))
        self.assertEqual(len(p.list()[1]), len(DEMO))
        seen = set()
        for n in range(1, count + 1):
            raw = unstuffed(p.retr(n)[1])
            name = find_demo(raw)
            self.assertIsNotNone(name, "message %d differs from every stored one" % n)
            seen.add(name)
            header, body = split_message(DEMO[name])
            self.assertEqual(unstuffed(p.top(n, 0)[1]), header, "TOP %d 0" % n)
            first = body.split(b"\r\n")[0] + b"\r\n"
            self.assertEqual(unstuffed(p.top(n, 1)[1]), header + first, "TOP %d 1" % n)
            self.assertEqual(p.uidl(n).split()[-1], uids[n - 1])
        self.assertEqual(seen, set(DEMO))
        p.quit()
        self.assertEqual(self.sim.folder_count("Inbox"), len(DEMO))

    def test_deleted_messages_leave_inbox_and_trash(self):
        p = self.pop()
        p.dele(1)
        p.dele(2)
        p.dele(2)
        p.quit()
        self.assertEqual(self.sim.folder_count("Inbox"), len(DEMO) - 2)
        self.assertEqual(self.sim.folder_count("Trash"), 0)
        # RSET and a connection dropped without QUIT delete nothing.
        p = self.pop()
        p.dele(1)
        p.rset()
        p.quit()
        p = self.pop()
        p.dele(1)
        p.file.close()
        p.sock.close()
        p = self.pop()
        self.assertEqual(p.stat()[0], len(DEMO) - 2)
        p.quit()

    def test_wrong_password_without_saved_session(self):
        p = poplib.POP3("127.0.0.1", self.pop3, timeout=TIMEOUT)
        p.user(USER)
        with self.assertRaises(poplib.error_proto) as e:
            p.pass_("wrong")
        self.assertEqual(e.exception.args[0], b"-ERR Bad Login.")
        p.quit()


class CookieTest(BridgeTest):
    def test_second_run_signs_in_with_the_saved_cookie(self):
        p = self.pop()
        p.quit()
        logins = self.sim.logins()
        self.assertEqual(logins, 1)
        self.stop_host()
        saved = read_file(self.cookie_file)
        self.assertTrue(saved.startswith(b"//vurel cookie data file\r\r\n"), saved[:40])
        self.assertIn(b"User: alice\r\r\n", saved)
        self.start_host()
        p = self.pop()
        self.assertEqual(p.stat()[0], len(DEMO))
        p.quit()
        self.assertEqual(self.sim.logins(), logins)

    def test_save_cookie_off_leaves_the_file(self):
        self.stop_host()
        self.plugin = self.install(save_cookie=False)
        original = b"//vurel cookie data file\r\r\n"
        with open(self.cookie_file, "wb") as f:
            f.write(original)
        self.start_host()
        p = self.pop()
        p.quit()
        self.stop_host()
        self.assertEqual(read_file(self.cookie_file), original)


class InboxOffTest(BridgeTest):
    inbox = False

    def test_empty_mailbox(self):
        p = self.pop()
        self.assertEqual(p.stat(), (0, 0))
        self.assertEqual(p.list()[1], [])
        p.quit()


class CurlTest(BridgeTest):
    def curl(self, path):
        r = subprocess.run(["curl", "-s", "--max-time", str(TIMEOUT), "-u",
                            "%s:%s" % (USER, PASSWORD),
                            "pop3://127.0.0.1:%d/%s" % (self.pop3, path)],
                           stdout=subprocess.PIPE, timeout=TIMEOUT * 2)
        self.assertEqual(r.returncode, 0, "curl %s" % path)
        return r.stdout

    def test_list_and_retrieve(self):
        listing = self.curl("").split(b"\r\n")
        listing = [line for line in listing if line]
        self.assertEqual(len(listing), len(DEMO))
        seen = set()
        for n in range(1, len(DEMO) + 1):
            self.assertTrue(listing[n - 1].startswith(b"%d " % n))
            raw = self.curl(str(n))
            name = find_demo(raw)
            self.assertIsNotNone(name, "curl message %d" % n)
            seen.add(name)
        self.assertEqual(seen, set(DEMO))


class FetchmailTest(BridgeTest):
    def fetch(self, keep):
        home = os.path.join(self.work, "fetchmail-%s" % ("keep" if keep else "nokeep"))
        out = os.path.join(home, "mail")
        os.makedirs(out)
        rc = os.path.join(home, "rc")
        with open(rc, "w") as f:
            f.write("set no syslog\n"
                    "poll 127.0.0.1 service %d proto pop3 auth password timeout %d\n"
                    "  user \"%s\" password \"%s\" %s\n"
                    "  sslproto ''\n"
                    "  mda \"/bin/sh -c 'cat > %s/msg.$$'\"\n"
                    % (self.pop3, TIMEOUT, USER, PASSWORD, "keep" if keep else "nokeep", out))
        os.chmod(rc, 0o600)
        env = dict(os.environ, FETCHMAILHOME=home)
        r = subprocess.run(["fetchmail", "-f", rc, "--nodetach", "-v",
                            "--pidfile", os.path.join(home, "pid"),
                            "--idfile", os.path.join(home, "ids")], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=TIMEOUT * 3)
        self.assertEqual(r.returncode, 0, r.stdout.decode("latin-1"))
        delivered = [read_file(f) for f in glob.glob(os.path.join(out, "msg.*"))]
        self.assertEqual(len(delivered), len(DEMO))
        # fetchmail adds its own trace field and hands LF line ends to the
        # delivery program: without that field, each stored message arrives whole.
        trace = re.compile(rb"Received: from 127\.0\.0\.1 \[127\.0\.0\.1\]\n(?:[ \t].*\n)*")
        delivered = {trace.sub(b"", d, count=1) for d in delivered}
        for name, stored in DEMO.items():
            self.assertIn(stored.replace(b"\r\n", b"\n"), delivered, name)

    def test_keep(self):
        self.fetch(keep=True)
        self.assertEqual(self.sim.folder_count("Inbox"), len(DEMO))

    def test_no_keep(self):
        self.fetch(keep=False)
        self.assertEqual(self.sim.folder_count("Inbox"), 0)
        self.assertEqual(self.sim.folder_count("Trash"), 0)


class TlsRefusedTest(BridgeTest):
    """A site whose certificate or protocol fails the checks: the sign-in ends
    with -ERR, the log names the reason, and no request reaches the site."""

    FAULTS = [("other-ca", "certificate: unknown issuer"), ("expired", "certificate: expired"),
              ("wrong-name", "certificate: name mismatch"), ("tls1.0", "protocol too old")]

    def setUp(self):
        if not TLS:
            self.skipTest("HTTPS rows only")
        super().setUp()

    def test_each_fault(self):
        for fault, reason in self.FAULTS:
            with self.subTest(fault=fault):
                self.stop_host()
                self.sim.stop()
                self.sim = Simulator(self.work, fault=fault)
                self.addCleanup(self.sim.stop)
                self.plugin = self.install()
                self.start_host()
                p = poplib.POP3("127.0.0.1", self.pop3, timeout=TIMEOUT)
                p.user(USER)
                with self.assertRaises(poplib.error_proto) as e:
                    p.pass_(PASSWORD)
                self.assertEqual(e.exception.args[0], b"-ERR Bad Login.")
                p.quit()
                log = read_file(self.host_log.name).decode("latin-1")
                self.assertIn("TLS: " + reason, log)
                requests = re.findall(r'"(\S+) ', read_file(self.sim.log_path, "r"))
                self.assertNotIn("GET", requests)
                self.assertNotIn("POST", requests)


if __name__ == "__main__":
    hostrun.main()
