#!/usr/bin/env python3
"""The options dialog end to end: the stand-in host's --setup with the real
plug-in, which opens the dialog, and the settings file it leaves behind.

In the Windows build the host runs under wine and the real Win32 dialog is
driven through window messages by quill-dialog-driver; natively the console
dialog reads the same actions from the host's standard input.

Usage: setup_e2e_test.py BIN_DIR PLUGIN WORK_DIR
"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "host"))
import hostrun  # noqa: E402

BIN, PLUGIN, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
WINDOWS = PLUGIN.lower().endswith(".dll")
HOST = os.path.join(BIN, "quillmere-host" + (".exe" if WINDOWS else ""))
DRIVER = os.path.join(BIN, "quill-dialog-driver.exe")

CAPTION = "Quillmere 1.64"
PROXY_FIELDS = (1002, 1004, 1009, 1010)

# One user action: ("set", id, text), ("click", id) or a check
# ("text", id, text), ("checked", id, bool), ("enabled", id, bool).
# Checks are only made by the Win32 driver; the console shows the same state
# in its listing, which the console unit tests cover.


def driver_args(actions):
    args = ["find", CAPTION]
    for a in actions:
        if a[0] == "set":
            args += ["set", str(a[1]), a[2]]
        elif a[0] == "click":
            args += ["click", str(a[1])]
        elif a[0] == "text":
            args += ["expect-text", str(a[1]), a[2]]
        elif a[0] in ("checked", "enabled"):
            args += ["expect-" + a[0], str(a[1]), "1" if a[2] else "0"]
    return args + ["wait-gone"]


def console_input(actions):
    lines = []
    for a in actions:
        if a[0] == "set":
            lines.append("%d=%s" % (a[1], a[2]))
        elif a[0] == "click":
            lines.append("%d" % a[1])
    return "".join(line + "\n" for line in lines).encode()


def run_setup(plugin, actions):
    """Runs --setup with the actions; returns (host status, host output, driver output)."""
    windows = WINDOWS
    cmd = hostrun.host_command(HOST, ["--setup", hostrun.native_to_host_path(plugin, windows)])
    env = hostrun.host_env()
    if not windows:
        r = subprocess.run(cmd, input=console_input(actions), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, env=env, timeout=60)
        return r.returncode, r.stdout.decode("latin-1"), ""
    host = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, env=env)
    try:
        d = subprocess.run(hostrun.host_command(DRIVER, driver_args(actions)),
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=120)
        out, _ = host.communicate(timeout=60)
    finally:
        if host.poll() is None:
            host.kill()
            host.communicate()
    text = d.stdout.decode("latin-1")
    if d.returncode != 0:
        raise AssertionError("the dialog did not behave: %s" % text)
    return host.returncode, out.decode("latin-1"), text


def read_ini(path):
    """{(section, key): value} of a settings file."""
    values, section = {}, None
    with open(path, "rb") as f:
        for raw in f.read().decode("latin-1").splitlines():
            line = raw.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif "=" in line and section:
                k, v = line.split("=", 1)
                values[(section, k)] = v
    return values


class SetupTest(unittest.TestCase):
    def install(self, ini_text):
        folder = os.path.join(WORK, self.id())
        plugin = hostrun.install_plugin(PLUGIN, folder, "")
        ini = os.path.splitext(plugin)[0] + ".ini"
        with open(ini, "wb") as f:
            f.write(ini_text)
        return plugin, ini

    def test_defaults_are_shown_and_the_radio_buttons_enable_the_proxy_fields(self):
        plugin, ini = self.install(b"")
        actions = [("text", 1000, "5110"), ("text", 1001, "5025"), ("checked", 3006, True)]
        actions += [("enabled", f, False) for f in PROXY_FIELDS]
        actions += [("checked", b, True) for b in (1005, 3001, 3002, 3003, 3004)]
        actions += [("checked", 1007, False), ("enabled", 1007, False)]
        for radio, enabled in ((3008, (True, True, False, False)), (3009, (True,) * 4),
                               (3007, (True,) * 4), (3006, (False,) * 4)):
            actions.append(("click", radio))
            actions += [("enabled", f, e) for f, e in zip(PROXY_FIELDS, enabled)]
        actions.append(("click", 2))
        status, out, _ = run_setup(plugin, actions)
        self.assertEqual(status, 0, out)
        self.assertIn("BKC_OnPlugInSetup returned 1", out)
        self.assertEqual(open(ini, "rb").read(), b"", "Cancel must not write the file")

    def test_a_cleared_pop3_port_is_stored_as_its_default(self):
        plugin, ini = self.install(b"[Setup]\r\nPOP3Port=6110\r\n")
        status, out, _ = run_setup(plugin, [("text", 1000, "6110"), ("set", 1000, ""),
                                            ("click", 1)])
        self.assertEqual(status, 0, out)
        values = read_ini(ini)
        self.assertEqual(values[("Setup", "POP3Port")], "5110")
        self.assertEqual(values[("Setup", "SMTPPort")], "5025")
        self.assertEqual(values[("MailBox", "Inbox")], "1")
        self.assertEqual(values[("MailBox", "Bulk")], "0")

    def test_fields_typed_under_http_are_stored_with_no_proxy(self):
        plugin, ini = self.install(b"")
        actions = [("click", 3007), ("set", 1002, "gate.example"), ("set", 1004, "3128"),
                   ("set", 1009, "joe"), ("set", 1010, "pass word"), ("click", 3006),
                   ("enabled", 1002, False), ("click", 3002), ("click", 1)]
        status, out, _ = run_setup(plugin, actions)
        self.assertEqual(status, 0, out)
        values = read_ini(ini)
        expected = {"ProxyType": "0", "Proxy": "gate.example", "Port": "3128",
                    "Username": "joe", "Password": "pass word", "Popup": "0",
                    "EmptyTrash": "1"}
        for key, value in expected.items():
            self.assertEqual(values.get(("Setup", key)), value, key)

    def test_cancel_after_changes_leaves_the_file_byte_identical(self):
        original = (b"[Setup]\r\nPOP3Port=7110\r\nProxyType=2\r\nProxy=s\r\n"
                    b"; a comment\r\n[MailBox]\r\nInbox=0\r\n")
        plugin, ini = self.install(original)
        actions = [("text", 1000, "7110"), ("checked", 3008, True), ("enabled", 1009, False),
                   ("checked", 1005, False), ("set", 1000, "1"), ("click", 3007),
                   ("click", 1005), ("click", 2)]
        status, out, _ = run_setup(plugin, actions)
        self.assertEqual(status, 0, out)
        self.assertEqual(open(ini, "rb").read(), original)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
