"""Real mail through the POP3 proxy: messages of the SpamAssassin corpus, stored in a
throwaway Dovecot, arrive through the proxy byte for byte as Dovecot sends them directly."""
import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
import corpus  # noqa: E402  (tests/integration/lib)
from dovecot import Dovecot  # noqa: E402

PER_GROUP = 60


class Wire:
    """A raw POP3 connection that hands out multi-line replies exactly as received."""

    def __init__(self, port, user, password):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.buf = b""
        assert self.line().startswith(b"+OK")
        self.command(b"USER " + user.encode())
        reply = self.command(b"PASS " + password.encode())
        assert reply.startswith(b"+OK"), reply

    def line(self):
        while b"\r\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise OSError("closed")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line

    def command(self, cmd):
        self.sock.sendall(cmd + b"\r\n")
        return self.line()

    def multiline(self, cmd):
        status = self.command(cmd)
        if not status.startswith(b"+OK"):
            return status, b""
        while b"\r\n.\r\n" not in self.buf and not self.buf.startswith(b".\r\n"):
            chunk = self.sock.recv(65536)
            if not chunk:
                raise OSError("closed")
            self.buf += chunk
        if self.buf.startswith(b".\r\n"):
            body, self.buf = b"", self.buf[3:]
        else:
            body, self.buf = self.buf.split(b"\r\n.\r\n", 1)
            body += b"\r\n"
        return status, body

    def quit(self):
        self.command(b"QUIT")
        self.sock.close()


class CorpusTests(unittest.TestCase):
    def test_corpus_messages_arrive_byte_identical(self):
        paths = []
        for group in corpus.groups():
            paths += corpus.messages(group, limit=PER_GROUP)
        self.assertGreater(len(paths), 100)
        datas = [corpus.read(p) for p in paths]
        d = Dovecot({"corpus": "pw"}, protocols=("pop3",))
        d.add_messages("corpus", datas)
        d.start()
        try:
            o = Orvanta()
            o.start()
            try:
                direct = Wire(d.pop3_port, "corpus", "pw")
                proxied = Wire(o.pop3_port, "corpus#127.0.0.1#%d" % d.pop3_port, "pw")
                # The proxy answers these itself with a bare "+OK", listing the messages it
                # offers (all of them, unless the filters took some out), renumbered.
                server_numbers = {uid: int(n) for n, uid in
                                  (l.split() for l in direct.multiline(b"UIDL")[1].splitlines())}
                sizes = dict(l.split() for l in direct.multiline(b"LIST")[1].splitlines())
                offered = [l.split() for l in proxied.multiline(b"UIDL")[1].splitlines()]
                listed = [l.split() for l in proxied.multiline(b"LIST")[1].splitlines()]
                self.assertGreater(len(offered), len(datas) // 2)
                for (n, uid), (n2, size) in zip(offered, listed):
                    self.assertEqual(n, n2)
                    self.assertEqual(size, sizes[b"%d" % server_numbers[uid]])
                for n, uid in offered:
                    m = server_numbers[uid]
                    want = direct.multiline(b"RETR %d" % m)
                    got = proxied.multiline(b"RETR " + n)
                    self.assertTrue(want[0].startswith(b"+OK"), want[0])
                    self.assertEqual(got, want, paths[m - 1])
                    # Unstuffed, it is the stored message.
                    body = want[1].replace(b"\r\n..", b"\r\n.")
                    if body.startswith(b".."):
                        body = body[1:]
                    self.assertEqual(body.rstrip(b"\r\n"), datas[m - 1].rstrip(b"\r\n"), paths[m - 1])
                self.assertEqual(proxied.multiline(b"TOP 1 3"),
                                 direct.multiline(b"TOP %d 3" % server_numbers[offered[0][1]]))
                direct.quit()
                proxied.quit()
            finally:
                o.stop()
        finally:
            d.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
