"""TLS between the POP3 proxy and the real server. The mail client talks plain text to the
proxy; the proxy talks TLS to Dovecot: implicit TLS on port 995, STLS on any other port. The
certificates come from a CA the test makes (openssl), handed to the program through
ORVANTA_CA_FILE. Refused certificates, servers without TLS (TLS_REQUIRED 0 and 1) and failed
upgrades are checked against Dovecot and against scripted servers that record what they get.

Port 995 is a privileged port: the test binds it on a loopback address of its own
(127.x.y.z), which needs root; without root the implicit-TLS cases are skipped."""
import os
import random
import shutil
import socket
import ssl
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from dovecot import Dovecot  # noqa: E402  (tests/integration/lib)
from tlscerts import CertAuthority, upgrade_server_side  # noqa: E402

CRLF = b"\r\n"


def message(n):
    return CRLF.join([b"From: sender%d@example.org" % n, b"To: alice@example.org",
                      b"Subject: over TLS %d" % n, b"", b"Body of message %d." % n,
                      b"..a line that starts with a dot", b"x" * 3000]) + CRLF


MESSAGES = [message(n) for n in range(1, 4)]


def can_bind(host, port):
    try:
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind((host, port))
        return True
    except OSError:
        return False


def own_loopback_address():
    """A loopback address no other test uses, so port 995 is free on it."""
    for _ in range(50):
        host = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(0, 255), random.randint(1, 254))
        if can_bind(host, 0):
            return host
    raise RuntimeError("no free loopback address")


class Pop3Line:
    """A mail client speaking POP3 to the proxy, every read bounded."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=20)
        self.file = self.sock.makefile("rb")

    def line(self):
        try:
            raw = self.file.readline()
        except OSError:
            return None
        return raw.rstrip(b"\r\n") if raw else None

    def cmd(self, text):
        try:
            self.sock.sendall(text.encode() + CRLF)
        except OSError:
            return None
        return self.line()

    def multi(self):
        lines = []
        while True:
            line = self.line()
            if line is None or line == b".":
                return lines
            lines.append(line[1:] if line.startswith(b"..") else line)

    def close(self):
        self.file.close()
        self.sock.close()


class ScriptedServer:
    """A POP3 server that plays one scenario per connection and records every line it gets."""

    def __init__(self, scenario, tls_context=None):
        self.scenario = scenario
        self.context = tls_context
        self.received = []
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.sock.settimeout(30)
        self.port = self.sock.getsockname()[1]
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            self.done.set()
            return
        conn.settimeout(15)
        buf = b""

        def read_line():
            nonlocal buf
            while b"\n" not in buf:
                try:
                    chunk = conn.recv(4096)
                except OSError:
                    return None
                if not chunk:
                    return None
                buf += chunk
            line, buf = buf.split(b"\n", 1)
            self.received.append(line.rstrip(b"\r").decode(errors="replace"))
            return self.received[-1]

        try:
            conn.sendall(b"+OK scripted\r\n")
            while True:
                line = read_line()
                if line is None:
                    break
                word = line.split(" ")[0].upper()
                if word == "CAPA":
                    caps = b"USER\r\nSTLS\r\n" if self.scenario != "no-stls" else b"USER\r\n"
                    conn.sendall(b"+OK\r\n" + caps + b".\r\n")
                elif word == "STLS":
                    if self.scenario == "stls-refused":
                        conn.sendall(b"-ERR not now\r\n")
                    elif self.scenario == "stls-injected":
                        # Plain text behind the "+OK", as an attacker on the way would add it.
                        conn.sendall(b"+OK begin\r\n+OK injected\r\n")
                    else:
                        conn.sendall(b"+OK begin\r\n")
                        # After a failed upgrade, whatever comes is plain text: it is recorded.
                        tls = upgrade_server_side(conn, self.context, self.received)
                        if tls is None:
                            break
                        conn = tls
                elif word == "USER":
                    conn.sendall(b"+OK\r\n")
                elif word == "QUIT":
                    conn.sendall(b"+OK bye\r\n")
                    break
                else:
                    conn.sendall(b"-ERR\r\n")
        finally:
            conn.close()
            self.done.set()

    def stop(self):
        self.sock.close()
        self.thread.join(20)


class Pop3TlsTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvanta-tls-it-")
        os.chmod(cls.tmp, 0o755)
        cls.ca = CertAuthority(cls.tmp)
        cls.stranger_ca = CertAuthority(cls.tmp, "Stranger CA")
        cls.root = os.geteuid() == 0
        cls.servers = []

        def dovecot(host, cert, mode="required"):
            d = Dovecot({"alice": "secret"}, protocols=("pop3",), host=host,
                        ssl={"cert": cert[0], "key": cert[1], "mode": mode},
                        pop3s_port=995 if cls.root else None)
            d.add_messages("alice", MESSAGES)
            d.start()
            cls.servers.append(d)
            return d

        # The good server: a certificate from the trusted CA for its address.
        host = own_loopback_address()
        cls.good = dovecot(host, cls.ca.issue("good", "localhost", ["DNS:localhost", "IP:" + host]))
        # A certificate for another name, and one from a CA nobody trusts.
        host = own_loopback_address()
        cls.wrong_name = dovecot(host, cls.ca.issue("wrongname", "mail.example.org", ["DNS:mail.example.org"]))
        host = own_loopback_address()
        cls.stranger = dovecot(host, cls.stranger_ca.issue("stranger", "localhost", ["IP:" + host]))
        # No TLS at all.
        cls.plain = Dovecot({"alice": "secret"}, protocols=("pop3",))
        cls.plain.add_messages("alice", MESSAGES)
        cls.plain.start()
        cls.servers.append(cls.plain)

        cls.orvanta = Orvanta()
        cls.orvanta.env["ORVANTA_CA_FILE"] = cls.ca.cert_path
        cls.orvanta.start()
        cls.strict = Orvanta()
        cls.strict.env["ORVANTA_CA_FILE"] = cls.ca.cert_path
        cls.strict.set_dword("TLS_REQUIRED", 1)
        cls.strict.start()

    @classmethod
    def tearDownClass(cls):
        for o in (cls.orvanta, cls.strict):
            o.stop()
        for d in cls.servers:
            d.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    # -- helpers ---------------------------------------------------------------------------
    def fetch_all(self, instance, server, port):
        """Logs in through the proxy, fetches every message, quits; returns the messages."""
        c = Pop3Line(instance.pop3_port)
        try:
            self.assertTrue(c.line().startswith(b"+OK"))
            reply = c.cmd("USER alice#%s#%d" % (server.host, port))
            self.assertIsNotNone(reply, "the proxy closed the session:\n" + instance.output())
            self.assertTrue(reply.startswith(b"+OK"), reply)
            self.assertEqual(c.cmd("PASS secret"), b"+OK")
            self.assertTrue(c.cmd("STAT").startswith(b"+OK 3 "))
            got = []
            for n in range(1, 4):
                self.assertTrue(c.cmd("RETR %d" % n).startswith(b"+OK"))
                got.append(CRLF.join(c.multi()) + CRLF)
            self.assertTrue(c.cmd("QUIT").startswith(b"+OK"))
            return got
        finally:
            c.close()

    def refused(self, instance, server, port, log_text):
        """The session ends without a reply to USER, the log names server and reason, and
        the server saw no log-in."""
        logins = server.log().count("Login: user=<alice>") if isinstance(server, Dovecot) else 0
        c = Pop3Line(instance.pop3_port)
        try:
            self.assertTrue(c.line().startswith(b"+OK"))
            self.assertIsNone(c.cmd("USER alice#%s#%d" % (server.host, port)))
        finally:
            c.close()
        instance.wait_line("alice at %s:%d%s" % (server.host, port, log_text))
        if isinstance(server, Dovecot):
            self.assertEqual(server.log().count("Login: user=<alice>"), logins)

    def dovecot_tls_logins(self, server):
        return [l for l in server.log().splitlines() if "Login: user=<alice>" in l and "TLS" in l]

    # -- the tests -------------------------------------------------------------------------
    def test_fetch_over_stls_on_a_plain_port(self):
        before = len(self.dovecot_tls_logins(self.good))
        # Dovecot refuses every log-in without TLS here, so a fetch proves the upgrade.
        self.assertEqual(self.fetch_all(self.orvanta, self.good, self.good.pop3_port), MESSAGES)
        self.orvanta.wait_line("alice at %s:%d over TLS" % (self.good.host, self.good.pop3_port))
        self.assertEqual(len(self.dovecot_tls_logins(self.good)), before + 1, self.good.log())
        # TLS_REQUIRED has nothing to refuse on a server that offers it.
        self.assertEqual(self.fetch_all(self.strict, self.good, self.good.pop3_port), MESSAGES)

    def test_fetch_over_implicit_tls_on_995(self):
        if not self.root:
            self.skipTest("binding port 995 needs root")
        before = len(self.dovecot_tls_logins(self.good))
        self.assertEqual(self.fetch_all(self.orvanta, self.good, 995), MESSAGES)
        self.orvanta.wait_line("alice at %s:995 over TLS" % self.good.host)
        self.assertEqual(len(self.dovecot_tls_logins(self.good)), before + 1)

    def test_wrong_host_name_is_refused(self):
        ports = [self.wrong_name.pop3_port] + ([995] if self.root else [])
        for port in ports:
            self.refused(self.orvanta, self.wrong_name, port,
                         ": TLS failed (wrong name: the certificate is not for %s); closed." % self.wrong_name.host)

    def test_unknown_issuer_is_refused(self):
        ports = [self.stranger.pop3_port] + ([995] if self.root else [])
        for port in ports:
            self.refused(self.orvanta, self.stranger, port, ": TLS failed (certificate issuer unknown")

    def test_server_without_tls_depends_on_tls_required(self):
        self.assertEqual(self.fetch_all(self.orvanta, self.plain, self.plain.pop3_port), MESSAGES)
        self.orvanta.wait_line("alice at %s:%d in plain text" % (self.plain.host, self.plain.pop3_port))
        self.refused(self.strict, self.plain, self.plain.pop3_port, " offers no TLS and TLS_REQUIRED is 1; closed.")

    def test_a_failed_stls_never_falls_back_to_plain_text(self):
        stranger_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        cert, key = self.stranger_ca.issue("scripted", "localhost", ["IP:127.0.0.1"])
        stranger_context.load_cert_chain(cert, key)
        cases = [
            ("stls-refused", None, ["CAPA", "STLS"], ": TLS failed (the server offered STLS but refused it"),
            ("stls-untrusted", stranger_context, ["CAPA", "STLS", "<handshake failed>"],
             ": TLS failed (certificate issuer unknown"),
            ("stls-injected", None, ["CAPA", "STLS"], ": TLS failed (the server sent more than its answer"),
        ]
        for scenario, context, expected, log_text in cases:
            with self.subTest(scenario):
                server = ScriptedServer(scenario, context)
                server.host = "127.0.0.1"
                try:
                    self.refused(self.orvanta, server, server.port, log_text)
                    self.assertTrue(server.done.wait(20))
                    self.assertEqual(server.received, expected)
                finally:
                    server.stop()
        # The same script without STLS in its capabilities gets the log-in in plain text.
        server = ScriptedServer("no-stls")
        try:
            c = Pop3Line(self.orvanta.pop3_port)
            self.assertTrue(c.line().startswith(b"+OK"))
            self.assertEqual(c.cmd("USER alice#127.0.0.1#%d" % server.port), b"+OK")
            self.assertEqual(c.cmd("QUIT"), b"+OK bye")
            c.close()
            self.assertTrue(server.done.wait(20))
            self.assertEqual(server.received[:2], ["CAPA", "USER alice"])
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
