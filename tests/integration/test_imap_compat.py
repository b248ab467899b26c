"""What today's IMAP clients expect of the server, driven through Python's imaplib against
tests/harborage's imap_host on a temporary store."""
import imaplib
import os
import re
import shutil
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


if __name__ == "__main__":
    unittest.main()
