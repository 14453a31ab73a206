"""The stand-in host with the real plug-in: which hosts the plug-in accepts,
its information record, its setup, and a full run from start to exit.

usage: host_test.py BINDIR PLUGIN WORKDIR"""

import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostrun  # noqa: E402

BIN, PLUGIN, WORK = sys.argv[1:4]
del sys.argv[1:4]
EXE = ".exe" if PLUGIN.lower().endswith(".dll") else ""

INFO = ("Name: Quillmere\n"
        "Vendor: The Quillmere developers <quillmere@users.noreply.example>\n"
        "Version: 1.64\n"
        "Description: Enables Becky! to access your Vurel Web mail accounts.\n")
REFUSED = "the plug-in refused to load"


def host(name):
    return os.path.join(BIN, name + EXE)


class HostBindingTest(unittest.TestCase):
    def setUp(self):
        self.plugin = hostrun.install_plugin(PLUGIN, os.path.join(WORK, self.id()),
                                             hostrun.ini_text(hostrun.free_port(),
                                                              hostrun.free_port()))

    def test_which_hosts_are_accepted(self):
        cases = [
            ("quillmere-host", [], True),
            ("quillmere-host-old", [], True),               # 2.00.05, no BKA_SetStatus
            ("quillmere-host-nosetstatus", [], False),      # 2.75.02, no BKA_SetStatus
            ("quillmere-host-nosetstatus", ["--bka-version", "2.00.05"], True),
            ("quillmere-host-nosetstatus", ["--bka-version", "2.00.06"], False),
            ("quillmere-host-nosetstatus", ["--bka-version", "1.00.00a"], False),
            ("quillmere-host-nonextunread", [], True),
            ("quillmere-host-noconnect", [], False),
            ("quillmere-host-noconnect", ["--bka-version", "1.0"], False),
        ]
        for i, (name, args, accepted) in enumerate(cases):
            status, out = hostrun.run_host(host(name), self.plugin, args + ["--setup"])
            if accepted:
                self.assertEqual(status, 0, "case %d: %s" % (i, out))
                self.assertIn(INFO, out.replace("\r\n", "\n"), "case %d" % i)
                self.assertIn("BKC_OnPlugInSetup returned 1", out, "case %d" % i)
            else:
                self.assertEqual(status, 1, "case %d: %s" % (i, out))
                self.assertIn(REFUSED, out, "case %d" % i)

    def test_setup_changes_nothing(self):
        ini = os.path.splitext(self.plugin)[0] + ".ini"
        before = open(ini, "rb").read()
        status, _ = hostrun.run_host(host("quillmere-host"), self.plugin, ["--setup"])
        self.assertEqual(status, 0)
        self.assertEqual(open(ini, "rb").read(), before)

    def test_missing_plugin_file(self):
        status, out = hostrun.run_host(host("quillmere-host"), self.plugin + ".missing")
        self.assertEqual(status, 2)
        self.assertIn("cannot open", out)


class HostRunTest(unittest.TestCase):
    def test_run_serves_both_ports_until_interrupted(self):
        pop3, smtp = hostrun.free_port(), hostrun.free_port()
        folder = os.path.join(WORK, self.id())
        ini = hostrun.ini_text(pop3, smtp, save_cookie=False).replace("[Setup]\n",
                                                                      "[Setup]\nLog=1\n")
        plugin = hostrun.install_plugin(PLUGIN, folder, ini)
        cookie = os.path.join(folder, "VurelCookie.dat")
        with open(cookie, "wb") as f:
            f.write(b"//vurel cookie data file\r\r\n")
        run = hostrun.Host(host("quillmere-host"), plugin)
        try:
            self.assertTrue(hostrun.wait_for_port(pop3, 60, run.proc), "POP3 never listened")
            with socket.create_connection(("127.0.0.1", pop3), timeout=30) as s:
                self.assertEqual(s.makefile("rb").readline(),
                                 b"+OK Quillmere POP3 service ready\r\n")
                s.sendall(b"QUIT\r\n")
            if hostrun.wait_for_port(smtp, 10, run.proc):
                with socket.create_connection(("127.0.0.1", smtp), timeout=30) as s:
                    self.assertTrue(s.makefile("rb").readline().startswith(b"220 "))
            run.command("hello")
            if not EXE:
                self.assertTrue(run.wait_for_output("unknown command: hello"), run.output)
            run.command("cancel pop3")
        finally:
            status, out = run.stop()
        self.assertEqual(status, 0, out)
        self.assertIn("stopped", out)
        # SaveCookie off: the cookie file stays as it was.
        self.assertEqual(open(cookie, "rb").read(), b"//vurel cookie data file\r\r\n")
        # Log=1: the plug-in's log beside it, in the system's line ends.
        with open(os.path.splitext(plugin)[0] + ".log", "rb") as f:
            log = f.read().decode("latin-1")
        for event in (r"plug-in starts; settings read from", r"POP3 listening on 127\.0\.0\.1:",
                      r"POP3 #\d+ conversation starts", r"POP3 #\d+ reply \+OK",
                      r"POP3 #\d+ conversation ends", r"plug-in ends"):
            self.assertRegex(log, event)
        self.assertEqual("\r\n" in log, bool(EXE), log)
        # The port is free again: nothing was left running.
        with socket.socket() as s:
            s.bind(("127.0.0.1", pop3))


if __name__ == "__main__":
    unittest.main(verbosity=2)
