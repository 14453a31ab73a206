"""The running bridge for end-to-end checks and benchmarks: the site simulator,
and the stand-in host with the plug-in configured to reach the simulator as
its HTTP proxy (so no port 80 is needed). Everything listens on 127.0.0.1 on
ephemeral ports; stop() ends what start() began.

Paths come from the environment (set by CMake):
  QUILL_HOST     quillmere-host or quillmere-host.exe
  QUILL_PLUGIN   Quillmere.so or Quillmere.dll
  QUILL_SIM      smtp-e2e-site (the simulator driven over standard input)
  QUILL_EMULATOR the command that runs the binaries when they are Windows ones
                 (tools/wine-run.sh and the architecture; else empty)
  QUILL_E2E_MODE proxy (the default: the simulator as HTTP proxy), or the site
                 on HTTPS trusting the simulator's test CA only (SSL_CERT_FILE):
                 tls-proxy (through the simulator's CONNECT), tls-chain (through
                 tinyproxy with the simulator as its upstream), tls-direct (port
                 443 of a loopback address of its own; root only)
  QUILL_TLS_TEST_PKI the test certificates whose CA a test fixture has made a
                 root of wine's store, where the plug-in runs under wine: the
                 simulator (then a native one) serves them, a fault's own for
                 a certificate fault, instead of making its own
"""

import json
import os
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "host"))
from hostrun import Tinyproxy, free_port  # noqa: E402

USER = "demo"
PASSWORD = "demo-secret"


def wait_for_port(port, timeout=60.0, proc=None):
    """Waits until something accepts on 127.0.0.1:port."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("process ended early with %s" % proc.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1.0) as s:
                return s
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


def smtp_greeting(port, timeout=30.0):
    """Connects, reads the greeting, quits; returns the greeting line."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        f = s.makefile("rb")
        line = f.readline()
        s.sendall(b"QUIT\r\n")
        f.readline()
        return line


MODE = os.environ.get("QUILL_E2E_MODE", "proxy")
TLS = MODE.startswith("tls-")
DIRECT = MODE == "tls-direct"
PKI = os.environ.get("QUILL_TLS_TEST_PKI")
PKI_FAULTS = {"other-ca": "site-otherca.pem", "expired": "site-expired.pem",
              "wrong-name": "wrongname.pem"}


_addresses = iter(range(1, 250))


class Bridge:
    def __init__(self, save_sent=True, sim_args=(), log=False, proxy_user="", proxy_password="",
                 fault=None):
        self.host_exe = os.environ["QUILL_HOST"]
        self.plugin = os.environ["QUILL_PLUGIN"]
        self.sim_exe = os.environ["QUILL_SIM"]
        self.emulator = shlex.split(os.environ.get("QUILL_EMULATOR", ""))
        self.save_sent = save_sent
        self.log = log
        self.proxy_user = proxy_user
        self.proxy_password = proxy_password
        self.sim_args = list(sim_args)
        self.fault = fault
        self.dir = None
        self.sim = None
        self.tinyproxy = None
        self.address = "127.0.0.1"
        self.host = None
        self.smtp_port = None
        self.sim_port = None
        self.pop3_port = None

    # The simulator -------------------------------------------------------
    def start_sim(self):
        args = [self.sim_exe, "%s:%s" % (USER, PASSWORD)] + self.sim_args
        if TLS:
            # The test CA only: the host trusts nothing else.
            ca_file = os.path.join(self.dir, "test-ca.pem")
            args += ["--tls", ca_file]
            if PKI:
                args += ["--cert", os.path.join(PKI, PKI_FAULTS.get(self.fault, "site.pem")),
                         os.path.join(PKI, "server.key")]
                ca_file = os.path.join(PKI, "ca.pem")
            if self.fault and not (PKI and self.fault in PKI_FAULTS):
                args += ["--tls-fault", self.fault]
            os.environ["SSL_CERT_FILE"] = ca_file
            os.environ.pop("SSL_CERT_DIR", None)
        if DIRECT:
            self.address = "127.67.%d.%d" % (os.getpid() % 250 + 1, next(_addresses))
            args += ["--direct", self.address]
        if self.sim_exe.lower().endswith(".exe"):
            args = self.emulator + args
        self.sim_log = open(os.path.join(self.dir, "sim.log"), "wb")
        self.sim = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=self.sim_log)
        line = self.sim.stdout.readline().decode()
        if not line.startswith("port "):
            raise RuntimeError("the simulator did not start: %r" % line)
        self.sim_port = int(line.split()[1])
        if MODE == "tls-chain":
            self.tinyproxy = Tinyproxy(self.dir, self.sim_port)

    def ask(self, command):
        """One command to the simulator, one line back."""
        self.sim.stdin.write(command.encode() + b"\n")
        self.sim.stdin.flush()
        return self.sim.stdout.readline().decode("ascii").strip()

    def sent(self):
        """The messages the site has sent so far, oldest first: dicts with
        user, to, cc, bcc, subject, body, format (one character per byte)
        and saveCopy."""
        return json.loads(self.ask("sent"))

    def count(self):
        return int(self.ask("count"))

    def posts(self):
        return int(self.ask("posts"))

    def logins(self):
        return int(self.ask("logins"))

    def expire(self):
        self.ask("expire")

    # The host with the plug-in --------------------------------------------
    def start_host(self):
        self.smtp_port = free_port()
        self.pop3_port = free_port()
        plugin_dir = os.path.join(self.dir, "plugin")
        os.makedirs(plugin_dir, exist_ok=True)
        plugin = os.path.join(plugin_dir, os.path.basename(self.plugin))
        shutil.copy(self.plugin, plugin)
        ini = os.path.splitext(plugin)[0] + ".ini"
        proxy_port = self.tinyproxy.port if self.tinyproxy is not None else self.sim_port
        site = ""
        if TLS:
            front, login = (("https://%s/" % self.address, "https://%s/config/login" % self.address)
                            if DIRECT else ("https://mail.vurel.example/",
                                            "https://login.vurel.example/config/login"))
            site = "[Site]\r\nFrontPage=%s\r\nLoginPage=%s\r\n" % (front, login)
        with open(ini, "wb") as f:
            f.write(("[Setup]\r\nPOP3Port=%d\r\nSMTPPort=%d\r\nEmptyTrash=1\r\nPopup=0\r\n"
                     "SaveCookie=0\r\nSaveSent=%d\r\nProxyType=%d\r\nProxy=127.0.0.1\r\n"
                     "Port=%d\r\nUsername=%s\r\nPassword=%s\r\n"
                     "[MailBox]\r\nBulk=0\r\nInbox=1\r\n%s"
                     % (self.pop3_port, self.smtp_port, 1 if self.save_sent else 0,
                        0 if DIRECT else 1, proxy_port, self.proxy_user, self.proxy_password,
                        site)).encode())
        args = [self.host_exe] + (["--log"] if self.log else []) + [plugin]
        args = self.emulator + args
        self.host_log = open(os.path.join(self.dir, "host.log"), "wb")
        self.host = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=self.host_log,
                                     stderr=subprocess.STDOUT)
        wait_for_port(self.smtp_port, timeout=120.0, proc=self.host)
        if not smtp_greeting(self.smtp_port).startswith(b"220 "):
            raise RuntimeError("no SMTP greeting")

    def start(self):
        self.dir = tempfile.mkdtemp(prefix="quill-smtp-")
        try:
            self.start_sim()
            self.start_host()
        except Exception:
            self.stop()
            raise
        return self

    def stop(self):
        if self.tinyproxy is not None:
            self.tinyproxy.stop()
            self.tinyproxy = None
        if self.sim is not None and self.sim.poll() is None:
            try:
                self.sim.stdin.close()  # end of input stops the simulator
            except OSError:
                pass
        for proc in (self.host, self.sim):
            if proc is None or proc.poll() is not None:
                continue
            if proc is self.host:
                proc.terminate()
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        self.host = self.sim = None

    def logs(self):
        text = ""
        for name in ("host.log", "sim.log"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text += "== %s\n%s\n" % (name, f.read()[-4000:].decode("latin-1"))
        return text

    def cleanup(self):
        self.stop()
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)
