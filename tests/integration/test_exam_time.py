"""The examination at log-in is bounded by EXAM_SECONDS: what is not examined in time stays on
the server, unoffered and unrecorded, and later log-ins pick it up; nothing is lost or offered
twice."""
import os
import poplib
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from test_orvanta_instance import Orvanta  # noqa: E402
from dovecot import Dovecot  # noqa: E402

COUNT = 4000
LEFT = b"left for the next log-in"


def small(i):
    return (b"From: sender%d@example.org\r\nTo: me@example.net\r\nSubject: note %d\r\n"
            b"Message-ID: <n%d@example.org>\r\n\r\nHello number %d.\r\n" % (i, i, i, i))


class ExamTime(unittest.TestCase):
    def test_bounded_examination_delivers_everything_once(self):
        users = {"big": "pw-big"}
        with Dovecot(users, protocols=("pop3",)) as dc:
            dc.add_messages("big", [small(i) for i in range(COUNT)])
            root = tempfile.mkdtemp(prefix="orvanta-exam-")
            self.addCleanup(shutil.rmtree, root, True)
            o = Orvanta(root)
            o.set_dword("EXAM_SECONDS", 1)
            o.set_dword("USE_LEARN", 0)  # the time bound is tested, not the learning filter's speed
            o.start()
            try:
                # A loaded machine (a sanitizer build, tests side by side) examines fewer
                # messages a second, so more log-ins are allowed, within a bounded time.
                offered = []
                deadline = time.time() + 240
                for _ in range(400):
                    p = poplib.POP3("127.0.0.1", o.pop3_port, timeout=120)
                    p.user("big#127.0.0.1#%d" % dc.pop3_port)
                    p.pass_("pw-big")
                    uids = [line.split()[1] for line in p.uidl()[1]]
                    p.quit()
                    offered.append(uids)
                    if len(uids) == COUNT or time.time() > deadline:
                        break
                # Every message is offered once per log-in at most, and in the end all of them.
                for uids in offered:
                    self.assertEqual(len(uids), len(set(uids)))
                self.assertEqual(len(offered[-1]), COUNT)
                # What was offered once stays offered: the history keeps it.
                for earlier, later in zip(offered, offered[1:]):
                    self.assertTrue(set(earlier) <= set(later))
                stopped = o.output().count(LEFT.decode())
                # The log tells of every log-in that left messages, and only of those.
                self.assertEqual(stopped, sum(1 for u in offered if len(u) < COUNT), o.output()[-2000:])
            finally:
                o.stop()


if __name__ == "__main__":
    unittest.main()
