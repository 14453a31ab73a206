#!/usr/bin/env python3
"""The progress windows end to end, under wine: the stand-in host with the
real plug-in serves a POP3 conversation against the site simulator (reached
as the plug-in's HTTP proxy), while quill-dialog-driver watches the real
progress windows and reports every change it sees.

Usage: progress_e2e_test.py BIN_DIR PLUGIN WORK_DIR MAILBOX_DIR
"""
import os
import poplib
import shutil
import smtplib
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "host"))
import hostrun  # noqa: E402

BIN, PLUGIN, WORK, MAILBOX = sys.argv[1:5]
HOST = os.path.join(BIN, "quillmere-host.exe")
SIM = os.path.join(BIN, "vurel-sim.exe")
DRIVER = os.path.join(BIN, "quill-dialog-driver.exe")
USER, PASSWORD = "demo", "demo-secret"
EMPTY_USER = "nobody"

STATUS_TEXTS = {
    "Logging to Vurel server ...", "Fetching messages from Inbox ...",
    "Retrieving mail header ...", "Retrieving mail body ...", "Deleting mail ...",
    "Emptying Trash ...", "Sending mail ...",
}


def z(path):
    return hostrun.native_to_host_path(path, True)


class Running:
    """The simulator, the window watcher and the host, for one test."""

    def __init__(self, folder, popup, mailbox, sim_args=()):
        shutil.rmtree(folder, ignore_errors=True)  # nothing from an earlier run
        os.makedirs(folder)
        env = hostrun.host_env()
        port_file = os.path.join(folder, "sim.port")
        self.sim_log = open(os.path.join(folder, "sim.log"), "wb")
        self.sim = subprocess.Popen(
            hostrun.emulator() + [SIM, "--listen", "127.0.0.1:0", "--user", "%s:%s" % (USER, PASSWORD),
             "--mailbox", z(mailbox), "--user", "%s:%s" % (EMPTY_USER, PASSWORD),
             "--seed", "7", "--port-file", z(port_file), "--log"] + list(sim_args),
            stdout=self.sim_log, stderr=subprocess.STDOUT, env=env)
        deadline = time.time() + 60
        while not read_text(port_file).strip():
            if time.time() > deadline or self.sim.poll() is not None:
                raise RuntimeError("the simulator did not start")
            time.sleep(0.05)
        sim_port = int(read_text(port_file).strip())

        self.pop3, self.smtp = hostrun.free_port(), hostrun.free_port()
        ini = hostrun.ini_text(self.pop3, self.smtp, proxy=("127.0.0.1", sim_port),
                               save_cookie=False)
        if not popup:
            ini = ini.replace("Popup=1", "Popup=0")
        plugin = hostrun.install_plugin(PLUGIN, folder, ini)
        self.stop_file = os.path.join(folder, "watch.stop")
        if os.path.exists(self.stop_file):
            os.remove(self.stop_file)
        self.host = hostrun.Host(HOST, plugin)
        if not hostrun.wait_for_port(self.pop3, 60, self.host.proc):
            raise RuntimeError("the host did not listen: %s" % str(self.host.stop()))
        self.watch = subprocess.Popen(hostrun.emulator() + [DRIVER, "watch", z(self.stop_file)],
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
        self.lines = []
        self.reader = threading.Thread(target=self.read_watch)
        self.reader.start()
        # The conversation starts once the watcher has seen both windows.
        deadline = time.time() + 60
        while len(self.lines) < 2:
            if time.time() > deadline or self.watch.poll() is not None:
                raise RuntimeError("the watcher saw no windows: %s" % self.lines)
            time.sleep(0.05)

    def read_watch(self):
        for raw in self.watch.stdout:
            self.lines.append(raw.decode("latin-1").rstrip("\r\n"))

    def finish(self):
        """Stops everything; returns the watcher's lines as (window, visible, caption, detail)."""
        # The listener hides the window just after the conversation's last
        # reply: give the watcher time to see every window down (bounded).
        deadline = time.time() + 20
        while time.time() < deadline:
            last = {}
            for line in list(self.lines):
                last[line.split(" ", 1)[0]] = line
            if all(" 0\t" in line for line in last.values()):
                break
            time.sleep(0.05)
        time.sleep(0.2)
        open(self.stop_file, "w").close()
        try:
            self.watch.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.watch.kill()
        self.reader.join()
        self.watch.stdout.close()
        self.host_output = self.host.stop()[1]
        self.sim.kill()
        self.sim.wait()
        self.sim_log.close()
        states = []
        for line in self.lines:
            head, _, rest = line.partition("\t")
            caption, _, detail = rest.partition("\t")
            window, _, visible = head.partition(" ")
            states.append((window, visible == "1", caption, detail))
        return states


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def pop3_session(port, commands, user=USER):
    box = poplib.POP3("127.0.0.1", port, timeout=120)
    box.user(user)
    box.pass_(PASSWORD)
    for c in commands:
        c(box)
    box.quit()


def by_window(states):
    windows = {}
    for w, visible, caption, detail in states:
        windows.setdefault(w, []).append((visible, caption, detail))
    return windows


class ProgressWindowTest(unittest.TestCase):
    def conversation(self, popup, mailbox, commands, user=USER):
        run = Running(os.path.join(WORK, self.id()), popup, mailbox)
        try:
            pop3_session(run.pop3, commands, user)
        except Exception:
            run.finish()
            raise AssertionError("the conversation failed; host said:\n%s\nwatcher saw:\n%s"
                                 % (run.host_output, "\n".join(run.lines)))
        states = run.finish()
        windows = by_window(states)
        # Both windows of the host; windows of other programs may show up too.
        self.assertGreaterEqual(len(windows), 2, "two progress windows: %s" % states)
        busy = [w for w, s in windows.items() if any(c for _, c, _ in s)]
        self.assertEqual(len(busy), 1, "only the POP3 window changes: %s" % states)
        return windows[busy[0]], states

    def test_with_popup_on_the_window_appears_follows_the_requests_and_hides_at_the_end(self):
        seen, states = self.conversation(True, MAILBOX, [lambda b: b.stat(),
                                                         lambda b: b.retr(1)])
        self.assertTrue(any(v for v, _, _ in seen), "the window never appeared: %s" % states)
        self.assertFalse(seen[-1][0], "the window is still up at the end: %s" % states)
        captions = {c for _, c, _ in seen if c}
        self.assertTrue(captions <= STATUS_TEXTS, captions)
        self.assertIn("Retrieving mail body ...", captions)
        details = {d for _, _, d in seen if d}
        self.assertTrue(details and all(d.startswith("http://") for d in details), details)
        self.assertTrue(any("print" in d or "id=" in d.lower() for d in details) or len(details) > 1,
                        details)

    def test_with_popup_off_the_window_never_appears_but_its_texts_change(self):
        seen, states = self.conversation(False, MAILBOX, [lambda b: b.stat(),
                                                          lambda b: b.retr(1)])
        self.assertFalse(any(v for _, v, _, _ in states), "a window appeared: %s" % states)
        self.assertIn("Retrieving mail body ...", {c for _, c, _ in seen})

    def assert_down_after(self, seen, caption, states):
        """From the step showing `caption` on, the window goes down (the watcher
        may see the next caption already) and never comes up again."""
        start = next((i for i, (_, c, _) in enumerate(seen) if c == caption), None)
        self.assertIsNotNone(start, "%r never shown: %s" % (caption, states))
        hidden_at = next((i for i in range(start, len(seen)) if not seen[i][0]), None)
        self.assertIsNotNone(hidden_at, "never hidden after %r: %s" % (caption, states))
        self.assertFalse(any(v for v, _, _ in seen[hidden_at:]), states)

    def test_stat_of_an_empty_mailbox_keeps_the_window_down(self):
        seen, states = self.conversation(True, MAILBOX, [lambda b: b.stat(), lambda b: b.list()],
                                         user=EMPTY_USER)
        self.assert_down_after(seen, "Fetching messages from Inbox ...", states)

    def test_top_of_message_one_keeps_the_window_down(self):
        seen, states = self.conversation(True, MAILBOX, [lambda b: b.top(1, 0),
                                                         lambda b: b.retr(2)])
        self.assert_down_after(seen, "Retrieving mail header ...", states)
        self.assertIn("Retrieving mail body ...", {c for _, c, _ in seen})

    def test_cancel_during_a_slow_listing_ends_the_conversation_and_the_next_is_served(self):
        # The first listing page is answered only after a minute (or when the
        # simulator stops): long enough to press Cancel while it waits.
        run = Running(os.path.join(WORK, self.id()), True, MAILBOX,
                      ["--delay", "/vm/ShowFolder:60000:1"])
        outcome = {}

        def first():
            try:
                box = poplib.POP3("127.0.0.1", run.pop3, timeout=120)
                box.user(USER)
                box.pass_(PASSWORD)
                outcome["stat"] = box.stat()
            except (poplib.error_proto, OSError) as e:
                outcome["error"] = e

        client = threading.Thread(target=first)
        client.start()
        try:
            pressed = subprocess.run(
                hostrun.emulator() + [DRIVER, "find", "Fetching messages from Inbox ...", "click", "2"],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=hostrun.host_env(),
                timeout=120)
            client.join(60)
            self.assertEqual(pressed.returncode, 0, pressed.stdout)
            self.assertFalse(client.is_alive(), "Cancel did not end the conversation")
            self.assertIn("error", outcome, "the cancelled conversation got a reply: %s" % outcome)
            second = []
            pop3_session(run.pop3, [lambda b: second.append(b.stat())])
            self.assertEqual(second[0][0], 6)
        finally:
            states = run.finish()
            client.join(60)
        busy = [w for w, s in by_window(states).items() if any(c for _, c, _ in s)]
        self.assertEqual(len(busy), 1, "the next conversation used the same window: %s" % states)
        seen = by_window(states)[busy[0]]
        self.assertFalse(seen[-1][0], states)

    def test_the_detail_line_shows_the_login_and_compose_form_targets(self):
        # Both form posts are held back a little, so the watcher (which polls)
        # sees each of their URLs for certain.
        run = Running(os.path.join(WORK, self.id()), True, MAILBOX,
                      ["--delay", "/config/login:400:1", "--delay", "/vm/Compose:400:2"])
        try:
            with smtplib.SMTP("127.0.0.1", run.smtp, timeout=120) as smtp:
                smtp.ehlo("test")
                smtp.login(USER, PASSWORD)
                smtp.sendmail(USER + "@vurel.example", ["friend@example.com"],
                              b"From: demo@vurel.example\r\nTo: friend@example.com\r\n"
                              b"Subject: hello\r\n\r\nHi there.\r\n")
        finally:
            states = run.finish()
        busy = [s for s in by_window(states).values() if any(c for _, c, _ in s)]
        self.assertEqual(len(busy), 1, states)
        seen = busy[0]
        details = [d for _, _, d in seen]
        self.assertIn("http://login.vurel.example/config/login", details, states)
        self.assertTrue(any(d.startswith("http://us.mail.vurel.example/vm/Compose") and
                            v and c == "Sending mail ..." for v, c, d in seen), states)
        self.assertFalse(seen[-1][0], states)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
