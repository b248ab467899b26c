"""The POP3 proxy against a small fake POP3 server that misbehaves on purpose: a server that
closes in the middle of a listing, an unreachable server, first lines the proxy refuses,
client lines longer than one read, a client that vanishes without QUIT."""
import os
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta, free_port  # noqa: E402


class FakePop3:
    """Serves one scripted conversation per connection and records every byte it received."""

    def __init__(self, handler):
        self.handler = handler
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.port = self.sock.getsockname()[1]
        self.received = []
        self.closed = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.sock.settimeout(0.2)
        while not self.closed.is_set():
            try:
                conn, _ = self.sock.accept()
            except (socket.timeout, OSError):
                continue
            conn.settimeout(10)
            rec = bytearray()
            self.received.append(rec)
            try:
                self.handler(Conn(conn, rec))
            except OSError:
                pass
            finally:
                conn.close()

    def stop(self):
        self.closed.set()
        self.sock.close()
        self.thread.join(5)


class Conn:
    def __init__(self, sock, record):
        self.sock = sock
        self.record = record
        self.buf = b""

    def send(self, data):
        self.sock.sendall(data)

    def line(self):
        while b"\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise OSError("closed")
            self.record.extend(chunk)
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r")


MAILBOX = [b"From: a@example.org\r\nTo: u@example.org\r\nSubject: one\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
           b"Message-ID: <one@example.org>\r\n\r\nfirst\r\n",
           b"From: b@example.org\r\nTo: u@example.org\r\nSubject: two\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
           b"Message-ID: <two@example.org>\r\n\r\nsecond\r\n"]


def responder(special=None, mailbox=MAILBOX):
    """A POP3 server conversation over `mailbox`. Every command is recorded in .commands;
    `special(conn, line)` may answer a command itself (True) or end the connection (raise)."""
    commands = []

    def handler(c):
        c.send(b"+OK fake ready\r\n")
        while True:
            line = c.line()
            commands.append(line)
            if special and special(c, line):
                continue
            word = line.split(b" ")[0].upper()
            args = line.split()[1:]
            if word in (b"USER", b"PASS", b"NOOP", b"RSET"):
                c.send(b"+OK\r\n")
            elif word == b"LIST" and not args:
                c.send(b"+OK\r\n" + b"".join(b"%d %d\r\n" % (i + 1, len(m)) for i, m in enumerate(mailbox)) + b".\r\n")
            elif word == b"UIDL" and not args:
                c.send(b"+OK\r\n" + b"".join(b"%d uid%d\r\n" % (i + 1, i + 1) for i in range(len(mailbox))) + b".\r\n")
            elif word in (b"RETR", b"TOP") and args and 1 <= int(args[0]) <= len(mailbox):
                c.send(b"+OK\r\n" + mailbox[int(args[0]) - 1] + b".\r\n")
            elif word == b"DELE" and args:
                c.send(b"+OK deleted\r\n")
            elif word == b"QUIT":
                c.send(b"+OK bye\r\n")
                return
            else:
                c.send(b"-ERR unknown\r\n")

    handler.commands = commands
    return handler


class Client:
    """A raw line client for the proxy."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=15)
        self.buf = b""

    def line(self):
        while b"\r\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buf += chunk
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line

    def send(self, data):
        self.sock.sendall(data)

    def closed(self):
        """True when the proxy closes the connection with nothing more sent."""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    return self.buf == b""
                self.buf += chunk
        except socket.timeout:
            return False

    def close(self):
        self.sock.close()


class FaultTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.orvanta = Orvanta()
        cls.orvanta.start()
        cls.port = cls.orvanta.pop3_port

    @classmethod
    def tearDownClass(cls):
        cls.orvanta.stop()

    def greeted(self):
        c = Client(self.port)
        self.assertEqual(c.line(), b"+OK Orvanta POP3-Proxy Server ready.")
        return c

    def exchange(self, c, command, reply):
        """Sends one command line and checks the one reply line it gets."""
        c.send(command + b"\r\n")
        self.assertEqual(c.line(), reply)

    def assertProxyAlive(self):
        c = self.greeted()
        c.send(b"USER x\r\n")
        self.assertTrue(c.closed())
        c.close()

    def test_refused_first_lines(self):
        for line in [b"USER user1\r\n", b"NOOP\r\n", b"APOP a#127.0.0.1 x\r\n", b"\r\n",
                     b"USER " + b"u" * 600 + b"#127.0.0.1\r\n", b"USER " + b"u" * 2500 + b"#h\r\n"]:
            c = self.greeted()
            c.send(line)
            self.assertTrue(c.closed(), line[:20])
            c.close()

    def test_unreachable_server(self):
        dead = free_port()
        c = self.greeted()
        c.send(b"USER user1#127.0.0.1#%d\r\n" % dead)
        self.assertTrue(c.closed())
        c.close()
        self.assertProxyAlive()

    def test_server_closes_in_the_middle_of_the_examination_listing(self):
        def special(c, line):
            if line == b"LIST":
                c.send(b"+OK 3 messages\r\n1 100\r\n2 2")   # and gone
                raise OSError("hang up")
            return False
        fake = FakePop3(responder(special))
        try:
            c = self.greeted()
            c.send(b"USER u#127.0.0.1#%d\r\n" % fake.port)
            self.assertEqual(c.line(), b"+OK")
            c.send(b"PASS pw\r\n")
            # The examination ends with what it got; then the server's close closes the client.
            reply = c.line()
            self.assertIn(reply, (b"+OK", b"-ERR", None))
            c.sock.settimeout(15)
            while c.line() is not None:
                pass
            c.close()
            self.assertEqual(len(fake.received), 1)
        finally:
            fake.stop()
        self.assertProxyAlive()

    def test_server_closes_in_the_middle_of_a_relayed_listing(self):
        def special(c, line):
            if line == b"LIST ":
                c.send(b"+OK 2 messages\r\n1 100\r\n2 2")
                raise OSError("hang up")
            return False
        fake = FakePop3(responder(special))
        try:
            c = self.greeted()
            c.send(b"USER u#127.0.0.1#%d\r\n" % fake.port)
            self.assertEqual(c.line(), b"+OK")
            c.send(b"PASS pw\r\n")
            self.assertEqual(c.line(), b"+OK")
            c.send(b"STAT\r\n")
            self.assertEqual(c.line(), b"+OK 2 %d" % sum(len(m) for m in MAILBOX))
            c.send(b"LIST \r\n")   # one space: the server's own listing
            self.assertEqual(c.line(), b"+OK 2 messages")
            self.assertEqual(c.line(), b"1 100")
            # Then the connection closes: no end of listing is made up (the unfinished last
            # line may be dropped, it never gains a line end).
            rest = b""
            c.sock.settimeout(15)
            while True:
                chunk = c.sock.recv(4096)
                if not chunk:
                    break
                rest += chunk
            self.assertIn(c.buf + rest, (b"", b"2 2"))
            c.close()
        finally:
            fake.stop()
        self.assertProxyAlive()

    def test_long_client_lines_reach_the_server_unbroken(self):
        def special(c, line):
            if len(line) > 2047:
                c.send(b"-ERR line too long\r\n")
                return True
            return False
        handler = responder(special)
        fake = FakePop3(handler)
        # The first 2047 bytes look like NOOP; the tail holds what would be a DELE if the
        # proxy cut the line into commands.
        long_line = b"NOOP " + b"x" * 3000 + b"DELE 1 " + b"y" * 2500
        try:
            c = self.greeted()
            c.send(b"USER u#127.0.0.1#%d\r\n" % fake.port)
            self.assertEqual(c.line(), b"+OK")
            c.send(b"PASS pw\r\n")
            self.assertEqual(c.line(), b"+OK")
            c.send(long_line + b"\r\n")
            self.assertEqual(c.line(), b"-ERR line too long")
            c.send(b"NOOP\r\n")
            self.assertEqual(c.line(), b"+OK")
            c.send(b"QUIT\r\n")
            self.assertEqual(c.line(), b"+OK bye")
            c.close()
        finally:
            fake.stop()
        cmds = handler.commands
        self.assertIn(long_line, cmds)
        self.assertEqual(cmds[cmds.index(long_line) + 1:], [b"NOOP", b"QUIT"])
        self.assertFalse(any(cmd.startswith(b"DELE") for cmd in cmds))
        # One line end per command: nothing was inserted into the long line.
        self.assertEqual(bytes(fake.received[0]).count(b"\n"), len(cmds))

    def test_wrong_password_then_a_second_try(self):
        """A refused PASS is passed on and the session stays in the log-in: the next USER's
        "+OK" is not taken for a log-in, and mail is examined after the PASS that succeeds."""
        tries = []

        def special(c, line):
            if line.startswith(b"PASS"):
                tries.append(line)
                c.send(b"-ERR [AUTH] Authentication failed.\r\n" if len(tries) == 1 else b"+OK Logged in.\r\n")
                return True
            return False
        handler = responder(special)
        fake = FakePop3(handler)
        try:
            c = self.greeted()
            self.exchange(c, b"USER u#127.0.0.1#%d" % fake.port, b"+OK")
            self.exchange(c, b"PASS wrong", b"-ERR [AUTH] Authentication failed.")
            self.exchange(c, b"USER u", b"+OK")
            self.exchange(c, b"PASS right", b"+OK")
            self.exchange(c, b"STAT", b"+OK 2 %d" % sum(len(m) for m in MAILBOX))
            # Once logged in, a PASS is only relayed: its "+OK" starts no second examination.
            self.exchange(c, b"PASS again", b"+OK Logged in.")
            self.exchange(c, b"NOOP", b"+OK")
            self.exchange(c, b"QUIT", b"+OK bye")
            c.close()
        finally:
            fake.stop()
        self.assertEqual(handler.commands[:5], [b"CAPA", b"USER u", b"PASS wrong", b"USER u", b"PASS right"])
        self.assertEqual(handler.commands[5], b"LIST")
        self.assertEqual(handler.commands.count(b"LIST"), 1)
        self.assertEqual(handler.commands[-3:], [b"PASS again", b"NOOP", b"QUIT"])

    def test_client_vanishing_sends_quit_in_its_place(self):
        handler = responder()
        fake = FakePop3(handler)
        try:
            c = self.greeted()
            self.exchange(c, b"USER u#127.0.0.1#%d" % fake.port, b"+OK")
            self.exchange(c, b"PASS pw", b"+OK")
            self.exchange(c, b"DELE 2", b"+OK deleted")
            c.close()
            deadline = time.time() + 10
            while handler.commands[-1:] != [b"QUIT"] and time.time() < deadline:
                time.sleep(0.05)
        finally:
            fake.stop()
        self.assertEqual(handler.commands[-2:], [b"DELE 2", b"QUIT"])
        self.assertProxyAlive()


if __name__ == "__main__":
    unittest.main(verbosity=2)
