"""Sending through the bridge with real SMTP clients: swaks, msmtp, curl and
Python's smtplib talk to the plug-in's SMTP server inside the stand-in host,
which posts each message through the simulator's compose form. Each check
compares what the site sent with what the analysis rules give for the message.
"""

import base64
import shutil
import smtplib
import socket
import subprocess
import unittest

import bridge

CLIENT_TIMEOUT = 120


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def until_closed(reader):
    """Everything the server still sends before its side closes; the bridge
    closes abortively, which some systems report as a reset."""
    data = b""
    try:
        while True:
            chunk = reader.read1(65536)
            if not chunk:
                return data
            data += chunk
    except ConnectionResetError:
        return data


def latin1(data):
    """A byte string as the simulator's JSON gives it back."""
    return data.decode("latin-1") if isinstance(data, bytes) else data


class Connection:
    """A socket with its line reader; leaving the block closes both (a reader
    left open keeps the connection, and so the one-at-a-time server, busy)."""

    def __init__(self, sock):
        self.sock = sock
        self.reader = sock.makefile("rb")

    def sendall(self, data):
        self.sock.sendall(data)

    def shutdown(self, how):
        self.sock.shutdown(how)

    def __enter__(self):
        return self

    def __exit__(self, *args):
        self.reader.close()
        self.sock.close()


class SendingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bridge = bridge.Bridge(save_sent=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.bridge.cleanup()

    def setUp(self):
        self.before = len(self.bridge.sent())

    def new_messages(self):
        return self.bridge.sent()[self.before:]

    def run_client(self, args, stdin=None):
        program = shutil.which(args[0])
        if program is None:
            self.skipTest("%s is not installed" % args[0])
        result = subprocess.run(args, input=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=CLIENT_TIMEOUT)
        self.assertEqual(0, result.returncode,
                         result.stdout.decode("latin-1") + self.bridge.logs())
        return result.stdout

    def assertSent(self, expected):
        got = self.new_messages()
        self.assertEqual(1, len(got), self.bridge.logs())
        for key, value in expected.items():
            self.assertEqual(latin1(value), got[0][key], key)

    # --- real clients -----------------------------------------------------

    def test_swaks_auth_login(self):
        message = crlf("To: Bob <bob@x.example>\n"
                       "Cc: carol@x.example\n"
                       "Subject: swaks & co\n"
                       "\n"
                       "Hello Bob,\n"
                       ".a line that starts with a dot\n"
                       "..and one with two\n"
                       "bye")  # swaks ends the data with its own line end
        self.run_client([
            "swaks", "--server", "127.0.0.1", "--port", str(self.bridge.smtp_port),
            "--auth", "LOGIN", "--auth-user", bridge.USER, "--auth-password", bridge.PASSWORD,
            "--from", "me@x.example", "--to", "bob@x.example,dave@y.example",
            "--data", "-", "--timeout", str(CLIENT_TIMEOUT)], stdin=message.encode())
        self.assertSent({
            "to": "Bob <bob@x.example>", "cc": "carol@x.example",
            "bcc": "dave@y.example", "subject": "swaks & co",
            "body": "Hello Bob,\r\n.a line that starts with a dot\r\n..and one with two\r\nbye",
            "format": "", "saveCopy": True, "user": bridge.USER})

    def test_msmtp(self):
        message = crlf("From: me@x.example\n"
                       "To: erin@x.example\n"
                       "Subject: =?ISO-8859-1?B?Q2Fm6Q==?=\n"
                       "Content-Type: text/plain; charset=ISO-8859-1\n"
                       "Content-Transfer-Encoding: quoted-printable\n"
                       "\n"
                       "Caf=E9 au lait =3D 2=80\n")
        self.run_client([
            "msmtp", "--host=127.0.0.1", "--port=%d" % self.bridge.smtp_port,
            "--auth=login", "--user=" + bridge.USER,
            "--passwordeval=echo " + bridge.PASSWORD, "--tls=off",
            "--from=me@x.example", "--", "erin@x.example", "frank@x.example"],
            stdin=message.encode())
        self.assertSent({
            "to": "erin@x.example", "cc": "", "bcc": "frank@x.example",
            "subject": b"Caf\xe9", "body": b"Caf\xe9 au lait = 2\x80", "format": ""})

    def test_curl_smtp(self):
        message = crlf("To: gina@x.example\n"
                       "Bcc: secret@x.example\n"
                       "Subject: from curl\n"
                       "MIME-Version: 1.0\n"
                       "Content-Type: multipart/alternative; boundary=\"b1\"\n"
                       "\n"
                       "--b1\n"
                       "Content-Type: text/plain\n"
                       "\n"
                       "plain version\n"
                       "--b1\n"
                       "Content-Type: text/html\n"
                       "\n"
                       "<p>html &amp; version</p>\n"
                       "--b1--\n")
        self.run_client([
            "curl", "-sS", "--max-time", str(CLIENT_TIMEOUT),
            "smtp://127.0.0.1:%d" % self.bridge.smtp_port,
            "--user", "%s:%s" % (bridge.USER, bridge.PASSWORD),
            "--mail-from", "me@x.example", "--mail-rcpt", "gina@x.example",
            "--mail-rcpt", "secret@x.example", "--mail-rcpt", "hank@x.example",
            "--upload-file", "-"], stdin=message.encode())
        self.assertSent({
            "to": "gina@x.example", "cc": "", "bcc": "secret@x.example,hank@x.example",
            "subject": "from curl", "body": "<p>html &amp; version</p>", "format": "html"})

    def test_python_smtplib_lower_case_and_initial_response(self):
        # smtplib says "ehlo", "mail FROM:", "rcpt TO:", "data" and sends the
        # user name with "AUTH LOGIN".
        with smtplib.SMTP("127.0.0.1", self.bridge.smtp_port, timeout=CLIENT_TIMEOUT) as s:
            s.ehlo()
            self.assertTrue(s.has_extn("auth"))
            s.login(bridge.USER, bridge.PASSWORD)
            body = crlf("To: ivy@x.example, sal@x.example\nSubject: one\n\nfirst\n").encode()
            refused = s.sendmail("me@x.example", ["ivy@x.example", "al@x.example"], body)
            self.assertEqual({}, refused)
            # A second message in the same connection: the first one's
            # envelope recipients must not follow it.
            body = crlf("To: jo@x.example\nSubject: two\n\nsecond\n\xe9t\xe9\n").encode("latin-1")
            s.sendmail("me@x.example", ["jo@x.example"], body)
        got = self.new_messages()
        self.assertEqual(2, len(got))
        self.assertEqual("ivy@x.example, sal@x.example", got[0]["to"])
        self.assertEqual("al@x.example", got[0]["bcc"])  # not hidden by sal@x.example
        self.assertEqual("first", got[0]["body"])
        self.assertEqual("jo@x.example", got[1]["to"])
        self.assertEqual("", got[1]["bcc"])
        self.assertEqual(latin1(b"second\r\n\xe9t\xe9"), got[1]["body"])

    # --- the conversation's own rules, over a raw connection ---------------

    def connect(self):
        """A raw connection and its reader."""
        s = Connection(socket.create_connection(("127.0.0.1", self.bridge.smtp_port),
                                                timeout=CLIENT_TIMEOUT))
        self.assertTrue(s.reader.readline().startswith(b"220 "))
        return s, s.reader

    def command(self, s, f, line):
        s.sendall(line + b"\r\n")
        return f.readline()

    def login(self, s, f):
        user = base64.b64encode(bridge.USER.encode())
        password = base64.b64encode(bridge.PASSWORD.encode())
        self.assertEqual(b"334 UGFzc3dvcmQ6\r\n", self.command(s, f, b"AUTH LOGIN " + user))
        self.assertEqual(b"235 Login successful\r\n", self.command(s, f, password))

    def test_empty_message_and_close_during_data(self):
        s, f = self.connect()
        with s:
            self.login(s, f)
            self.assertEqual(b"250 OK\r\n", self.command(s, f, b"MAIL FROM:<me@x.example>"))
            self.assertEqual(b"250 OK\r\n", self.command(s, f, b"RCPT TO: <kim@x.example>"))
            self.assertEqual(b"354 OK\r\n", self.command(s, f, b"DATA"))
            # The lone dot right away: an empty message, not a hang.
            self.assertEqual(b"250 OK\r\n", self.command(s, f, b"."))
            self.assertEqual(b"354 OK\r\n", self.command(s, f, b"DATA"))
            s.sendall(b"To: lee@x.example\r\nSubject: unfinished\r\n\r\nnot done\r\n")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(b"", until_closed(f))  # closed without a reply
        got = self.new_messages()
        self.assertEqual(1, len(got), "the unfinished message must not be sent")
        self.assertEqual(("", "kim@x.example", ""), (got[0]["to"], got[0]["bcc"], got[0]["body"]))
        # The next conversation is served normally.
        s, f = self.connect()
        with s:
            self.assertEqual(b"221", self.command(s, f, b"QUIT")[:3])

    def test_overlong_command_line_ends_the_connection(self):
        s, f = self.connect()
        with s:
            try:
                s.sendall(b"X" * (70 * 1024))
            except OSError:
                pass
            self.assertEqual(b"500 Line too long\r\n", until_closed(f))

    def test_stale_saved_session_is_renewed_once(self):
        s, f = self.connect()
        with s:
            self.login(s, f)
        logins = self.bridge.logins()
        posts = self.bridge.posts()
        self.bridge.expire()
        message = crlf("To: max@x.example\nSubject: renewed\n\nbody\n").encode()
        # A saved session opens only with the password that signed in: a
        # wrong one signs in afresh, and the site refuses it.
        with smtplib.SMTP("127.0.0.1", self.bridge.smtp_port, timeout=CLIENT_TIMEOUT) as c:
            with self.assertRaises(smtplib.SMTPAuthenticationError) as e:
                c.login(bridge.USER, "wrong password")
            self.assertEqual(535, e.exception.smtp_code)
        self.assertEqual(posts, self.bridge.posts())
        # The right one adopts the record; the compose page refuses its stale
        # cookies before anything is posted, and one fresh sign-in sends it, once.
        with smtplib.SMTP("127.0.0.1", self.bridge.smtp_port, timeout=CLIENT_TIMEOUT) as c:
            c.login(bridge.USER, bridge.PASSWORD)
            c.sendmail("me@x.example", ["max@x.example"], message)
        self.assertEqual(logins + 2, self.bridge.logins())
        self.assertEqual(posts + 1, self.bridge.posts())
        got = self.new_messages()
        self.assertEqual(["renewed"], [m["subject"] for m in got])

    def test_wrong_password_without_saved_session(self):
        with smtplib.SMTP("127.0.0.1", self.bridge.smtp_port, timeout=CLIENT_TIMEOUT) as c:
            with self.assertRaises(smtplib.SMTPAuthenticationError) as e:
                c.login("nobody", "wrong")
            self.assertEqual(535, e.exception.smtp_code)
            self.assertEqual(b"authentication failed", e.exception.smtp_error)




class DiagnosticLogTest(unittest.TestCase):
    """The host's --log during a send and a retrieval through a proxy with
    credentials: the events are there, the secrets are not."""

    def test_the_log_names_each_step_and_keeps_every_secret_out(self):
        proxy_password = "proxy-Secret-77"
        b = bridge.Bridge(log=True, proxy_user="proxyuser", proxy_password=proxy_password)
        b.start()
        try:
            body = "Body-Content-Marker-4711"
            with smtplib.SMTP("127.0.0.1", b.smtp_port, timeout=CLIENT_TIMEOUT) as s:
                s.login(bridge.USER, bridge.PASSWORD)
                s.sendmail("%s@vurel.example" % bridge.USER, ["friend@example.org"],
                           "Subject: Log-Subject-Marker\r\n\r\n%s\r\n" % body)
            with smtplib.SMTP("127.0.0.1", b.smtp_port, timeout=CLIENT_TIMEOUT) as s:
                with self.assertRaises(smtplib.SMTPAuthenticationError):
                    s.login(bridge.USER, "wrong-" + bridge.PASSWORD)
            import poplib
            p = poplib.POP3("127.0.0.1", b.pop3_port, timeout=CLIENT_TIMEOUT)
            p.user(bridge.USER)
            p.pass_(bridge.PASSWORD)
            p.stat()
            p.quit()
            b.stop()
            with open(b.dir + "/host.log", "rb") as f:
                log = f.read().decode("latin-1")
            for event in (r"SMTP #\d+ conversation starts", r"SMTP #\d+ command AUTH",
                          r"SMTP #\d+ reply 235", r"SMTP #\d+ HTTP POST \S+ answered 200",
                          r"SMTP #\d+ conversation ends", r"POP3 #\d+ command PASS",
                          r"POP3 #\d+ reply \+OK", r"POP3 #\d+ command STAT",
                          r"SMTP #\d+ sign-in: the login form was answered 200 where a redirect",
                          r"SMTP #\d+ sign-in failed: https?://\S+",
                          r"SMTP #1 conversation ends: receive"):
                self.assertRegex(log, event, b.logs())
            credentials = ("proxyuser:" + proxy_password).encode()
            auth = ("\0%s\0%s" % (bridge.USER, bridge.PASSWORD)).encode()
            for secret in (bridge.PASSWORD, proxy_password,
                           base64.b64encode(credentials).decode(),
                           base64.b64encode(bridge.PASSWORD.encode()).decode(),
                           base64.b64encode(auth).decode(),
                           "Cookie:", "Set-Cookie", "Authorization", "authorization", body,
                           "Log-Subject-Marker"):
                self.assertNotIn(secret, log, "found %r in the log" % secret)
        finally:
            b.cleanup()


class TlsRefusedTest(unittest.TestCase):
    """A site whose certificate or protocol fails the checks: AUTH ends with
    535, the log names the reason, and no request reaches the site."""

    def test_each_fault(self):
        if not bridge.TLS:
            self.skipTest("HTTPS rows only")
        for fault, reason in (("other-ca", "certificate: unknown issuer"),
                              ("expired", "certificate: expired"),
                              ("wrong-name", "certificate: name mismatch"),
                              ("tls1.0", "protocol too old")):
            with self.subTest(fault=fault):
                b = bridge.Bridge(log=True, fault=fault).start()
                try:
                    with smtplib.SMTP("127.0.0.1", b.smtp_port, timeout=CLIENT_TIMEOUT) as s:
                        with self.assertRaises(smtplib.SMTPAuthenticationError) as e:
                            s.login(bridge.USER, bridge.PASSWORD)
                        self.assertEqual(e.exception.smtp_code, 535)
                    self.assertEqual(b.logins(), 0)
                    self.assertEqual(b.ask("requests"), "0")
                    b.stop()
                    with open(b.dir + "/host.log", "rb") as f:
                        self.assertIn("TLS: " + reason, f.read().decode("latin-1"))
                finally:
                    b.cleanup()


if __name__ == "__main__":
    unittest.main()
