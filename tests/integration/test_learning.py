"""The learning filter end to end: a store trained with orvanta-learn from corpus mail, orvanta
started headless against a throwaway Dovecot, Python's poplib through the proxy (a trained
spam is taken out into the spam box, an unsure message and a ham without recipient pass), and
imaplib on the program's IMAP server (a message filed into the spam box is trained as spam, a
cleared flag moves a message to ham)."""
import imaplib
import os
import poplib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from email.parser import BytesHeaderParser

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta, BIN  # noqa: E402
from dovecot import Dovecot  # noqa: E402
import corpus  # noqa: E402

CRLF = b"\r\n"
poplib._MAXLINE = 100000
imaplib._MAXLINE = 1000000
TRAINED = 70


def complete(data):
    """True for a message with sender, recipient and subject (no built-in judgement hits)."""
    h = BytesHeaderParser().parsebytes(data)
    return all(str(h.get(k) or "").strip() for k in ("From", "To", "Subject", "Message-ID"))


def without_to(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = [l for l in re.split(rb"\r\n(?![ \t])", head) if not l.lower().startswith(b"to:")]
    return CRLF.join(lines) + b"\r\n\r\n" + body


class LearningFlow(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvanta-learn-it-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.o = Orvanta(os.path.join(self.root, "o"))
        self.addCleanup(self.stop_orvanta)

    def stop_orvanta(self):
        if self.o.proc and self.o.proc.poll() is None:
            self.o.stop()

    def tool(self, *args):
        r = self.o.run(os.path.join(BIN, "orvanta-learn"), "--home", self.o.home, *args, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return r.stdout.decode(errors="replace")

    def figures(self):
        out = self.tool("figures")
        return {k: int(v) for k, v in re.findall(r"^(spam messages|ham messages|passed messages waiting) (\d+)$",
                                                   out, re.M)}

    def folder(self, name, messages):
        d = os.path.join(self.root, name)
        os.makedirs(d)
        for i, m in enumerate(messages):
            with open(os.path.join(d, "%03d.eml" % i), "wb") as f:
                f.write(m)
        return d

    def imap(self):
        """A logged-in client of the program's IMAP server, which starts after the POP3 proxy."""
        deadline = time.time() + 15
        while True:
            try:
                m = imaplib.IMAP4("127.0.0.1", self.o.imap_port, timeout=30)
                break
            except ConnectionRefusedError:
                if time.time() > deadline:
                    raise
                time.sleep(0.1)
        m.login("user", "pw")
        return m

    def score(self, data):
        path = os.path.join(self.root, "probe.eml")
        with open(path, "wb") as f:
            f.write(data)
        return self.tool("score", path).split()[0]

    def test_examination_and_feedback_train_the_filter(self):
        spam = [d for d in map(corpus.read, corpus.messages("spam-2", limit=400)) if complete(d)]
        ham = [d for d in map(corpus.read, corpus.messages("easy-ham-1", limit=400)) if complete(d)]
        self.assertGreater(len(spam), TRAINED + 20)
        self.assertGreater(len(ham), TRAINED + 20)
        out = self.tool("spam", self.folder("spam", spam[:TRAINED]))
        self.assertIn("%d trained as spam" % TRAINED, out)
        self.tool("ham", self.folder("ham", ham[:TRAINED]))
        self.assertEqual(self.figures()["spam messages"], TRAINED)

        # Messages the trained store judges as the test needs: one spam it has not seen, one
        # ham that only the "No Receiver" judgement would take out, one of words never seen.
        probe = next(d for d in spam[TRAINED:] if self.score(d) == "spam")
        lonely = next(w for w in (without_to(d) for d in ham[TRAINED:]) if self.score(w) == "ham")
        unsure = (b"From: Zed <zed@nowhere.example>\r\nTo: me@example.net\r\nSubject: qwxv zzkp\r\n"
                  b"Message-ID: <unsure-1@nowhere.example>\r\n\r\nplorbix wuzzle frambot quenching\r\n")
        self.assertEqual(self.score(unsure), "unsure")
        filed = spam[TRAINED + 30]

        dovecot = Dovecot({"learner": "pw"}, protocols=("pop3",))
        dovecot.add_messages("learner", [probe, unsure, lonely])
        dovecot.start()
        self.addCleanup(dovecot.stop)
        self.o.start()

        p = poplib.POP3("127.0.0.1", self.o.pop3_port, timeout=60)
        p.user("learner#127.0.0.1#%d" % dovecot.pop3_port)
        p.pass_("pw")
        seen = [CRLF.join(p.retr(n)[1]) + CRLF for n in range(1, p.stat()[0] + 1)]
        p.quit()
        self.assertEqual(seen, [unsure, lonely])
        log = self.o.output()
        self.assertIn("The learning filter scores the message from", log)
        self.assertIn('built-in judgement "No Receiver"', log)
        self.assertIn("overruled", log)
        f = self.figures()
        self.assertEqual(f["spam messages"], TRAINED + 1)  # the probe, taken out
        self.assertEqual(f["passed messages waiting"], 2)
        left = dovecot.pop3("learner")
        self.assertEqual(left.stat()[0], 2)
        left.quit()

        m = self.imap()
        boxes = [re.search(rb'"([^"]*)"$|(\S+)$', l) for l in m.list()[1]]
        names = [(b.group(1) or b.group(2)).decode() for b in boxes if b]
        spam_box = next(n for n in names if n.upper() != "INBOX")
        self.assertEqual(m.select('"%s"' % spam_box)[0], "OK")
        typ, data = m.fetch("1", "(FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])")
        self.assertEqual(typ, "OK")
        self.assertIn(b"\\Flagged", data[0][0])
        self.assertIn(BytesHeaderParser().parsebytes(probe)["Message-ID"].encode(), data[0][1])

        # Filing a message into the spam box trains it; filing it again counts nothing.
        self.assertEqual(m.append('"%s"' % spam_box, "(\\Flagged)", None, filed)[0], "OK")
        self.assertEqual(self.figures()["spam messages"], TRAINED + 2)
        self.assertEqual(m.append('"%s"' % spam_box, "(\\Flagged)", None, filed)[0], "OK")
        self.assertEqual(self.figures()["spam messages"], TRAINED + 2)

        # Clearing the flag of the probe takes it out of the spam and trains it as ham.
        m.select('"%s"' % spam_box)
        self.assertEqual(m.store("1", "-FLAGS", "(\\Flagged)")[0], "OK")
        f = self.figures()
        self.assertEqual(f["spam messages"], TRAINED + 1)
        self.assertEqual(f["ham messages"], TRAINED + 1)
        m.logout()

        # USE_LEARN 0: nothing is scored, nothing is trained.
        self.o.stop()
        self.o.set_dword("USE_LEARN", 0)
        self.o.start()
        m = self.imap()
        self.assertEqual(m.append('"%s"' % spam_box, None, None, spam[TRAINED + 40])[0], "OK")
        m.logout()
        self.assertEqual(self.figures()["spam messages"], TRAINED + 1)


if __name__ == "__main__":
    unittest.main()
