"""What today's IMAP clients expect of the server, driven through Python's imaplib against
tests/harborage's imap_host on a temporary store."""
import imaplib
import os
import re
import shutil
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from test_imap_server import Host, message  # noqa: E402


class ImapCompatTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orvanta-imapc-")
        self.root = os.path.join(self.tmp, "store")
        self.inbox = os.path.join(self.root, "INBOX")
        os.makedirs(self.inbox)
        for i in range(1, 4):
            with open(os.path.join(self.inbox, "mesg%08d.msg" % i), "wb") as f:
                f.write(message(f"m{i}", sender=f"user{i}@example.com"))
        self.host = Host(self.root + "/")
        self.client = imaplib.IMAP4("127.0.0.1", self.host.port, timeout=10)

    def tearDown(self):
        try:
            self.client.shutdown()
        finally:
            self.host.stop()
            shutil.rmtree(self.tmp)

    def test_uid_fetch_names_the_uid_in_every_answer(self):
        c = self.client
        c.login("anyone", "anything")
        c.select("INBOX")
        typ, data = c.uid("FETCH", "1:*", "(FLAGS)")
        self.assertEqual(typ, "OK")
        answers = [d for d in data if d]
        self.assertEqual(len(answers), 3)
        uids = [int(re.search(rb"UID (\d+)", a).group(1)) for a in answers]
        self.assertEqual(uids, [1, 2, 3])
        # The sequence form is left as asked: no UID unless requested.
        typ, data = c.fetch("1", "(FLAGS)")
        self.assertEqual(typ, "OK")
        self.assertNotIn(b"UID", data[0])
        typ, data = c.uid("STORE", "2", "+FLAGS", "(\\Seen)")
        self.assertEqual(typ, "OK")
        self.assertRegex(data[0], rb"UID 2\b")

    def test_close_unselect_check_and_capability(self):
        c = self.client
        self.assertIn("UNSELECT", c.capabilities)
        c.login("anyone", "anything")
        c.select("INBOX")
        self.assertEqual(c.check()[0], "OK")
        c.store("1", "+FLAGS", "(\\Deleted)")
        self.assertEqual(c._simple_command("UNSELECT")[0], "OK")
        self.assertEqual(len(os.listdir(self.inbox)) - 1, 3)  # the index beside three messages
        with self.assertRaises(imaplib.IMAP4.error):
            c.fetch("1", "(FLAGS)")  # no folder selected any more
        c.state = "AUTH"
        c.select("INBOX")
        typ, data = c.close()
        self.assertEqual(typ, "OK")
        self.assertEqual(sorted(f for f in os.listdir(self.inbox) if f.endswith(".msg")),
                         ["mesg00000002.msg", "mesg00000003.msg"])
        typ, data = c.select("INBOX")
        self.assertEqual(data, [b"2"])

    def test_partial_fetch_in_chunks_reassembles_a_large_message(self):
        big = message("big", sender="big@example.com") + b"".join(
            b"line %06d of a long message body, padded to make it larger\r\n" % i for i in range(5000))
        self.assertGreater(len(big), 300 * 1024)
        with open(os.path.join(self.inbox, "mesg00000004.msg"), "wb") as f:
            f.write(big)
        c = self.client
        c.login("anyone", "anything")
        c.select("INBOX")
        got, offset = b"", 0
        for _ in range(20):  # bounded: 300 KB in 64 KB chunks needs 5 or 6
            typ, data = c.uid("FETCH", "4", "(BODY.PEEK[]<%d.65536>)" % offset)
            self.assertEqual(typ, "OK")
            self.assertIn(b"BODY[]<%d> {" % offset, data[0][0])
            chunk = data[0][1]
            self.assertLessEqual(len(chunk), 65536)
            got += chunk
            offset += len(chunk)
            if len(chunk) < 65536:
                break
        self.assertEqual(got, big)
        # An offset past the end gives an empty literal; a header slice is cut the same way.
        typ, data = c.fetch("1", "(BODY.PEEK[]<999999.10>)")
        self.assertIn(b"BODY[]<999999> {0}", data[0] if isinstance(data[0], bytes) else data[0][0])
        typ, data = c.fetch("1", "(BODY.PEEK[HEADER]<0.4>)")
        self.assertEqual(data[0][1], message("m1", sender="user1@example.com")[:4])
        # The partial form of BODY[] still marks the message seen.
        c.fetch("2", "(BODY[]<0.10>)")
        typ, data = c.fetch("2", "(FLAGS)")
        self.assertIn(b"\\Seen", data[0])

    def test_login_with_literals(self):
        s = socket.create_connection(("127.0.0.1", self.host.port), timeout=10)
        f = s.makefile("rb")
        try:
            self.assertTrue(f.readline().startswith(b"* OK"))
            s.sendall(b"a1 LOGIN {6}\r\n")
            self.assertTrue(f.readline().startswith(b"+ "))
            s.sendall(b'us"e r {4}\r\n')
            self.assertTrue(f.readline().startswith(b"+ "))
            s.sendall(b"p w}\r\n")
            self.assertEqual(f.readline(), b"a1 OK LOGIN completed\r\n")
            s.sendall(b"a2 SELECT INBOX\r\n")
            for _ in range(20):
                line = f.readline()
                if line.startswith(b"a2 "):
                    break
            self.assertTrue(line.startswith(b"a2 OK"), line)
            # A literal too long for a name is refused by closing, never read past the buffer.
            s.sendall(b"a3 LOGOUT\r\n")
        finally:
            f.close()
            s.close()


if __name__ == "__main__":
    unittest.main()
