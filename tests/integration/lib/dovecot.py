"""A throwaway Dovecot (POP3 and IMAP) on loopback for integration tests.

Everything lives in a temporary directory: the configuration, a passwd-file with plain
passwords, one maildir per user, the runtime directory and the log. The ports are picked by
binding to port 0; nothing binds the default ports.

API
---
free_port() -> int
    A TCP port on 127.0.0.1 that was free a moment ago.

Dovecot(users=None, protocols=("pop3", "imap"), extra_config="", ssl=None, host="127.0.0.1",
        pop3s_port=None)
    users: {name: password}; default {"alice": "secret"}.
    extra_config: configuration text appended at the end (e.g. "pop3_uidl_format = %g").
    ssl: None for plain text only, or {"cert": pem, "key": pem, "mode": "yes" | "required"}:
         the POP3 port then offers STLS, and a second POP3 listener speaks TLS from the first
         byte on .pop3s_port. With "required" no log-in succeeds without TLS.
    host: the loopback address to listen on (any 127.x.y.z).
    pop3s_port: the implicit-TLS port (e.g. 995, which needs root); picked when None.
    .start() / .stop()    start in the foreground as a child process / stop and wait; stop() is
                          safe to call twice. Used as a context manager it always stops.
    .host                 the address it listens on, "127.0.0.1" unless given
    .pop3_port, .imap_port, .pop3s_port (None without ssl)
    .tmpdir               the temporary directory (removed by stop())
    .log_path, .log()     Dovecot's log file and its text
    .maildir(user)        the user's maildir (with cur/ new/ tmp/)
    .add_message(user, data, flags="", seen=False) -> path
                          stores one message (bytes, kept exactly as given) in the user's INBOX;
                          messages are listed in the order they were added. Works before and
                          while the server runs (Dovecot sees them at the next log-in).
    .add_messages(user, datas) -> [paths]
    .message_files(user)  the stored message files, in order
    .pop3(user=None)      a logged-in poplib.POP3 for a quick check (caller quits)
    .imap(user=None)      a logged-in imaplib.IMAP4 (caller logs out)

dovecot(**kw)             context manager: `with dovecot(users={"bob": "pw"}) as d: ...`

Running as root, Dovecot's login processes run as "dovenull" and its internal processes as
"dovecot"; Dovecot never accesses mail as root, so the maildirs then belong to "nobody" (the
test itself, as root, still reads and writes them freely). As an ordinary user, every process
runs as that user.
"""
import contextlib
import imaplib
import os
import poplib
import pwd
import shutil
import socket
import ssl
import subprocess
import tempfile
import time

DOVECOT = shutil.which("dovecot") or "/usr/sbin/dovecot"
HOST = "127.0.0.1"


def free_port(host=HOST):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def _wait_for_greeting(port, prefix, deadline, proc, host=HOST, tls=False):
    while time.time() < deadline and proc.poll() is None:
        try:
            with socket.create_connection((host, port), timeout=2) as s:
                s.settimeout(2)
                if tls:
                    # Only whether it answers: the certificate is the tests' business.
                    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                    context.check_hostname = False
                    context.verify_mode = ssl.CERT_NONE
                    with context.wrap_socket(s) as t:
                        if t.recv(200).startswith(prefix):
                            return True
                elif s.recv(200).startswith(prefix):
                    return True
        except OSError:
            pass
        time.sleep(0.1)
    return False


def _mail_owner():
    """The uid/gid mail is accessed with: Dovecot never accesses mail as root, so a root test
    run hands the maildirs to "nobody"."""
    if os.geteuid() != 0:
        return os.getuid(), os.getgid()
    for name in ("nobody", "dovecot"):
        try:
            entry = pwd.getpwnam(name)
            return entry.pw_uid, entry.pw_gid
        except KeyError:
            continue
    raise RuntimeError("no unprivileged user to own the test maildirs")


class Dovecot:
    def __init__(self, users=None, protocols=("pop3", "imap"), extra_config="", ssl=None, host=HOST,
                 pop3s_port=None):
        self.users = dict(users or {"alice": "secret"})
        self.protocols = tuple(protocols)
        self.extra_config = extra_config
        self.ssl = ssl
        self.host = host
        self.fixed_pop3s_port = pop3s_port
        self.pop3s_port = None
        self.pop3_port = None
        self.imap_port = None
        self.proc = None
        self.tmpdir = None
        self._counter = 0

    # -- files -----------------------------------------------------------------------------
    def _home(self, user):
        return os.path.join(self.tmpdir, "home", user)

    def maildir(self, user):
        return os.path.join(self._home(user), "Maildir")

    def _own(self, path):
        if os.geteuid() == 0:
            os.chown(path, self.mail_uid, self.mail_gid)

    def _prepare(self):
        self.tmpdir = tempfile.mkdtemp(prefix="orvanta-dovecot-")
        # Dovecot's unprivileged processes must be able to walk into the tree.
        os.chmod(self.tmpdir, 0o755)
        for sub in ("run", "state"):
            os.makedirs(os.path.join(self.tmpdir, sub))
        self.mail_uid, self.mail_gid = _mail_owner()
        lines = []
        for user, password in self.users.items():
            for sub in ("cur", "new", "tmp"):
                os.makedirs(os.path.join(self.maildir(user), sub), exist_ok=True)
            for d, _dirs, _files in os.walk(self._home(user)):
                self._own(d)
            # No uid/gid here: passwd-file refuses uid 0; mail_uid/mail_gid give them.
            lines.append(f"{user}:{{PLAIN}}{password}::::{self._home(user)}::")
        self.log_path = os.path.join(self.tmpdir, "dovecot.log")
        with open(os.path.join(self.tmpdir, "passwd"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def _config(self):
        t = self.tmpdir
        services = []
        # Only root may chroot the login processes.
        chroot = "" if os.geteuid() == 0 else "\n  chroot ="
        if os.geteuid() == 0:
            login_user, internal_user = "dovenull", "dovecot"
        else:
            login_user = internal_user = pwd.getpwuid(os.getuid()).pw_name
            # An ordinary user cannot give these sockets to the "dovecot" group.
            for service, listener in (("stats", "stats-writer"), ("imap-hibernate", "imap-hibernate"),
                                      ("dict", "dict"), ("dict-async", "dict-async")):
                services.append(f"""
service {service} {{
  unix_listener {listener} {{
    user =
    group =
    mode = 0600
  }}
}}""")
        if "pop3" in self.protocols:
            services.append(f"""
service pop3-login {{{chroot}
  inet_listener pop3 {{
    address = {self.host}
    port = {self.pop3_port}
  }}
  inet_listener pop3s {{
    address = {self.host}
    port = {self.pop3s_port or 0}
    ssl = {"yes" if self.ssl else "no"}
  }}
}}""")
        if "imap" in self.protocols:
            services.append(f"""
service imap-login {{{chroot}
  inet_listener imap {{
    address = {self.host}
    port = {self.imap_port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}""")
        return f"""# Throwaway Dovecot for one test run.
instance_name = orvanta-test-{os.path.basename(t)}
base_dir = {t}/run
state_dir = {t}/state
protocols = {" ".join(self.protocols)}
listen = {self.host}
{self._ssl_config()}
auth_mechanisms = plain login
log_path = {self.log_path}
info_log_path = {self.log_path}
default_login_user = {login_user}
default_internal_user = {internal_user}
first_valid_uid = 0
first_valid_gid = 0
mail_uid = {self.mail_uid}
mail_gid = {self.mail_gid}
mail_location = maildir:{t}/home/%u/Maildir
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {t}/passwd
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {t}/passwd
}}
service anvil {{
  chroot =
}}
{"".join(services)}
{self.extra_config}
"""

    def _ssl_config(self):
        if not self.ssl:
            return "ssl = no\ndisable_plaintext_auth = no"
        mode = self.ssl.get("mode", "required")
        return (f"ssl = {mode}\nssl_cert = <{self.ssl['cert']}\nssl_key = <{self.ssl['key']}\n"
                f"disable_plaintext_auth = {'yes' if mode == 'required' else 'no'}")

    # -- life cycle ------------------------------------------------------------------------
    def start(self):
        if self.tmpdir is None:
            self._prepare()
        last_error = ""
        for _attempt in range(3):
            self.pop3_port = free_port(self.host)
            self.imap_port = free_port(self.host)
            if self.ssl and "pop3" in self.protocols:
                self.pop3s_port = self.fixed_pop3s_port or free_port(self.host)
            conf = os.path.join(self.tmpdir, "dovecot.conf")
            with open(conf, "w") as f:
                f.write(self._config())
            # Its own output goes to a file: a pipe nobody reads could fill up and stall it.
            self._out = open(os.path.join(self.tmpdir, "dovecot.out"), "ab")
            self.proc = subprocess.Popen([DOVECOT, "-F", "-c", conf], stdin=subprocess.DEVNULL,
                                         stdout=self._out, stderr=subprocess.STDOUT)
            deadline = time.time() + 20
            ok = True
            if "pop3" in self.protocols:
                ok = _wait_for_greeting(self.pop3_port, b"+OK", deadline, self.proc, self.host)
            if ok and self.pop3s_port:
                ok = _wait_for_greeting(self.pop3s_port, b"+OK", deadline, self.proc, self.host, tls=True)
            if ok and "imap" in self.protocols:
                ok = _wait_for_greeting(self.imap_port, b"* OK", deadline, self.proc, self.host)
            if ok and self.proc.poll() is None:
                return self
            last_error = self._terminate() + self.log()
        self.stop()
        raise RuntimeError("Dovecot did not start:\n" + last_error)

    def _terminate(self):
        out = ""
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.terminate()
                try:
                    self.proc.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait(timeout=15)
            self.proc = None
            self._out.close()
            with open(os.path.join(self.tmpdir, "dovecot.out"), errors="replace") as f:
                out = f.read()
        return out

    def stop(self):
        self._terminate()
        if self.tmpdir and os.environ.get("ORVANTA_KEEP_DOVECOT") != "1":
            shutil.rmtree(self.tmpdir, ignore_errors=True)
            self.tmpdir = None

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()
        return False

    def log(self):
        try:
            with open(self.log_path, errors="replace") as f:
                return f.read()
        except (OSError, AttributeError, TypeError):
            return ""

    # -- messages --------------------------------------------------------------------------
    def add_message(self, user, data, flags="", seen=False):
        if self.tmpdir is None:
            self._prepare()
        if isinstance(data, str):
            data = data.encode()
        self._counter += 1
        # Maildir lists by the leading timestamp; a fixed base and a counter keep the order.
        base = f"{1000000000 + self._counter}.M{self._counter}P{os.getpid()}.orvanta"
        if seen:
            flags = "".join(sorted(set(flags + "S")))
        folder = "cur"
        name = f"{base}:2,{flags}"
        tmp = os.path.join(self.maildir(user), "tmp", base)
        with open(tmp, "wb") as f:
            f.write(data)
        path = os.path.join(self.maildir(user), folder, name)
        self._own(tmp)
        os.rename(tmp, path)
        return path

    def add_messages(self, user, datas):
        return [self.add_message(user, d) for d in datas]

    def message_files(self, user):
        result = []
        for sub in ("new", "cur"):
            d = os.path.join(self.maildir(user), sub)
            result += [os.path.join(d, n) for n in os.listdir(d)]
        return sorted(result, key=lambda p: int(os.path.basename(p).split(".")[0]))

    def pop3(self, user=None):
        user = user or next(iter(self.users))
        client = poplib.POP3(self.host, self.pop3_port, timeout=10)
        client.user(user)
        client.pass_(self.users[user])
        return client

    def imap(self, user=None):
        user = user or next(iter(self.users))
        client = imaplib.IMAP4(self.host, self.imap_port, timeout=10)
        client.login(user, self.users[user])
        return client


@contextlib.contextmanager
def dovecot(**kw):
    server = Dovecot(**kw)
    try:
        server.start()
        yield server
    finally:
        server.stop()
