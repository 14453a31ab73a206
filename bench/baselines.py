"""What the benchmarks measure against, shared by them: nginx serving files and
Dovecot serving a Maildir, each started by the benchmark with a configuration
of its own on a loopback port (never the system's service) and stopped by its
process id; signing in to the simulator as a browser does; medians.

Packages are installed with apt-get when their program is missing, quietly
when present."""

import hashlib
import http.client
import os
import pwd
import re
import shutil
import socket
import subprocess
import time


def ensure_packages(program, packages):
    """Installs the Debian packages when program is not on the path."""
    if shutil.which(program) or os.path.exists(program):
        return
    print("installing %s" % " ".join(packages), flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "-o", "DPkg::Lock::Timeout=600", "install", "-y", "-qq"]
                   + packages, check=True, env=env, stdout=subprocess.DEVNULL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


class Server:
    """A child process serving on a loopback port; stop() ends it by its id."""

    def __init__(self, command, port, log):
        self.port = port
        # The baselines run with the system's allocator as it comes, whatever
        # the benchmark sets for the programs it measures.
        env = dict(os.environ)
        env.pop("GLIBC_TUNABLES", None)
        self.proc = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=env)
        if not wait_for_port(port, self.proc):
            self.stop()
            raise RuntimeError("%s did not start (see %s)" % (command[0], log.name))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def start_nginx(root, work):
    """nginx serving the files under root on a free loopback port."""
    ensure_packages("/usr/sbin/nginx", ["nginx-light"])
    work = os.path.abspath(work)
    os.makedirs(work, exist_ok=True)
    port = free_port()
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
worker_processes 1;
pid %(work)s/nginx.pid;
error_log %(work)s/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path %(work)s/body;
    proxy_temp_path %(work)s/proxy;
    fastcgi_temp_path %(work)s/fastcgi;
    uwsgi_temp_path %(work)s/uwsgi;
    scgi_temp_path %(work)s/scgi;
    default_type text/plain;
    server {
        listen 127.0.0.1:%(port)d;
        root %(root)s;
    }
}
""" % {"work": work, "port": port, "root": os.path.abspath(root)})
    log = open(os.path.join(work, "nginx.log"), "wb")
    return Server(["/usr/sbin/nginx", "-p", work, "-c", conf], port, log)


def start_dovecot(maildir, user, password, work):
    """Dovecot's POP3 server for one user whose mail is the Maildir, on a free
    loopback port. The mail processes run as the dovecot user, which is given
    the Maildir."""
    ensure_packages("/usr/sbin/dovecot", ["dovecot-core", "dovecot-pop3d"])
    work = os.path.abspath(work)
    os.makedirs(work, exist_ok=True)
    owner = pwd.getpwnam("dovecot")
    for top, dirs, files in os.walk(maildir):
        os.chown(top, owner.pw_uid, owner.pw_gid)
        for name in files:
            os.chown(os.path.join(top, name), owner.pw_uid, owner.pw_gid)
    port = free_port()
    conf = os.path.join(work, "dovecot.conf")
    with open(conf, "w") as f:
        f.write("""protocols = pop3
listen = 127.0.0.1
base_dir = %(work)s/run
state_dir = %(work)s/state
log_path = %(work)s/dovecot.log
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:%(maildir)s
pop3_uidl_format = %%08Xu%%08Xv
passdb {
  driver = static
  args = password=%(password)s
}
userdb {
  driver = static
  args = uid=%(uid)d gid=%(gid)d home=%(maildir)s
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = %(port)d
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
}
""" % {"work": work, "maildir": os.path.abspath(maildir), "password": password,
       "uid": owner.pw_uid, "gid": owner.pw_gid, "port": port})
    log = open(os.path.join(work, "dovecot.out"), "wb")
    return Server(["/usr/sbin/dovecot", "-F", "-c", conf], port, log)


def sign_in(sim_port, user, password):
    """Signs in to the simulator (its proxy port) as a browser does. Returns
    the session cookie, the mail host and the message ids of listing page 0."""
    def get(url, cookie=None, body=None):
        # A simulator on HTTPS serves plain HTTP on the same port as well.
        url = url.replace("https://", "http://", 1)
        c = http.client.HTTPConnection("127.0.0.1", sim_port, timeout=60)
        headers = {"Cookie": cookie} if cookie is not None else {}
        if body is not None:
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        c.request("POST" if body else "GET", url, body=body, headers=headers)
        r = c.getresponse()
        page = r.read().decode("latin-1")
        cookies = "".join(v.split(";")[0] + "; " for k, v in r.getheaders()
                          if k.lower() == "set-cookie")
        loc = r.getheader("Location")
        c.close()
        return r.status, page, cookies, loc
    status, page, cookie, _ = get("http://mail.vurel.example/")
    challenge = re.search(r'name="\.challenge" value="([^"]*)"', page).group(1)
    answer = hashlib.md5((hashlib.md5(password.encode()).hexdigest() + challenge).encode())
    body = (".tries=1&.src=vm&.intl=us&login=%s&passwd=%s&.hash=1&.md5=1&.js=1&.challenge=%s"
            % (user, answer.hexdigest(), challenge))
    status, page, more, loc = get("http://login.vurel.example/config/login", cookie, body)
    cookie += more
    url = None
    while status == 302:
        url = loc
        status, page, more, loc = get(url, cookie)
        cookie += more
    host = re.match(r"https?://([^/:]+)", url).group(1)
    status, page, _, _ = get("http://%s/vm/ShowFolder?box=Inbox&Nview=a&Npos=0" % host, cookie)
    ids = re.findall(r'href="/vm/ShowLetter\?MsgId=([^&"]+)&', page)
    return cookie, host, list(dict.fromkeys(ids))


def start_simulator(sim, work, user, password, mailbox, extra=()):
    """vurel-sim on a free port with the mailbox; returns (process, port)."""
    port_file = os.path.join(work, "sim.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    proc = subprocess.Popen([sim, "--listen", "127.0.0.1:0", "--port-file", port_file,
                             "--user", "%s:%s" % (user, password), "--mailbox", mailbox]
                            + list(extra),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 120
    while not (os.path.exists(port_file) and open(port_file).read().strip()):
        if proc.poll() is not None or time.time() > deadline:
            proc.kill()
            raise RuntimeError("the simulator did not start")
        time.sleep(0.05)
    return proc, int(open(port_file).read())
