#!/usr/bin/env python3
"""The peers of the TLS client test, on loopback ephemeral ports.

  tls_test_servers.py pki DIR
      Makes a test CA (DIR/ca.pem, the only one the test trusts), a second CA
      nobody trusts, one server key, and server certificates: good.pem
      (DNS localhost, IP 127.0.0.1), otherca.pem (from the second CA),
      expired.pem, wrongname.pem (wrong.example only), cnonly.pem (the
      common name localhost and no subject alternative names), site.pem (the
      simulated web-mail site's names: vurel.example, *.vurel.example,
      *.mail.vurel.example, IP 127.0.0.1), and for the site's faults
      site-otherca.pem and site-expired.pem (its names, the fault alone).
  tls_test_servers.py run DIR PROGRAM [ARGS...]
      Starts `openssl s_server -rev` (echoes each line reversed; the line
      "CLOSE" ends the connection with close_notify) with each certificate;
      with the good certificate: one that speaks only TLS 1.0, two that ask
      for a client certificate and go on without one (TLS 1.3, TLS 1.2), two
      for session resumption (only TLS 1.3, only TLS 1.2); and two that
      echo one line, then drop the connection without close_notify or answer
      the client's close_notify with theirs, and a plain HTTP server;
      runs PROGRAM (through QUILL_EMULATOR when set) with
      QUILL_TLS_TEST_SERVERS=name=port,... and SSL_CERT_FILE/SSL_CERT_DIR
      naming the test CA only, and QUILL_TLS_TEST_WINE=1 when PROGRAM runs
      under wine (whose SChannel has neither TLS 1.3 nor resumption), 0
      otherwise; stops the servers; exits with PROGRAM's status.
"""
import datetime
import os
import shlex
import socket
import ssl
import subprocess
import sys
import threading

OPENSSL = os.environ.get("QUILL_OPENSSL", "openssl")
START_SECONDS = 20
PROGRAM_SECONDS = 240

CA_CONFIG = """\
[ca]
default_ca = test_ca
[test_ca]
database = {dir}/index.txt
new_certs_dir = {dir}/issued
rand_serial = yes
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[good]
subjectAltName = DNS:localhost, IP:127.0.0.1
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[site]
subjectAltName = DNS:vurel.example, DNS:*.vurel.example, DNS:*.mail.vurel.example, IP:127.0.0.1
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[wrong_name]
subjectAltName = DNS:wrong.example
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[cn_only]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
"""


def openssl(*args):
    subprocess.run([OPENSSL, *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE, timeout=60)


def stamp(when):
    return when.strftime("%Y%m%d%H%M%SZ")


def make_pki(d):
    os.makedirs(d, exist_ok=True)
    p = lambda name: os.path.join(d, name)
    for ca, subject in (("ca", "Quillmere Test CA"), ("otherca-root", "Quillmere Other Test CA")):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p(ca + ".key"),
                "-out", p(ca + ".pem"), "-subj", "/CN=" + subject, "-days", "3650",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", p("server.key"),
            "-out", p("server.csr"), "-subj", "/CN=localhost")
    os.makedirs(p("issued"), exist_ok=True)
    with open(p("ca.cnf"), "w") as f:
        f.write(CA_CONFIG.format(dir=d))
    now = datetime.datetime.now(datetime.timezone.utc)
    recent = (stamp(now - datetime.timedelta(days=1)), stamp(now + datetime.timedelta(days=365)))
    long_ago = ("20200101000000Z", "20200201000000Z")
    for name, ca, section, subject, (start, end) in (
            ("good", "ca", "good", "localhost", recent),
            ("otherca", "otherca-root", "good", "localhost", recent),
            ("expired", "ca", "good", "localhost", long_ago),
            ("wrongname", "ca", "wrong_name", "wrong.example", recent),
            ("cnonly", "ca", "cn_only", "localhost", recent),
            ("site", "ca", "site", "vurel.example", recent),
            ("site-otherca", "otherca-root", "site", "vurel.example", recent),
            ("site-expired", "ca", "site", "vurel.example", long_ago)):
        open(p("index.txt"), "w").close()
        openssl("ca", "-batch", "-notext", "-config", p("ca.cnf"), "-cert", p(ca + ".pem"),
                "-keyfile", p(ca + ".key"), "-in", p("server.csr"), "-out", p(name + ".pem"),
                "-subj", "/CN=" + subject, "-extensions", section,
                "-startdate", start, "-enddate", end)


class SServer:
    """One `openssl s_server -rev`; its port is read from its ACCEPT line."""

    def __init__(self, d, cert, extra, log):
        self.proc = subprocess.Popen(
            [OPENSSL, "s_server", "-accept", "127.0.0.1:0", "-cert", os.path.join(d, cert),
             "-key", os.path.join(d, "server.key"), "-rev", *extra],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        guard = threading.Timer(START_SECONDS, self.proc.kill)
        guard.start()
        self.port = None
        for line in self.proc.stdout:
            log.write(line)
            if line.startswith(b"ACCEPT "):
                self.port = int(line.rsplit(b":", 1)[1])
                break
        guard.cancel()
        if self.port is None:
            raise RuntimeError("s_server with %s did not start" % cert)
        threading.Thread(target=self.drain, args=(log,), daemon=True).start()

    def drain(self, log):
        for line in self.proc.stdout:
            log.write(line)

    def stop(self):
        self.proc.kill()
        self.proc.wait()


class EchoServer:
    """Echoes the first line it gets. "dropping": then ends the TCP
    connection without close_notify, a peer whose stream is cut. "closing":
    waits for the client's close_notify and answers it with its own, or drops
    the connection when anything else comes. "plain": no TLS at all, answers
    the ClientHello as a plain HTTP server would."""

    def __init__(self, d, mode):
        self.mode = mode
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(os.path.join(d, "good.pem"), os.path.join(d, "server.key"))
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                raw, _ = self.listener.accept()
            except OSError:
                return
            try:
                raw.settimeout(10)
                if self.mode == "plain":
                    raw.recv(65536)
                    raw.sendall(b"HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
                    raw.close()
                    continue
                conn = self.context.wrap_socket(raw, server_side=True,
                                                suppress_ragged_eofs=False)
                line = b""
                while not line.endswith(b"\n"):
                    chunk = conn.recv(65536)
                    if not chunk:
                        break
                    line += chunk
                conn.sendall(line)
                if self.mode == "closing":
                    try:
                        if conn.recv(1) == b"":
                            conn.unwrap()
                    except (OSError, ssl.SSLError):
                        pass
                # The socket under the TLS layer goes away: no close_notify
                # unless unwrap() sent one.
                socket.socket(fileno=conn.detach()).close()
            except (OSError, ssl.SSLError):
                raw.close()

    def stop(self):
        self.listener.close()


def run(d, program):
    servers = {}
    log = open(os.path.join(d, "servers.log"), "ab", buffering=0)
    try:
        for name, cert, extra in (
                ("good", "good.pem", []),
                ("otherca", "otherca.pem", []),
                ("expired", "expired.pem", []),
                ("wrongname", "wrongname.pem", []),
                ("cnonly", "cnonly.pem", []),
                ("site", "site.pem", []),
                ("tls10", "good.pem", ["-tls1", "-cipher", "DEFAULT@SECLEVEL=0"]),
                ("clientcert", "good.pem", ["-verify", "1"]),
                ("clientcert12", "good.pem", ["-verify", "1", "-tls1_2"]),
                ("resume13", "good.pem", ["-tls1_3"]),
                ("resume12", "good.pem", ["-tls1_2"])):
            servers[name] = SServer(d, cert, extra, log)
        for mode in ("dropping", "closing", "plain"):
            servers[mode] = EchoServer(d, mode)
        env = dict(os.environ)
        env["QUILL_TLS_TEST_SERVERS"] = ",".join("%s=%d" % (n, s.port) for n, s in servers.items())
        env["SSL_CERT_FILE"] = os.path.join(d, "ca.pem")
        env["SSL_CERT_DIR"] = d
        emulator = shlex.split(os.environ.get("QUILL_EMULATOR", ""))
        env["QUILL_TLS_TEST_WINE"] = "1" if any("wine" in w for w in emulator) else "0"
        command = emulator + program
        return subprocess.run(command, env=env, timeout=PROGRAM_SECONDS).returncode
    finally:
        for s in servers.values():
            s.stop()
        log.close()


def main(argv):
    if len(argv) == 3 and argv[1] == "pki":
        make_pki(os.path.abspath(argv[2]))
        return 0
    if len(argv) >= 4 and argv[1] == "run":
        return run(os.path.abspath(argv[2]), argv[3:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
