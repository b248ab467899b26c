"""TLS between the SMTP proxy (and the warning mail) and the real SMTP server. The mail client
talks plain text to the proxy; the proxy talks TLS to the server: implicit TLS on port 465,
STARTTLS on any other port when the EHLO reply offers it. Certificates come from a CA the test
makes, handed to the program through ORVANTA_CA_FILE. Real servers are aiosmtpd (which offers
AUTH and takes MAIL only inside TLS, so a delivered mail proves the upgrade); refusals are
checked against scripted servers that record every byte they get, plain text after a failed
handshake included.

Port 465 is privileged: with root the test binds it on loopback addresses of its own
(127.x.y.z); without root it takes a free port and names it to the program in
ORVANTA_SMTP_IMPLICIT_TLS_PORT, which adds that port to 465 as one with TLS from the first
byte. The warning mail goes to port 25 and is skipped when that cannot be bound."""
import os
import shutil
import smtplib
import socket
import ssl
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from test_pop3_tls import can_bind, own_loopback_address  # noqa: E402
from test_smtp_proxy import add_account, message, set_string  # noqa: E402
import smtp_server  # noqa: E402  (tests/integration/lib)
from smtp_server import SmtpServer, free_port  # noqa: E402
from smtp_tls_server import TlsSmtpServer  # noqa: E402
from tlscerts import CertAuthority, upgrade_server_side  # noqa: E402

USERS = {"kim": "s3cret"}


class ScriptedSmtp:
    """One SMTP session played by script, every line it gets recorded.

    mode "starttls"  EHLO offers STARTTLS and AUTH; STARTTLS is answered 220 and TLS begins
    mode "refused"   as starttls, but STARTTLS is answered 454
    mode "plain"     EHLO offers AUTH only
    mode "implicit"  TLS from the first byte
    A failed handshake is recorded as "<handshake failed>", and whatever comes after it on the
    bare socket as "<plain after failure> ..." (nothing should)."""

    def __init__(self, mode, context=None, host="127.0.0.1", port=0):
        self.mode = mode
        self.context = context
        self.host = host
        self.received = []
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, port))
        self.sock.listen(4)
        self.sock.settimeout(30)
        self.port = self.sock.getsockname()[1]
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _upgrade(self, conn):
        return upgrade_server_side(conn, self.context, self.received)

    def _serve(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            self.done.set()
            return
        conn.settimeout(15)
        try:
            if self.mode == "implicit":
                conn = self._upgrade(conn)
                if conn is None:
                    return
            conn.sendall(b"220 scripted ESMTP\r\n")
            buf = b""
            while True:
                while b"\n" not in buf:
                    try:
                        chunk = conn.recv(4096)
                    except OSError:
                        chunk = b""
                    if not chunk:
                        return
                    buf += chunk
                raw, buf = buf.split(b"\n", 1)
                line = raw.rstrip(b"\r").decode(errors="replace")
                self.received.append(line)
                word = line.split(" ")[0].upper()
                if word == "EHLO":
                    offer = b"250-STARTTLS\r\n" if self.mode in ("starttls", "refused") else b""
                    conn.sendall(b"250-scripted\r\n" + offer + b"250 AUTH LOGIN\r\n")
                elif word == "STARTTLS" and self.mode == "refused":
                    conn.sendall(b"454 4.7.0 TLS not available now\r\n")
                elif word == "STARTTLS":
                    conn.sendall(b"220 2.0.0 go ahead\r\n")
                    conn = self._upgrade(conn)
                    if conn is None:
                        return
                elif word == "QUIT":
                    conn.sendall(b"221 bye\r\n")
                    return
                else:
                    conn.sendall(b"250 ok\r\n")
        finally:
            if conn is not None:
                conn.close()
            self.done.set()

    def stop(self):
        self.sock.close()
        self.thread.join(20)


@unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python (use /usr/bin/python3)")
class SmtpTlsTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvanta-smtp-tls-")
        cls.ca = CertAuthority(cls.tmp)
        cls.stranger_ca = CertAuthority(cls.tmp, "Stranger CA")
        probe = own_loopback_address()
        cls.override = None
        if can_bind(probe, 465):
            cls.implicit_port = 465
        else:
            cls.implicit_port = free_port()
            cls.override = str(cls.implicit_port)
        cls.local = cls.ca.issue("local", "localhost", ["DNS:localhost", "IP:127.0.0.1"])
        cls.wrong_name = cls.ca.issue("wrongname", "mail.example.org", ["DNS:mail.example.org"])
        cls.stranger = cls.stranger_ca.issue("stranger", "localhost", ["DNS:localhost", "IP:127.0.0.1"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    # -- helpers ---------------------------------------------------------------------------
    def context(self, pair):
        c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        c.load_cert_chain(*pair)
        return c

    def server(self, *args, **kwargs):
        s = TlsSmtpServer(*args, **kwargs).start()
        self.addCleanup(s.stop)
        return s

    def scripted(self, *args, **kwargs):
        s = ScriptedSmtp(*args, **kwargs)
        self.addCleanup(s.stop)
        return s

    def proxy(self, host, port, required=0, accounts=()):
        """orvanta whose remembered outgoing server is host:port (the EHLO way) and whose
        accounts are (email, host, port) triples (the HELO way)."""
        o = Orvanta()
        self.addCleanup(o.stop)
        o.env["ORVANTA_CA_FILE"] = self.ca.cert_path
        if self.override:
            o.env["ORVANTA_SMTP_IMPLICIT_TLS_PORT"] = self.override
        set_string(o, "SelectSmtpServer", host)
        o.set_dword("SelectSmtpPort", port)
        o.set_dword("SelectSmtpAlways", 1)
        o.set_dword("TLS_REQUIRED", required)
        for n, (email, server_host, server_port) in enumerate(accounts, 1):
            add_account(o, "%08d" % n, email, server_host, server_port)
        o.start(wait_for="SMTP proxy listening on port")
        return o

    def send_with_auth_login(self, o):
        """EHLO, AUTH LOGIN and one mail through the proxy; returns the mail sent."""
        c = smtplib.SMTP("127.0.0.1", o.smtp_port, timeout=30)
        try:
            code, text = c.ehlo("laptop.example")
            self.assertEqual(code, 250, o.output())
            # The reply from inside TLS: AUTH offered there only, STARTTLS gone.
            self.assertTrue(c.has_extn("auth"), text)
            self.assertFalse(c.has_extn("starttls"), text)
            c.user, c.password = "kim", "s3cret"
            self.assertEqual(c.auth("LOGIN", c.auth_login, initial_response_ok=False)[0], 235)
            data = message("over TLS", [b"sent after AUTH LOGIN", b"..dot line"])
            c.sendmail("one@example.org", ["friend@example.net"], data)
            c.quit()
            return data
        finally:
            c.close()

    def check_delivered(self, server, data, tls=True, helo="laptop.example", login=("kim", "s3cret")):
        got = server.wait_messages(1)
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0].content, data)
        self.assertEqual(got[0].helo, helo)
        self.assertEqual(got[0].login, login)
        self.assertEqual(getattr(got[0], "tls", False), tls)

    def ehlo_refused(self, o):
        """The client's EHLO gets the proxy's 421 and the session ends."""
        c = smtplib.SMTP("127.0.0.1", o.smtp_port, timeout=30)
        try:
            code, text = c.ehlo("laptop.example")
            self.assertEqual(code, 421, text)
            with self.assertRaises(smtplib.SMTPServerDisconnected):
                c.noop()
        finally:
            c.close()

    # -- the tests -------------------------------------------------------------------------
    def test_ehlo_way_over_starttls_with_auth_login(self):
        s = self.server(*self.local, users=USERS)
        o = self.proxy("127.0.0.1", s.port)
        data = self.send_with_auth_login(o)
        self.check_delivered(s, data)
        o.wait_line("SMTP proxy: 127.0.0.1:%d connected over TLS" % s.port)
        # TLS_REQUIRED has nothing to refuse on a server that offers TLS.
        strict = self.proxy("127.0.0.1", s.port, required=1)
        self.send_with_auth_login(strict)
        self.assertEqual(len(s.wait_messages(2)), 2)

    def test_ehlo_way_over_implicit_tls_with_auth_login(self):
        host = own_loopback_address()
        cert = self.ca.issue("implicit", "localhost", ["IP:" + host])
        s = self.server(*cert, host=host, port=self.implicit_port, implicit=True, users=USERS)
        o = self.proxy(host, self.implicit_port)
        data = self.send_with_auth_login(o)
        self.check_delivered(s, data)
        o.wait_line("SMTP proxy: %s:%d connected over TLS" % (host, self.implicit_port))

    def test_helo_way_upgrades_before_replaying_helo_and_mail_from(self):
        s = self.server(*self.local)
        o = self.proxy("127.0.0.1", 1, accounts=[("two@example.org", "127.0.0.1", s.port)])
        c = smtplib.SMTP("127.0.0.1", o.smtp_port, timeout=30)
        self.assertEqual(c.helo("client.example")[0], 250)
        data = message("helo way", [b"over STARTTLS"], sender="two@example.org")
        c.sendmail("two@example.org", ["friend@example.net"], data)
        c.quit()
        # The server takes MAIL only inside TLS.
        self.check_delivered(s, data, helo="client.example", login=None)
        o.wait_line("SMTP proxy: 127.0.0.1:%d connected over TLS" % s.port)

    def test_refused_certificates_and_starttls_never_fall_back_to_plain_text(self):
        wrong = ": TLS failed (wrong name: the certificate is not for {host}); closed."
        unknown = ": TLS failed (certificate issuer unknown"
        cases = [
            ("starttls", self.wrong_name, wrong, ["ehlo laptop.example", "STARTTLS", "<handshake failed>"]),
            ("starttls", self.stranger, unknown, ["ehlo laptop.example", "STARTTLS", "<handshake failed>"]),
            ("implicit", self.wrong_name, wrong, ["<handshake failed>"]),
            ("implicit", self.stranger, unknown, ["<handshake failed>"]),
            ("refused", None, ": TLS failed (the server offered STARTTLS but refused it: 454 4.7.0 TLS not "
             "available now); closed.", ["ehlo laptop.example", "STARTTLS"]),
        ]
        for mode, pair, log_text, expected in cases:
            with self.subTest(mode=mode, cert=pair and os.path.basename(pair[0])):
                if mode == "implicit":
                    host = own_loopback_address()
                    if pair is self.stranger:
                        pair = self.stranger_ca.issue("stranger-" + host, "localhost", ["IP:" + host])
                    s = self.scripted(mode, self.context(pair), host=host, port=self.implicit_port)
                else:
                    s = self.scripted(mode, pair and self.context(pair))
                o = self.proxy(s.host, s.port)
                self.ehlo_refused(o)
                self.assertTrue(s.done.wait(20))
                self.assertEqual(s.received, expected)
                o.wait_line("SMTP proxy: %s:%d" % (s.host, s.port) + log_text.format(host=s.host))
        # The HELO way: the client's MAIL FROM gets the 421; neither it nor HELO went out.
        s = self.scripted("starttls", self.context(self.stranger))
        o = self.proxy("127.0.0.1", 1, accounts=[("two@example.org", "127.0.0.1", s.port)])
        c = smtplib.SMTP("127.0.0.1", o.smtp_port, timeout=30)
        try:
            self.assertEqual(c.helo("client.example")[0], 250)
            self.assertEqual(c.mail("two@example.org")[0], 421)
        finally:
            c.close()
        self.assertTrue(s.done.wait(20))
        self.assertEqual(s.received, ["EHLO client.example", "STARTTLS", "<handshake failed>"])
        o.wait_line("SMTP proxy: 127.0.0.1:%d: TLS failed (certificate issuer unknown" % s.port)

    def test_server_without_tls_depends_on_tls_required(self):
        plain = SmtpServer(users=USERS).start()
        self.addCleanup(plain.stop)
        o = self.proxy("127.0.0.1", plain.port)
        data = self.send_with_auth_login(o)
        self.check_delivered(plain, data, tls=False)
        o.wait_line("SMTP proxy: 127.0.0.1:%d connected in plain text (the server offers no TLS)" % plain.port)
        # With TLS_REQUIRED 1 only the EHLO went out, and the client was told.
        s = self.scripted("plain")
        strict = self.proxy("127.0.0.1", s.port, required=1)
        self.ehlo_refused(strict)
        self.assertTrue(s.done.wait(20))
        self.assertEqual(s.received, ["ehlo laptop.example"])
        strict.wait_line("SMTP proxy: 127.0.0.1:%d offers no TLS and TLS_REQUIRED is 1; closed." % s.port)


@unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python (use /usr/bin/python3)")
class WarningMailTlsTests(unittest.TestCase):
    def fetch_spam(self, o, sender, subject):
        from test_pipeline_flow import FakePop3, msg
        import poplib
        fake = FakePop3([msg(sender, subject, to=b"me@example.net")])
        fake.drop = False
        fake.start()
        self.addCleanup(fake.stop)
        p = poplib.POP3("127.0.0.1", o.pop3_port, timeout=60)
        # A user of its own each time: a UIDL the account has seen before is not examined again.
        p.user("%s#127.0.0.1#%d" % (sender.decode().split("@")[0], fake.port))
        p.pass_("pw")
        self.assertEqual(p.stat()[0], 0)   # the spam is held back, and a warning goes out
        p.quit()

    def test_warning_goes_out_over_starttls_and_never_in_plain_text(self):
        from test_pipeline_flow import rules_tool, SUBJECT
        if not can_bind("127.0.0.1", 25):
            self.skipTest("cannot listen on 127.0.0.1:25")
        tmp = tempfile.mkdtemp(prefix="orvanta-warn-tls-")
        self.addCleanup(shutil.rmtree, tmp, True)
        ca = CertAuthority(tmp)
        stranger_ca = CertAuthority(tmp, "Stranger CA")
        o = Orvanta(os.path.join(tmp, "orvanta"))
        self.addCleanup(o.stop)
        o.env["ORVANTA_CA_FILE"] = ca.cert_path
        data = os.path.join(o.home, "user")
        os.makedirs(data, exist_ok=True)
        rules_tool("rule", os.path.join(data, "private.flt"), str(SUBJECT), "cheap watches", "Junk", "0")
        rules_tool("folder", data + "/", "Junk")
        with open(os.path.join(data, "warn1.dat"), "wb") as f:
            f.write(b"please stop")
        add_account(o, "00000001", "me@example.net", "127.0.0.1", 2525)
        o.set_dword("USE_WARN", 1)
        o.set_dword("Select_Warn", 0)
        o.start()

        # A certificate nobody trusts: the warning stays unsent, nothing follows the handshake.
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*stranger_ca.issue("stranger", "localhost", ["IP:127.0.0.1"]))
        scripted = ScriptedSmtp("starttls", context, port=25)
        try:
            self.fetch_spam(o, b"first@spam.example", b"cheap watches")
            self.assertTrue(scripted.done.wait(20), o.output())
            self.assertEqual(scripted.received, ["EHLO localhost", "STARTTLS", "<handshake failed>"])
            o.wait_line("Warning mail: 127.0.0.1:25: TLS failed (certificate issuer unknown")
        finally:
            scripted.stop()

        # A trusted one; the server takes MAIL only after STARTTLS, and the HELO came inside TLS.
        smtp = TlsSmtpServer(*ca.issue("local", "localhost", ["IP:127.0.0.1"]), port=25).start()
        self.addCleanup(smtp.stop)
        self.fetch_spam(o, b"spammer@spam.example", b"cheap watches again")
        got = smtp.wait_messages(1)
        self.assertEqual(len(got), 1, o.output())
        self.assertTrue(got[0].tls)
        self.assertEqual(got[0].helo, "localhost")
        self.assertEqual(got[0].mail_from, "me@example.net")
        self.assertEqual(got[0].rcpt_tos, ["spammer@spam.example"])
        self.assertIn(b"please stop", got[0].content)


if __name__ == "__main__":
    unittest.main(verbosity=2)
