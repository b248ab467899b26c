"""The POP3 proxy end to end: a throwaway Dovecot, orvanta started headless on its own home
and ports, and real clients (curl's pop3, Python's poplib) logging in as
user#127.0.0.1#port."""
import os
import poplib
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from dovecot import Dovecot  # noqa: E402  (tests/integration/lib)

CRLF = b"\r\n"
poplib._MAXLINE = 100000   # poplib's own limit (2048) is shorter than the lines tested here


def message(n, subject=None, body_lines=None):
    subject = subject or "message %d" % n
    body = body_lines or [b"Line one of message %d." % n, b"", b"..a line that starts with a dot", b"end"]
    head = [b"From: sender%d@example.org" % n, b"To: u@example.org", b"Subject: " + subject.encode(),
            b"Message-ID: <m%d@example.org>" % n]
    return CRLF.join(head + [b""] + body) + CRLF


LONG_BODY = [bytes((65 + (i + j) % 26) for j in range(5000)) for i in range(6)] + [b"short tail"]
MAILBOXES = {
    "curl": [message(1), message(2), message(3)],
    "pop": [message(1), message(2), message(3), message(4)],
    "hist": [message(1), message(2)],
    "gone": [message(1), message(2)],
    "wait": [message(1)],
    "long": [message(1, "long lines", LONG_BODY)],
}


class ProxyTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dovecot = Dovecot({user: "pw-" + user for user in MAILBOXES}, protocols=("pop3",))
        for user, msgs in MAILBOXES.items():
            cls.dovecot.add_messages(user, msgs)
        cls.dovecot.start()
        cls.orvanta = Orvanta()
        cls.orvanta.start()
        cls.port = cls.orvanta.pop3_port

    @classmethod
    def tearDownClass(cls):
        cls.orvanta.stop()
        cls.dovecot.stop()

    def user(self, name):
        return "%s#127.0.0.1#%d" % (name, self.dovecot.pop3_port)

    def curl(self, name, path="", *extra, direct=False):
        port = self.dovecot.pop3_port if direct else self.port
        user = name if direct else self.user(name)
        r = subprocess.run(["curl", "-sS", "--max-time", "20", "pop3://127.0.0.1:%d/%s" % (port, path),
                            "-u", "%s:pw-%s" % (user, name), *extra], capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def pop(self, name, direct=False):
        if direct:
            p = poplib.POP3("127.0.0.1", self.dovecot.pop3_port, timeout=20)
            p.user(name)
        else:
            p = poplib.POP3("127.0.0.1", self.port, timeout=20)
            p.user(self.user(name))
        p.pass_("pw-" + name)
        return p

    def test_curl_list_uidl_retr_top_dele(self):
        self.assertEqual(self.curl("curl"), self.curl("curl", direct=True))
        self.assertEqual(self.curl("curl", "", "-X", "UIDL"), self.curl("curl", "", "-X", "UIDL", direct=True))
        for n in (1, 2, 3):
            self.assertEqual(self.curl("curl", str(n)), MAILBOXES["curl"][n - 1])
        top = self.curl("curl", "", "-X", "TOP 2 0")
        self.assertEqual(top, self.curl("curl", "", "-X", "TOP 2 0", direct=True))
        self.assertIn(b"Subject: message 2", top)
        self.assertNotIn(b"Line one", top)
        self.curl("curl", "1", "-X", "DELE", "-I")
        listing = self.curl("curl", direct=True)
        self.assertEqual(listing.count(b"\r\n"), 2, listing)

    def test_poplib_stat_list_uidl_retr_top_dele(self):
        direct = self.pop("pop", direct=True)
        want_stat = direct.stat()
        want_list = direct.list()[1]
        want_uidl = direct.uidl()[1]
        want_retr = [direct.retr(n)[1] for n in (1, 2, 3, 4)]
        want_top = direct.top(3, 1)[1]
        want_capa = direct.capa()
        direct.quit()

        p = self.pop("pop")
        self.assertEqual(p.stat(), want_stat)
        self.assertEqual(p.list()[1], want_list)
        self.assertEqual(p.uidl()[1], want_uidl)
        self.assertEqual(p.uidl(2).split()[1:], want_uidl[1].split())   # UIDL n is relayed
        self.assertTrue(p.noop().startswith(b"+OK"))
        # The server's capabilities, less PIPELINING: the proxy answers STAT, LIST and UIDL
        # itself at once, so a pipelining client would get replies out of order.
        self.assertIn("PIPELINING", want_capa)
        want_capa.pop("PIPELINING")
        self.assertEqual(p.capa(), want_capa)
        self.assertEqual([p.retr(n)[1] for n in (1, 2, 3, 4)], want_retr)
        self.assertEqual(p.top(3, 1)[1], want_top)
        with self.assertRaises(poplib.error_proto):
            p.retr(9)                 # beyond the list: server number 0, the server's own error
        self.assertTrue(p.dele(2).startswith(b"+OK"))
        self.assertTrue(p.quit().startswith(b"+OK"))

        direct = self.pop("pop", direct=True)
        self.assertEqual(direct.stat()[0], 3)
        subjects = [b"".join(l for l in direct.top(n, 0)[1] if l.startswith(b"Subject")) for n in (1, 2, 3)]
        direct.quit()
        self.assertEqual(subjects, [b"Subject: message 1", b"Subject: message 3", b"Subject: message 4"])

    def test_history_file_after_a_session(self):
        p = self.pop("hist")
        uids = [line.split()[1] for line in p.uidl()[1]]
        p.quit()
        path = os.path.join(self.orvanta.home, "user", "127.0.0.1.hist.his")
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 100 * len(uids))
        records = [data[i:i + 100].rstrip(b"\0") for i in range(0, len(data), 100)]
        self.assertEqual(records, uids)
        # A second log-in keeps one record per message.
        self.pop("hist").quit()
        self.assertEqual(os.path.getsize(path), 100 * len(uids))

    def test_second_client_waits_until_the_first_ends(self):
        first = self.pop("wait")
        second = socket.create_connection(("127.0.0.1", self.port), timeout=20)
        second.settimeout(1.0)
        with self.assertRaises(socket.timeout):
            second.recv(100)            # still in the listen backlog
        self.assertEqual(first.stat()[0], 1)
        first.quit()
        second.settimeout(10)
        self.assertTrue(second.recv(100).startswith(b"+OK Orvanta POP3-Proxy Server ready."))
        second.close()

    def test_client_disconnecting_without_quit_commits_its_deletions(self):
        p = self.pop("gone")
        self.assertTrue(p.dele(1).startswith(b"+OK"))
        p.sock.shutdown(socket.SHUT_RDWR)   # gone without QUIT: the proxy quits in its place
        p.sock.close()
        deadline = time.time() + 15
        count = None
        while time.time() < deadline:
            d = self.pop("gone", direct=True)
            count = d.stat()[0]
            d.quit()
            if count == 1:
                break
            time.sleep(0.2)
        self.assertEqual(count, 1)

    def test_retr_of_5000_byte_lines_is_byte_identical(self):
        want = self.curl("long", "1", direct=True)
        self.assertEqual(len(want), len(MAILBOXES["long"][0]))
        self.assertEqual(self.curl("long", "1"), want)
        p = self.pop("long")
        lines = p.retr(1)[1]
        p.quit()
        self.assertEqual(lines[-7:], LONG_BODY)

    def test_long_client_line_against_dovecot(self):
        # Dovecot answers a line over its limit and hangs up; through the proxy the client
        # sees the same, and the proxy goes on serving.
        replies = []
        for direct in (True, False):
            p = self.pop("curl", direct=direct)
            p._putcmd("NOOP " + "x" * 2100)
            replies.append(p._getline()[0])
            with self.assertRaises((poplib.error_proto, OSError)):
                p.noop()
            p.close()
        self.assertEqual(replies[0], replies[1])
        self.assertTrue(replies[1].startswith(b"-ERR"), replies[1])
        p = self.pop("curl")
        self.assertTrue(p.noop().startswith(b"+OK"))
        p.quit()


if __name__ == "__main__":
    unittest.main(verbosity=2)
