"""The whole program under load for ORVANTA_LOAD_SECONDS (60 in make test, 600 in make soak):
twenty IMAP sessions on its store (APPEND, FETCH, STORE, EXPUNGE), a POP3 session through the
proxy every second against Dovecot with new corpus mail (spam taken out into the store), and
mail relayed through the SMTP proxy to an aiosmtpd server, all at once. No request may fail, no
message may be lost, the open descriptors must not grow and the resident memory must stay flat
after the warm-up; the figures are printed."""
import imaplib
import os
import poplib
import random
import smtplib
import statistics
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from test_pipeline_flow import rules_tool, wire_retr, SENDER, SUBJECT  # noqa: E402
import test_crash_safety as crash  # noqa: E402  (a module: its test class must not run here)
from test_crash_safety import tagged, tag_of, store_files  # noqa: E402
from test_imap_load import make_message  # noqa: E402
from test_smtp_proxy import add_account, message  # noqa: E402
from dovecot import Dovecot  # noqa: E402
import smtp_server  # noqa: E402
from smtp_server import SmtpServer  # noqa: E402

SECONDS = float(os.environ.get("ORVANTA_LOAD_SECONDS", "60"))
IMAP_SESSIONS = 20
USER = "load"
PASSWORD = "pw-load"
SAMPLE_SECONDS = 2.0
# Memory may grow this much from the end of the warm-up to the end of the run: allocator pools
# of the session threads and caches settle at different moments; a leak per session or per
# command grows without bound over the soak's ten minutes.
RSS_SLACK_KB = 6 * 1024
RSS_SLACK_SHARE = 0.05


def proc_figures(pid):
    """(open descriptors, VmRSS in kB) of a process."""
    fds = len(os.listdir("/proc/%d/fd" % pid))
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return fds, int(line.split()[1])
    raise AssertionError("no VmRSS for %d" % pid)


def sanitized(pid):
    """Whether the program carries AddressSanitizer, whose quarantine holds freed memory back."""
    with open("/proc/%d/maps" % pid) as f:
        return "asan" in f.read()


@unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python (use /usr/bin/python3)")
class LoadTest(unittest.TestCase):
    def setUp(self):
        self.dovecot = Dovecot({USER: PASSWORD}, protocols=("pop3",))
        self.dovecot.start()
        self.addCleanup(self.dovecot.stop)
        self.smtp = SmtpServer().start()
        self.addCleanup(self.smtp.stop)
        # pick_corpus: corpus mail with a sender each, every third sender blocked.
        self.pool = crash.CrashSafety.pick_corpus(self, 45)
        self.o = Orvanta()
        # A small quarantine, so that a sanitizer build's memory shows growth rather than the
        # quarantine filling up.
        asan = os.environ.get("ASAN_OPTIONS", "")
        self.o.env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "quarantine_size_mb=8:thread_local_quarantine_size_kb=64"
        data = os.path.join(self.o.home, "user")
        os.makedirs(data, exist_ok=True)
        priv = os.path.join(data, "private.flt")
        rules_tool("rule", priv, str(SUBJECT), "cheap watches", "Junk", "0")
        for _data, sender, spam in self.pool:
            if spam:
                rules_tool("rule", priv, str(SENDER), sender, "Junk", "0")
        rules_tool("folder", data + "/", "Junk")
        # The worm detector deletes and keeps nothing; left out, every message has a place to be.
        self.o.set_dword("FILTER_PRIORITY", 1)
        add_account(self.o, "00000001", "load@example.org", "127.0.0.1", self.smtp.port)
        self.data = data
        self.o.start(wait_for="IMAP server listening on port")
        self.addCleanup(self.o.stop)
        self.stop = threading.Event()
        self.errors = []
        self.lock = threading.Lock()
        self.counts = {"imap": 0, "pop3": 0, "smtp": 0}

    def fail_with(self, what, exc):
        with self.lock:
            self.errors.append("%s: %r" % (what, exc))
        self.stop.set()

    def count(self, what):
        with self.lock:
            self.counts[what] += 1

    # -- the three kinds of client ---------------------------------------------------------------
    def imap_worker(self, index):
        rnd = random.Random(index)
        folder = "Load%02d" % index

        def ok(reply, what):
            typ, data = reply
            if typ != "OK":
                raise AssertionError("%s %s: %s %r" % (folder, what, typ, data))
            self.count("imap")
            return data

        try:
            m = imaplib.IMAP4("127.0.0.1", self.o.imap_port, timeout=60)
            ok(m.login("user", "pw"), "LOGIN")
            ok(m.create(folder), "CREATE")
            ok(m.select(folder), "SELECT")
            held = 0
            n = 0
            while not self.stop.is_set():
                n += 1
                ok(m.append(folder, "(\\Flagged)", None, make_message("w%d-%d@load" % (index, n),
                                                                      rnd.randint(200, 30000))), "APPEND")
                held += 1
                count = int(ok(m.select(folder), "SELECT")[0])
                if count != held:
                    raise AssertionError("%s holds %d messages, %d expected" % (folder, count, held))
                ok(m.fetch("1:*", "(UID FLAGS RFC822.SIZE)"), "FETCH")
                ok(m.fetch(str(rnd.randint(1, count)), "(BODY.PEEK[HEADER.FIELDS (Subject)] BODY[]<0.500>)"), "FETCH")
                ok(m.store(str(rnd.randint(1, count)), "+FLAGS", "(\\Seen)"), "STORE")
                if held >= 4:
                    ok(m.store("1:2", "+FLAGS.SILENT", "(\\Deleted)"), "STORE")
                    ok(m.expunge(), "EXPUNGE")
                    held -= 2
                if n % 5 == 0:
                    # The spam box the POP3 side fills, read alongside.
                    ok(m.select("Junk", readonly=True), "EXAMINE")
                    ok(m.fetch("1:*", "(FLAGS)"), "FETCH")
                    ok(m.select(folder), "SELECT")
            m.logout()
        except Exception as exc:  # noqa: BLE001 - every failure counts
            self.fail_with("IMAP session %d" % index, exc)

    def pop3_feeder(self):
        added = {}        # tag -> spam?
        downloaded = set()
        rounds = 0
        try:
            next_start = time.time()
            while not self.stop.is_set():
                for _ in range(2):
                    body, _sender, spam = self.pool[len(added) % len(self.pool)]
                    tag = "p%05d" % len(added)
                    added[tag] = spam
                    self.dovecot.add_message(USER, tagged(tag, body))
                p = poplib.POP3("127.0.0.1", self.o.pop3_port, timeout=60)
                p.user("%s#127.0.0.1#%d" % (USER, self.dovecot.pop3_port))
                p.pass_(PASSWORD)
                for n in range(1, p.stat()[0] + 1):
                    tag = tag_of(wire_retr(p, n))
                    if added.get(tag, True):
                        raise AssertionError("round %d: %s offered to the client" % (rounds, tag))
                    downloaded.add(tag)
                    p.dele(n)
                p.quit()
                rounds += 1
                self.count("pop3")
                next_start += 1.0
                self.stop.wait(max(0.0, next_start - time.time()))
            self.pop3_added, self.pop3_downloaded = added, downloaded
        except Exception as exc:  # noqa: BLE001
            self.fail_with("POP3 round %d" % rounds, exc)

    def smtp_sender(self):
        sent = 0
        try:
            while not self.stop.is_set():
                c = smtplib.SMTP("127.0.0.1", self.o.smtp_port, timeout=60)
                c.helo("load.example")
                for _ in range(3):
                    c.sendmail("load@example.org", ["friend@example.net"],
                               message("load %d" % sent, [b"relayed under load", b"line %d" % sent],
                                       sender="load@example.org"))
                    sent += 1
                    self.count("smtp")
                c.quit()
                self.stop.wait(0.2)
            self.smtp_sent = sent
        except Exception as exc:  # noqa: BLE001
            self.fail_with("SMTP message %d" % sent, exc)

    # -- the run ---------------------------------------------------------------------------------
    def test_load(self):
        pid = self.o.proc.pid
        idle = proc_figures(pid)
        threads = [threading.Thread(target=self.imap_worker, args=(i,)) for i in range(1, IMAP_SESSIONS + 1)]
        threads += [threading.Thread(target=self.pop3_feeder), threading.Thread(target=self.smtp_sender)]
        for t in threads:
            t.start()
        samples = []   # (seconds since start, fds, rss kB)
        started = time.time()
        while time.time() - started < SECONDS and not self.stop.is_set():
            time.sleep(SAMPLE_SECONDS)
            samples.append((time.time() - started,) + proc_figures(pid))
        self.stop.set()
        for t in threads:
            t.join(120)
            self.assertFalse(t.is_alive(), "a client did not end")
        self.assertEqual(self.errors, [])
        elapsed = time.time() - started
        self.assertIsNone(self.o.proc.poll(), "orvanta ended under load")

        # Every message of the POP3 side is in the client's download or in the store, never both.
        stored = {tag_of(d) for d in store_files(self.data).values()} - {None}
        for tag, spam in self.pop3_added.items():
            if spam:
                self.assertIn(tag, stored, "spam %s is nowhere" % tag)
            else:
                self.assertIn(tag, self.pop3_downloaded, "clean %s is nowhere" % tag)
                self.assertNotIn(tag, stored, "clean %s was stored" % tag)
        self.assertEqual(len(self.smtp.wait_messages(self.smtp_sent, timeout=30)), self.smtp_sent)

        # Once every client has gone the descriptors are those of the idle program again.
        deadline = time.time() + 20
        after = proc_figures(pid)
        while after[0] > idle[0] and time.time() < deadline:
            time.sleep(0.5)
            after = proc_figures(pid)

        warm = [s for s in samples if s[0] >= min(30.0, elapsed / 4)]
        self.assertGreaterEqual(len(warm), 4, "too few samples after the warm-up")
        fds = [s[1] for s in warm]
        rss = [s[2] for s in warm]
        quarter = max(1, len(warm) // 4)
        rss_start = statistics.median(rss[:quarter])
        rss_end = statistics.median(rss[-quarter:])
        asan = sanitized(pid)
        print("\nload for %.0f s%s: %d IMAP commands, %d POP3 sessions (%d messages, %d taken out), %d mails relayed"
              % (elapsed, " (AddressSanitizer build)" if asan else "", self.counts["imap"], self.counts["pop3"],
                 len(self.pop3_added), sum(self.pop3_added.values()), self.smtp_sent))
        print("open descriptors: idle %d, under load %d..%d (first quarter max %d, last quarter max %d), after %d"
              % (idle[0], min(fds), max(fds), max(fds[:quarter]), max(fds[-quarter:]), after[0]))
        print("VmRSS kB: idle %d, after warm-up %d, end %d (median of first and last quarter), peak %d, after %d"
              % (idle[1], rss_start, rss_end, max(rss), after[1]))
        sys.stdout.flush()

        self.assertLessEqual(after[0], idle[0], "descriptors left open after the clients went")
        # Under load the count moves with the connections in progress (20 IMAP sessions, a POP3
        # session and its server line, an SMTP session and its server line).
        self.assertLessEqual(max(fds[-quarter:]), max(fds[:quarter]) + 4, "descriptors grow under load")
        slack = RSS_SLACK_KB + RSS_SLACK_SHARE * rss_start
        if asan:
            slack *= 4   # the sanitizer's own bookkeeping grows with the allocations it has seen
        self.assertLessEqual(rss_end - rss_start, slack, "resident memory grows under load")


if __name__ == "__main__":
    unittest.main()
