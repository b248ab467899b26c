"""Real servers that stop answering. The proxies serve one mail client at a time, so each must give
up on such a server within its time-outs (SERVER_CONNECT_SECONDS, SERVER_REPLY_SECONDS, a few
seconds here) and then serve the next client. A mail client that sits idle, and a message that
keeps flowing slowly for longer than a time-out, are not cut."""
import os
import smtplib
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from test_pop3_proxy_faults import FakePop3, Client, responder, MAILBOX  # noqa: E402
import smtp_server  # noqa: E402  (tests/integration/lib)
from smtp_server import SmtpServer  # noqa: E402

CONNECT_SECONDS = 2
REPLY_SECONDS = 2
# How much later than its time-out a session may end on a loaded machine (sanitizer builds).
SLACK = 4
ACCOUNTS_KEY = r"HKCU\Software\Microsoft\Internet Account Manager\Accounts"


def silent_after(answers):
    """A POP3 server conversation that answers the first `answers` of greeting, CAPA, USER and
    PASS (the proxy's order) and then reads on without a word."""
    def handler(c):
        replies = [b"+OK silent\r\n", b"-ERR no capabilities\r\n", b"+OK\r\n", b"+OK logged in\r\n"][:answers]
        if replies:
            c.send(replies.pop(0))
        while True:
            c.line()
            if replies:
                c.send(replies.pop(0))
    return handler


class FullBacklog:
    """A listening socket whose one-place queue is taken: a connection to it is never answered."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(0)
        self.port = self.sock.getsockname()[1]
        self.held = []
        for _ in range(2):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", self.port))
            self.held.append(s)
        time.sleep(0.2)

    def close(self):
        for s in self.held:
            s.close()
        self.sock.close()


class SilentSmtp:
    """An SMTP server that accepts and then says only `greeting` (or nothing) and reads on."""

    def __init__(self, answers):
        self.answers = answers
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.port = self.sock.getsockname()[1]
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.sock.settimeout(0.2)
        while not self.stopped.is_set():
            try:
                conn, _ = self.sock.accept()
            except OSError:
                continue
            conn.settimeout(15)
            replies = list(self.answers)
            try:
                if replies:
                    conn.sendall(replies.pop(0))
                while conn.recv(4096):
                    if replies:
                        conn.sendall(replies.pop(0))
            except OSError:
                pass
            finally:
                conn.close()

    def stop(self):
        self.stopped.set()
        self.sock.close()
        self.thread.join(5)


class TimeoutTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.smtp_ok = SmtpServer().start() if smtp_server.available() else None
        cls.smtp_silent = SilentSmtp([])
        cls.smtp_mute = SilentSmtp([b"220 mute ESMTP\r\n", b"250 mute\r\n"])   # greeting and EHLO only
        cls.o = Orvanta()
        cls.o.set_dword("SERVER_CONNECT_SECONDS", CONNECT_SECONDS)
        cls.o.set_dword("SERVER_REPLY_SECONDS", REPLY_SECONDS)
        accounts = [("silent@example.org", cls.smtp_silent.port), ("mute@example.org", cls.smtp_mute.port)]
        if cls.smtp_ok:
            accounts.append(("ok@example.org", cls.smtp_ok.port))
        for i, (address, port) in enumerate(accounts, 1):
            path = ACCOUNTS_KEY + "\\%08d" % i
            for name, kind, value in (("POP3 USER Name", "REG_SZ", "user%d" % i),
                                      ("SMTP Email Address", "REG_SZ", address),
                                      ("SMTP SERVER", "REG_SZ", "127.0.0.1"), ("SMTP Port", "REG_DWORD", str(port))):
                r = cls.o.reg("add", path, "/v", name, "/t", kind, "/d", value, "/f")
                assert r.returncode == 0, r.stderr
        cls.o.start(wait_for="SMTP proxy listening on port")
        cls.o.wait_line("POP3 proxy listening on port")

    @classmethod
    def tearDownClass(cls):
        try:
            cls.o.stop()
        finally:
            for s in (cls.smtp_ok, cls.smtp_silent, cls.smtp_mute):
                if s:
                    s.stop()

    def greeted(self):
        c = Client(self.o.pop3_port)
        c.sock.settimeout(REPLY_SECONDS + CONNECT_SECONDS + SLACK + 10)
        self.assertEqual(c.line(), b"+OK Orvanta POP3-Proxy Server ready.")
        return c

    def assertServesTheNextClient(self):
        fake = FakePop3(responder())
        try:
            c = self.greeted()
            c.send(b"USER u#127.0.0.1#%d\r\n" % fake.port)
            self.assertEqual(c.line(), b"+OK")
            c.send(b"PASS pw\r\n")
            self.assertEqual(c.line(), b"+OK")
            c.send(b"STAT\r\n")
            self.assertEqual(c.line(), b"+OK 2 %d" % sum(len(m) for m in MAILBOX))
            c.send(b"QUIT\r\n")
            self.assertEqual(c.line(), b"+OK bye")
            c.close()
        finally:
            fake.stop()

    def assertEndsWithin(self, c, seconds, last_reply=None):
        """The proxy answers `last_reply` (or nothing) and closes, `seconds` after the last send."""
        started = time.time()
        if last_reply is not None:
            self.assertEqual(c.line(), last_reply)
        self.assertTrue(c.closed())
        took = time.time() - started
        self.assertGreater(took, seconds - 0.5)
        self.assertLess(took, seconds + SLACK)

    def test_pop3_servers_that_stop_answering(self):
        backlog = FullBacklog()
        try:
            c = self.greeted()
            c.send(b"USER u#127.0.0.1#%d\r\n" % backlog.port)
            self.assertEndsWithin(c, CONNECT_SECONDS)
            c.close()
        finally:
            backlog.close()
        self.assertServesTheNextClient()

        # Silent from the start, after the greeting (the proxy's CAPA), after USER, after PASS
        # (the examination's LIST: the client hears "-ERR" to its PASS).
        for answers, steps in ((0, [b"USER"]), (1, [b"USER"]), (3, [b"USER", b"PASS"]), (4, [b"USER", b"PASS"])):
            with self.subTest(answers=answers):
                fake = FakePop3(silent_after(answers))
                try:
                    c = self.greeted()
                    for step in steps:
                        if step == b"PASS":
                            self.assertEqual(c.line(), b"+OK")   # the USER reply
                            c.send(b"PASS pw\r\n")
                        else:
                            c.send(b"USER u#127.0.0.1#%d\r\n" % fake.port)
                    self.assertEndsWithin(c, REPLY_SECONDS, b"-ERR" if answers == 4 else None)
                    c.close()
                finally:
                    fake.stop()
                self.assertServesTheNextClient()

    def test_an_idle_client_and_a_slow_long_message_are_not_cut(self):
        slow = MAILBOX[0] + b"".join(b"line %03d of a message that arrives slowly\r\n" % i for i in range(40))
        pieces = [slow[i:i + len(slow) // 5 + 1] for i in range(0, len(slow), len(slow) // 5 + 1)]

        def special(c, line):
            if line == b"RETR 1":
                c.send(b"+OK\r\n")
                for piece in pieces:   # well over the reply time-out in all, a part every 0.7 s
                    time.sleep(0.7)
                    c.send(piece)
                c.send(b".\r\n")
                return True
            return False
        fake = FakePop3(responder(special, mailbox=[slow, MAILBOX[1]]))
        try:
            c = self.greeted()
            c.send(b"USER u#127.0.0.1#%d\r\n" % fake.port)
            self.assertEqual(c.line(), b"+OK")
            c.send(b"PASS pw\r\n")   # the examination fetches the slow message too
            self.assertEqual(c.line(), b"+OK")
            time.sleep(REPLY_SECONDS + 1.5)   # idle, longer than the reply time-out
            c.send(b"NOOP\r\n")
            self.assertEqual(c.line(), b"+OK")
            c.send(b"RETR 1\r\n")
            self.assertEqual(c.line(), b"+OK")
            got = []
            while True:
                line = c.line()
                self.assertIsNotNone(line)
                if line == b".":
                    break
                got.append(line)
            self.assertEqual(b"\r\n".join(got) + b"\r\n", slow)
            c.send(b"QUIT\r\n")
            self.assertEqual(c.line(), b"+OK bye")
            c.close()
        finally:
            fake.stop()

    @unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python (use /usr/bin/python3)")
    def test_smtp_servers_that_stop_answering(self):
        # HELO is answered by the proxy; MAIL FROM picks the sender's account server.
        for sender in ("silent@example.org", "mute@example.org"):
            with self.subTest(sender=sender):
                with socket.create_connection(("127.0.0.1", self.o.smtp_port), timeout=30) as s:
                    f = s.makefile("rwb", buffering=0)
                    self.assertTrue(f.readline().startswith(b"220 Orvanta"))
                    f.write(b"HELO me\r\n")
                    self.assertTrue(f.readline().startswith(b"250 Bang ga !"))
                    started = time.time()
                    f.write(b"MAIL FROM:<%s>\r\n" % sender.encode())
                    self.assertEqual(f.readline(), b"")   # dropped, no reply
                    took = time.time() - started
                    self.assertGreater(took, REPLY_SECONDS - 0.5)
                    self.assertLess(took, REPLY_SECONDS + SLACK)
        c = smtplib.SMTP("127.0.0.1", self.o.smtp_port, timeout=30)
        c.helo("client.example")
        c.sendmail("ok@example.org", ["friend@example.net"], b"Subject: after\r\n\r\nserved\r\n")
        c.quit()
        self.assertEqual(len(self.smtp_ok.wait_messages(1)), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
