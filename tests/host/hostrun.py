"""Running the stand-in host (natively, or the Windows build under wine) from
the end-to-end and host tests."""

import fcntl
import os
import random
import select
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest


def is_windows_binary(path):
    return path.lower().endswith(".exe")


def native_to_host_path(path, windows):
    """The path as the host program sees it (wine maps / to drive Z:)."""
    path = os.path.abspath(path)
    return "Z:" + path.replace("/", "\\") if windows else path


def emulator():
    """The command that runs a Windows program of the build, as the build
    passes it in QUILL_EMULATOR (tools/wine-run.sh and the architecture)."""
    command = shlex.split(os.environ.get("QUILL_EMULATOR", ""))
    if not command:
        raise RuntimeError("QUILL_EMULATOR is not set: run this test through ctest")
    return command


def host_command(host, args):
    if is_windows_binary(host):
        return emulator() + [host] + args
    return [host] + args


def host_env():
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    return env


# Lock files of the ports this process has handed out, held until it ends.
_reserved = []


def free_port():
    """A port that was free a moment ago and that no other test process
    holds, picked below the system's ephemeral range (32768 and up on Linux):
    every outgoing connection, of this test or of one running beside it, takes
    its local port from that range and could hold a port picked there by the
    time the bridge binds it.

    Two tests that run at once could otherwise pick the same free port before
    either binds it: one host then fails to listen, and both tests talk to the
    other host, which ends its conversations when its own test stops it. Each
    port handed out is therefore locked (a lock file under the system's
    temporary folder) for as long as this process lives; a port locked by any
    process, this one included, is never handed out again meanwhile."""
    folder = os.path.join(tempfile.gettempdir(), "quill-test-ports")
    os.makedirs(folder, exist_ok=True)
    for _ in range(200):
        port = random.randint(20000, 32000)
        lock = open(os.path.join(folder, str(port)), "a")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            with socket.socket() as s:
                s.bind(("127.0.0.1", port))
        except OSError:
            lock.close()  # and with it the lock
            continue
        _reserved.append(lock)
        return port
    raise RuntimeError("no free port between 20000 and 32000")


def wait_for_port(port, timeout, proc=None):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                return s is not None
        except OSError:
            time.sleep(0.1)
    return False


def install_plugin(plugin, folder, ini_text):
    """Copies the plug-in into folder with its own settings file: an
    installation of its own. Returns the copy's path."""
    os.makedirs(folder, exist_ok=True)
    copy = os.path.join(folder, os.path.basename(plugin))
    shutil.copy(plugin, copy)
    ini = os.path.splitext(copy)[0] + ".ini"
    with open(ini, "wb") as f:
        f.write(ini_text.replace("\n", "\r\n").encode("latin-1"))
    return copy


def ini_text(pop3_port, smtp_port, site=None, proxy=None, save_cookie=True, inbox=True,
             empty_trash=True):
    lines = ["[Setup]",
             "POP3Port=%d" % pop3_port,
             "SMTPPort=%d" % smtp_port,
             "EmptyTrash=%d" % (1 if empty_trash else 0),
             "Popup=1",
             "SaveCookie=%d" % (1 if save_cookie else 0),
             "SaveSent=1"]
    if proxy:
        lines += ["ProxyType=1", "Proxy=%s" % proxy[0], "Port=%d" % proxy[1]]
        if len(proxy) > 2:
            lines += ["Username=%s" % proxy[2], "Password=%s" % proxy[3]]
    else:
        lines += ["ProxyType=0"]
    lines += ["[MailBox]", "Bulk=0", "Inbox=%d" % (1 if inbox else 0)]
    if site:
        lines += ["[Site]"] + ["%s=%s" % kv for kv in site.items()]
    return "\n".join(lines) + "\n"


class Host:
    """One run of the host with a plug-in, until stop()."""

    def __init__(self, host, plugin, args=(), log=None):
        windows = is_windows_binary(host)
        self.proc = subprocess.Popen(
            host_command(host, list(args) + [native_to_host_path(plugin, windows)]),
            stdin=subprocess.PIPE, stdout=log or subprocess.PIPE,
            stderr=subprocess.STDOUT, env=host_env())
        self.output = b""

    def wait_for_output(self, text, timeout=60):
        """Reads the host's output until text has appeared; False on time-out
        or when the host has ended first."""
        deadline = time.time() + timeout
        fd = self.proc.stdout.fileno()
        while text.encode() not in self.output:
            left = deadline - time.time()
            if left <= 0:
                return False
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    return False
                self.output += chunk
        return True

    def command(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def stop(self, timeout=60):
        """Asks the host to end as Ctrl-C does; returns (exit status, output).
        With QUILL_HOST_STOP=quit the host is asked on its console instead
        (ThreadSanitizer holds back signals for threads blocked in accept)."""
        if self.proc.poll() is None:
            if os.environ.get("QUILL_HOST_STOP") == "quit":
                try:
                    self.command("quit")
                except OSError:
                    pass
            else:
                self.proc.send_signal(signal.SIGINT)
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
            return None, (self.output + (out or b"")).decode("latin-1")
        return self.proc.returncode, (self.output + (out or b"")).decode("latin-1")


def run_host(host, plugin, args=(), timeout=60):
    """One short run (for --setup or a refusal): (exit status, output).
    Natively --setup's console dialog reads the empty input as Cancel; under
    wine the real options dialog opens, and quill-dialog-driver (built beside
    the host) presses its Cancel button."""
    windows = is_windows_binary(host)
    cmd = host_command(host, list(args) + [native_to_host_path(plugin, windows)])
    driver = os.path.join(os.path.dirname(host), "quill-dialog-driver.exe")
    if not (windows and "--setup" in args and os.path.exists(driver)):
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, env=host_env(), timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1")
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, env=host_env())
    # A refused plug-in shows no dialog: the driver then gives up, and the
    # host's own exit is what counts.
    cancel = subprocess.Popen(host_command(driver, ["find", "Quillmere 1.64", "click", "2"]),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=host_env())
    try:
        out, _ = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate()
        if cancel.poll() is None:
            cancel.kill()
        cancel.wait()
    return proc.returncode, out.decode("latin-1")


class Tinyproxy:
    """Debian's tinyproxy on a free port of 127.0.0.1, chained to
    upstream_port as its upstream HTTP proxy, with its files in folder;
    stopped by its process id (the system's service is never started)."""

    def __init__(self, folder, upstream_port, timeout=60):
        self.timeout = timeout
        self.port = free_port()
        self.pid_file = os.path.join(folder, "tinyproxy.pid")
        conf = os.path.join(folder, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write('Port %d\nListen 127.0.0.1\nTimeout 120\nLogFile "%s"\nLogLevel Info\n'
                    'PidFile "%s"\nMaxClients 10\nAllow 127.0.0.1\nUpstream http 127.0.0.1:%d\n'
                    % (self.port, os.path.join(folder, "tinyproxy.log"), self.pid_file,
                       upstream_port))
        subprocess.run([shutil.which("tinyproxy") or "/usr/bin/tinyproxy", "-c", conf],
                       check=True, timeout=timeout)
        if not wait_for_port(self.port, timeout):
            raise RuntimeError("tinyproxy did not start")

    def stop(self):
        """Ends tinyproxy; harmless when already stopped."""
        if self.pid_file is None:
            return
        deadline = time.monotonic() + self.timeout
        while not os.path.exists(self.pid_file) and time.monotonic() < deadline:
            time.sleep(0.05)
        with open(self.pid_file) as f:
            pid = int(f.read().strip())
        self.pid_file = None
        os.kill(pid, 15)
        while time.monotonic() < deadline:
            try:
                os.kill(pid, 0)
            except OSError:
                return
            time.sleep(0.05)


class LogTailResult(unittest.TextTestResult):
    """Prints, beside each failure, the end of every log in the failed test's
    folder (its `work` attribute): what the bridge and the site did is then in
    the output of a run whose folders are gone."""

    TAIL = 6000

    def _logs(self, test):
        work = getattr(test, "work", None)
        if not work or not os.path.isdir(work):
            return
        for folder, _, names in sorted(os.walk(work)):
            for name in sorted(names):
                if not name.endswith(".log"):
                    continue
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    f.seek(max(0, os.path.getsize(path) - self.TAIL))
                    tail = f.read().decode("latin-1")
                self.stream.writeln("---- %s (last %d bytes)" % (os.path.relpath(path, work),
                                                             self.TAIL))
                self.stream.writeln(tail)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._logs(test)

    def addError(self, test, err):
        super().addError(test, err)
        self._logs(test)

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._logs(test)


def main(**kwargs):
    """unittest.main with the logs of a failed test printed."""
    unittest.main(testRunner=unittest.TextTestRunner(resultclass=LogTailResult, verbosity=2),
                  **kwargs)
