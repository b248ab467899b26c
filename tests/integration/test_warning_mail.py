"""The warning mail end to end: orvanta started headless with a mail client account whose
outgoing server is a real SMTP server (aiosmtpd on 127.0.0.1 port 25, where warnings go), a
POP3 server holding spam, and Python's poplib logging in through the proxy. The test reads
the exact mail the SMTP server received."""
import os
import poplib
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from test_pipeline_flow import FakePop3, msg, rules_tool, SUBJECT  # noqa: E402
from test_smtp_proxy import add_account  # noqa: E402
import smtp_server  # noqa: E402
from smtp_server import SmtpServer  # noqa: E402

FOOTER = ("\r\n-----------------------------------------------\r\n"
          "이 안내 메일은 Orvanta 스팸 차단 프로그램이 보냈습니다.\r\n"
          "스팸으로 분류된 메일은 Orvanta의 스팸 보관함에서 확인할 수 있습니다.\r\n").encode("cp949")
SUBJECT_LINE = "SUBJECT: [Orvanta] 스팸메일을 발송하지 마세요.".encode("cp949")
TEXTS = [b"first text", b"second text", "세 번째 경고입니다.\r\n.hidden line\r\n.\r\nafter the dot".encode("cp949")]


@unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python (use /usr/bin/python3)")
class WarningMailTests(unittest.TestCase):
    def setUp(self):
        try:
            self.smtp = SmtpServer(port=25).start()
        except Exception as e:   # port 25 taken or not permitted
            self.skipTest("cannot listen on 127.0.0.1:25 (%s)" % e)
        self.addCleanup(self.smtp.stop)
        root = tempfile.mkdtemp(prefix="orvanta-warn-")
        self.addCleanup(shutil.rmtree, root, True)
        self.o = Orvanta(root)
        self.addCleanup(self.o.stop)
        data = os.path.join(self.o.home, "user")
        os.makedirs(data, exist_ok=True)
        rules_tool("rule", os.path.join(data, "private.flt"), str(SUBJECT), "cheap watches", "Junk", "0")
        rules_tool("folder", data + "/", "Junk")
        for n, text in enumerate(TEXTS, 1):
            with open(os.path.join(data, "warn%d.dat" % n), "wb") as f:
                f.write(text)
        # The account's own port is not where warnings go.
        add_account(self.o, "00000001", "me@example.net", "127.0.0.1", 2525)

    def fetch(self, messages):
        fake = FakePop3(messages)
        fake.drop = False
        fake.start()
        self.addCleanup(fake.stop)
        p = poplib.POP3("127.0.0.1", self.o.pop3_port, timeout=60)
        p.user("u#127.0.0.1#%d" % fake.port)
        p.pass_("pw")
        count = p.stat()[0]
        p.quit()
        return count

    def test_spam_from_another_domain_gets_the_chosen_warning(self):
        self.o.set_dword("USE_WARN", 1)
        self.o.set_dword("Select_Warn", 2)
        self.o.start()
        count = self.fetch([
            msg(b"spammer@spam.example", b"cheap watches", to=b"me@example.net"),
            msg(b"colleague@example.net", b"cheap watches inside", to=b"me@example.net"),   # one domain
            msg(b"friend@other.example", b"lunch", to=b"me@example.net"),                  # not spam
        ])
        self.assertEqual(count, 1)
        got = self.smtp.wait_messages(1)
        time.sleep(0.5)
        self.assertEqual(len(self.smtp.messages), 1, [m.rcpt_tos for m in self.smtp.messages])
        mail = got[0]
        self.assertEqual(mail.helo, "localhost")
        self.assertEqual(mail.mail_from, "me@example.net")
        self.assertEqual(mail.rcpt_tos, ["spammer@spam.example"])
        # Headers, the empty line that ends them, the third text with its footer. The server
        # took the dot-stuffing out again: the lone "." line did not end the mail early.
        expected = (b"FROM: me@example.net\r\nTo: spammer@spam.example\r\n" + SUBJECT_LINE + b"\r\n\r\n" +
                    TEXTS[2] + FOOTER + b"\r\n")
        self.assertEqual(mail.content, expected)

    def test_no_warning_when_switched_off(self):
        self.o.set_dword("USE_WARN", 0)
        self.o.start()
        self.assertEqual(self.fetch([msg(b"spammer@spam.example", b"cheap watches", to=b"me@example.net")]), 0)
        time.sleep(0.5)
        self.assertEqual(self.smtp.messages, [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
