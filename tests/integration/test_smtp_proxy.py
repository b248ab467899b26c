"""The SMTP proxy end to end: real SMTP servers (aiosmtpd) on loopback ports, orvanta started
headless with mail client accounts in its registry, and real clients (Python's smtplib,
swaks, a raw socket) sending through the proxy."""
import base64
import os
import shutil
import smtplib
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
import smtp_server  # noqa: E402  (tests/integration/lib)
from smtp_server import SmtpServer  # noqa: E402

CRLF = b"\r\n"
ACCOUNTS_KEY = r"HKCU\Software\Microsoft\Internet Account Manager\Accounts"
OPTION_KEY = r"HKCU\Software\Pellix Technology\Orvanta\OPTION"


def message(subject, body_lines, sender="one@example.org", to="friend@example.net"):
    head = [b"From: " + sender.encode(), b"To: " + to.encode(), b"Subject: " + subject.encode()]
    return CRLF.join(head + [b""] + body_lines) + CRLF


def add_account(o, key, email, server, port):
    path = ACCOUNTS_KEY + "\\" + key
    for name, kind, value in (("POP3 USER Name", "REG_SZ", "user-" + key), ("SMTP Email Address", "REG_SZ", email),
                              ("SMTP SERVER", "REG_SZ", server), ("SMTP Port", "REG_DWORD", str(port))):
        r = o.reg("add", path, "/v", name, "/t", kind, "/d", value, "/f")
        assert r.returncode == 0, r.stderr


def set_string(o, name, value):
    r = o.reg("add", OPTION_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
    assert r.returncode == 0, r.stderr


def dword(o, name):
    """A DWORD of the OPTION key as an int, None when it is not there."""
    text = o.query(name)
    if not text:
        return None
    for word in text.split():
        if word.startswith("0x"):
            return int(word, 16)
    return None


@unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python (use /usr/bin/python3)")
class SmtpProxyTests(unittest.TestCase):
    def setUp(self):
        self.one = SmtpServer().start()                              # account one@example.org
        self.two = SmtpServer(refuse={"nobody@example.net"}).start()  # account two@example.org
        self.auth = SmtpServer(users={"kim": "s3cret"}).start()      # the chosen server for EHLO
        self.o = Orvanta()
        add_account(self.o, "00000001", "one@example.org", "127.0.0.1", self.one.port)
        add_account(self.o, "00000002", "two@example.org", "127.0.0.1", self.two.port)

    def tearDown(self):
        try:
            self.o.stop()
        finally:
            for s in (self.one, self.two, self.auth):
                s.stop()

    def start(self, always=None):
        if always is not None:
            set_string(self.o, "SelectSmtpServer", "127.0.0.1")
            self.o.set_dword("SelectSmtpPort", self.auth.port)
            self.o.set_dword("SelectSmtpAlways", always)
        self.o.start(wait_for="SMTP proxy listening on port")

    def client(self):
        return smtplib.SMTP("127.0.0.1", self.o.smtp_port, timeout=20)

    def quit_and_read(self, name):
        """Ends orvanta (settings are saved on the way out) and reads one DWORD."""
        self.o.stop_keep = True
        self.o.run(os.path.join(os.path.dirname(self.o.args()[0]), "orvanta"), "--send-quit")
        self.o.proc.wait(15)
        return dword(self.o, name)

    def test_helo_answered_here_then_the_senders_account_server(self):
        self.start()
        c = self.client()
        code, text = c.helo("client.example")
        self.assertEqual((code, text), (250, b"Bang ga ! Orvanta ESMTP Proxy Server... by pellix"))
        data = message("to two", [b"hello from two"], sender="two@example.org")
        c.sendmail("two@example.org", ["friend@example.net"], data)
        c.quit()
        got = self.two.wait_messages(1)
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0].helo, "client.example")          # the client's HELO replayed
        self.assertEqual(got[0].mail_from, "two@example.org")
        self.assertEqual(got[0].rcpt_tos, ["friend@example.net"])
        self.assertEqual(got[0].content, data)
        self.assertEqual(self.one.messages, [])
        # An address no account has goes to the first account's server.
        c = self.client()
        c.helo("client.example")
        c.sendmail("stranger@example.com", ["friend@example.net"], message("x", [b"x"], sender="stranger@example.com"))
        c.quit()
        self.assertEqual(len(self.one.wait_messages(1)), 1)

    def test_greeting_and_a_command_before_mail_from_ends_the_session(self):
        self.start()
        with socket.create_connection(("127.0.0.1", self.o.smtp_port), timeout=10) as s:
            f = s.makefile("rwb", buffering=0)
            self.assertEqual(f.readline(), b"220 Orvanta ESMTP Proxy Server... by pellix\r\n")
            f.write(b"HELO me\r\n")
            self.assertTrue(f.readline().startswith(b"250 Bang ga !"))
            f.write(b"NOOP\r\n")
            self.assertEqual(f.readline(), b"")   # dropped, no reply
        self.assertEqual(self.one.messages + self.two.messages, [])

    def test_ehlo_with_auth_login_end_to_end(self):
        self.start(always=1)
        c = self.client()
        code, text = c.ehlo("laptop.example")
        self.assertEqual(code, 250)
        self.assertIn(b"AUTH", text)              # the real server's capabilities
        self.assertTrue(c.has_extn("auth"))
        c.user, c.password = "kim", "s3cret"
        code, text = c.auth("LOGIN", c.auth_login, initial_response_ok=False)
        self.assertEqual(code, 235)
        data = message("authenticated", [b"sent after AUTH LOGIN"])
        c.sendmail("one@example.org", ["friend@example.net"], data)
        c.quit()
        got = self.auth.wait_messages(1)
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0].login, ("kim", "s3cret"))
        self.assertEqual(got[0].helo, "laptop.example")
        self.assertEqual(got[0].content, data)
        # A wrong password gets the server's refusal, not the proxy's.
        c = self.client()
        c.ehlo("laptop.example")
        c.user, c.password = "kim", "wrong"
        with self.assertRaises(smtplib.SMTPAuthenticationError) as e:
            c.auth("LOGIN", c.auth_login, initial_response_ok=False)
        self.assertEqual(e.exception.smtp_code, 535)
        c.close()
        # The first session sent a mail; the second did not, which clears the remembered choice.
        self.assertEqual(self.quit_and_read("SelectSmtpAlways"), 0)

    def test_auth_login_lines_reach_the_server_unchanged_with_swaks(self):
        if not shutil.which("swaks"):
            self.skipTest("swaks is not installed")
        self.start(always=1)
        r = subprocess.run(["swaks", "--server", "127.0.0.1", "--port", str(self.o.smtp_port), "--ehlo", "swaks.example",
                            "--from", "one@example.org", "--to", "friend@example.net", "--auth", "LOGIN",
                            "--auth-user", "kim", "--auth-password", "s3cret", "--header", "Subject: via swaks",
                            "--body", "swaks body"], capture_output=True, timeout=60)
        out = r.stdout.decode(errors="replace")
        self.assertEqual(r.returncode, 0, out)
        user64 = base64.b64encode(b"kim").decode()
        self.assertIn(" -> " + user64, out)
        self.assertIn("<-  334 ", out)
        self.assertIn("<-  235 ", out)
        got = self.auth.wait_messages(1)
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0].login, ("kim", "s3cret"))
        self.assertEqual(self.quit_and_read("SelectSmtpAlways"), 1)   # a mail went out

    def test_ehlo_without_a_remembered_server_takes_the_first_account(self):
        self.start(always=0)
        c = self.client()
        self.assertEqual(c.ehlo("laptop.example")[0], 250)
        data = message("first account", [b"body"])
        c.sendmail("two@example.org", ["friend@example.net"], data)
        c.quit()
        self.assertEqual(len(self.one.wait_messages(1)), 1)   # the choice, not the sender's account
        self.assertEqual(self.two.messages + self.auth.messages, [])
        self.o.run(os.path.join(os.path.dirname(self.o.args()[0]), "orvanta"), "--send-quit")
        self.o.proc.wait(15)
        self.assertEqual(dword(self.o, "SelectSmtpPort"), self.one.port)
        self.assertEqual(dword(self.o, "SelectSmtpAlways"), 0)
        self.assertIn("127.0.0.1", self.o.query("SelectSmtpServer"))

    def test_refused_recipient_is_passed_back(self):
        self.start()
        c = self.client()
        c.helo("client.example")
        self.assertEqual(c.mail("two@example.org")[0], 250)
        code, text = c.rcpt("nobody@example.net")
        self.assertEqual((code, text), (550, b"5.1.1 no such user here"))
        self.assertEqual(c.rcpt("friend@example.net")[0], 250)
        c.data(message("after a refusal", [b"still delivered"], sender="two@example.org"))
        c.quit()
        got = self.two.wait_messages(1)
        self.assertEqual(got[0].rcpt_tos, ["friend@example.net"])

    def test_refused_data_leaves_the_session_in_commands(self):
        self.start()
        c = self.client()
        c.helo("client.example")
        c.mail("two@example.org")
        c.rcpt("nobody@example.net")                    # refused: no recipient at all
        code, _ = c.docmd("DATA")
        self.assertGreaterEqual(code, 500)
        self.assertEqual(c.rset()[0], 250)             # answered: the proxy did not wait for text
        self.assertEqual(c.noop()[0], 250)
        c.quit()

    def test_session_that_sends_nothing_clears_the_remembered_choice(self):
        self.start(always=1)
        c = self.client()
        self.assertEqual(c.ehlo("laptop.example")[0], 250)
        self.assertEqual(c.noop()[0], 250)
        c.quit()
        self.assertEqual(self.auth.messages, [])
        self.assertEqual(self.quit_and_read("SelectSmtpAlways"), 0)

    def test_text_lines_quit_and_helo_are_text(self):
        self.start()
        c = self.client()
        c.helo("client.example")
        body = [b"QUIT", b"HELO x", b"EHLO y", b"DATA", b".", b"..two dots", b"RSET", b"end"]
        data = message("commands as text", body, sender="two@example.org")
        c.sendmail("two@example.org", ["friend@example.net"], data)
        # The session goes on after the message: a second one in the same session.
        second = message("second", [b"again"], sender="two@example.org")
        c.sendmail("two@example.org", ["friend@example.net"], second)
        c.quit()
        got = self.two.wait_messages(2)
        self.assertEqual([m.content for m in got], [data, second])

    def test_long_lines_arrive_byte_identical(self):
        self.start()
        lines = [bytes(65 + (i + j) % 26 for j in range(5000)) for i in range(6)]
        lines += [b"." + bytes(5000), b"x" * 2047, b"y" * 2048, b"z" * 4095 + b"\r", b"tail"]
        data = message("long lines", lines, sender="two@example.org")
        c = self.client()
        c.helo("client.example")
        c.sendmail("two@example.org", ["friend@example.net"], data)
        c.quit()
        got = self.two.wait_messages(1)
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0].content, data)

    def test_many_messages_in_pieces_of_any_size(self):
        """Message text that reaches the proxy in small, oddly cut sends, the closing dot
        split from its line end, and QUIT pipelined right behind it."""
        self.start()
        with socket.create_connection(("127.0.0.1", self.o.smtp_port), timeout=20) as s:
            f = s.makefile("rb")
            f.readline()
            s.sendall(b"HELO raw.example\r\n")
            f.readline()
            s.sendall(b"MAIL FROM:<two@example.org>\r\n")
            self.assertTrue(f.readline().startswith(b"250"))
            s.sendall(b"RCPT TO:<friend@example.net>\r\n")
            self.assertTrue(f.readline().startswith(b"250"))
            s.sendall(b"DATA\r\n")
            self.assertTrue(f.readline().startswith(b"354"))
            text = b"Subject: pieces\r\n\r\n" + b"".join(b"line %d ..\r\n.dot %d\r\n" % (i, i) for i in range(300))
            wire = text + b".\r\n"
            for i in range(0, len(wire) - 2, 7):
                s.sendall(wire[i:min(i + 7, len(wire) - 2)])
            s.sendall(b"\r\nQUIT\r\n")
            self.assertTrue(f.readline().startswith(b"250"))
            self.assertTrue(f.readline().startswith(b"221"))
        got = self.two.wait_messages(1)
        expected = text.replace(b"\r\n.dot", b"\r\ndot")
        self.assertEqual(got[0].content, expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
