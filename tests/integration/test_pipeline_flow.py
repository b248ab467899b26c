"""The filtering pipeline end to end: a throwaway Dovecot holding real and crafted messages,
filter rules written through the filter library, orvanta started headless with its own home
and ports, Python's poplib through the proxy, and the spam box read back through the IMAP
server with imaplib."""
import imaplib
import os
import poplib
import re
import shutil
import socket
import tempfile
import subprocess
import sys
import threading
import time
import unittest
from email.parser import BytesHeaderParser
from email.utils import getaddresses

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta, BIN  # noqa: E402
from dovecot import Dovecot, free_port  # noqa: E402
import corpus  # noqa: E402

CRLF = b"\r\n"
poplib._MAXLINE = 100000
imaplib._MAXLINE = 1000000
SENDER, SUBJECT, CONTENT, FILENAME = 0, 2, 3, 6
FOOTER_TYPE = b"Content-Type:text/html;charset=euc-kr"


def msg(sender, subject, body=b"Hello.\r\n", extra=b"", to=b"me@example.net"):
    if isinstance(body, list):
        body = CRLF.join(body) + CRLF
    return (b"From: " + sender + CRLF + b"To: " + to + CRLF + b"Subject: " + subject + CRLF +
            b"Message-ID: <" + subject.replace(b" ", b".")[:40] + b"." + sender + b">" + CRLF + extra + CRLF + body)


def mixed_with_attachment(sender, subject, filename):
    head = (b"From: " + sender + b"\r\nTo: me@example.net\r\nSubject: " + subject +
            b"\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"BOUND\"\r\n\r\n")
    return (head + b"--BOUND\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
            b"--BOUND\r\nContent-Type: application/octet-stream; name=\"" + filename + b"\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\nTVqQAAMAAAAEAAAA//8AALgAAAAA\r\n--BOUND--\r\n")


LONG_LINES = [bytes(65 + (i + j) % 26 for j in range(5000)) for i in range(4)] + [b"tail"]
BIG_TEXT = [b"viagra at the very start"] + [b"plain filler text line number %06d of a big message" % i
                                              for i in range(4200)]

# name -> (message, spam with default settings?, folder it is stored in)
CRAFTED = [
    ("clean", msg(b"friend@example.org", b"lunch tomorrow"), False, None),
    ("subject", msg(b"seller@shop.example", b"cheap watches today"), True, "Junk"),
    ("passed", msg(b"boss@trusted.example", b"cheap watches for the team"), False, None),
    ("online", msg(b"bulk@online.example", b"monthly news"), True, "INBOX"),
    ("attach", mixed_with_attachment(b"promo@ads.example", b"your prize", b"prize.exe"), True, "Junk"),
    ("body", msg(b"x@body.example", b"hello", [b"Buy VIAGRA online now", b"bye"]), True, "Junk"),
    ("big", msg(b"y@big.example", b"big text", BIG_TEXT), False, None),
    ("long", msg(b"z@long.example", b"cheap watches long lines", LONG_LINES), True, "Junk"),
    ("dots", msg(b"d@dots.example", b"cheap watches dots", [b".", b".x", b"end"]), True, "Junk"),
    ("worm", msg(b"w@worm.example", b"A funny game for you"), True, None),   # deleted at once
]


def wire_retr(p, n):
    """RETR through poplib, joined back as the message bytes the server sent (unstuffed)."""
    return CRLF.join(p.retr(n)[1]) + CRLF


class ImapHost:
    """The IMAP server over an orvanta data directory, with the pipeline's feedback."""

    def __init__(self, data_dir, env):
        self.proc = subprocess.Popen([os.path.join(BIN, "pipeline_imap_host"), data_dir], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        if not line.startswith("PORT "):
            self.proc.kill()
            raise AssertionError("pipeline_imap_host: %r %s" % (line, self.proc.stderr.read()))
        self.port = int(line.split()[1])
        self.notices = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.notices.append(raw.decode(errors="replace").strip())

    def client(self):
        m = imaplib.IMAP4("127.0.0.1", self.port, timeout=20)
        m.login("user", "pw")
        return m

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)
        err = self.proc.stderr.read()
        assert b"Sanitizer" not in err and b"runtime error:" not in err, err.decode(errors="replace")


def stored(imap, folder):
    """[(flags, bytes)] of a store folder, in order."""
    typ, _ = imap.select('"%s"' % folder)
    assert typ == "OK", folder
    typ, data = imap.fetch("1:*", "(FLAGS BODY.PEEK[])")
    out = []
    if typ != "OK" or data == [None]:
        return out
    for item in data:
        if isinstance(item, tuple):
            flags = re.search(rb"FLAGS \(([^)]*)\)", item[0]).group(1).split()
            out.append((flags, item[1]))
    return out


def without_footer(data):
    """The stored copy with the added footer part taken out again."""
    i = data.find(FOOTER_TYPE)
    if i < 0:
        return data
    start = data.rfind(b"\r\n--", 0, i) + 2
    end = data.find(b"\r\n--", i) + 2
    return data[:start] + data[end:]


def rules_tool(*args):
    r = subprocess.run([os.path.join(BIN, "pipeline_rules"), *args], capture_output=True, timeout=30)
    assert r.returncode == 0, r.stderr
    return r.stdout.decode(errors="replace")


class PipelineFlow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.corpus = cls.pick_corpus()
        cls.users = {u: "pw-" + u for u in ("main", "noprivate", "noonline", "level1", "full", "feedback")}
        cls.dovecot = Dovecot(cls.users, protocols=("pop3",))
        cls.messages = {}
        for user in cls.users:
            if user == "feedback":
                continue
            data = [m for _name, m, _s, _f in CRAFTED]
            if user == "main":
                data += [m for m, _spam in cls.corpus]
            cls.messages[user] = data
            cls.dovecot.add_messages(user, data)
        cls.dovecot.start()
        cls.instances = []

    @classmethod
    def tearDownClass(cls):
        for o in cls.instances:
            if o.proc and o.proc.poll() is None:
                o.proc.kill()
        cls.dovecot.stop()

    @classmethod
    def pick_corpus(cls):
        """Twelve corpus messages with sender, recipient and subject; the sender of every third
        one gets a private rule."""
        picked = []
        for path in corpus.messages("spam-2", limit=200) + corpus.messages("easy-ham-1", limit=200):
            data = corpus.read(path)
            h = BytesHeaderParser().parsebytes(data)
            frm = [a for _n, a in getaddresses([str(h.get("From", ""))]) if "@" in a]
            to = [a for _n, a in getaddresses([str(h.get("To", ""))]) if "@" in a]
            if not frm or not to or not str(h.get("Subject") or "").strip():
                continue
            low = data.lower()
            if any(w in low for w in (b"viagra", b"cheap watches", b"prize.exe", b"trusted.example",
                                       b"online.example")):
                continue
            if any(frm[0].lower() == f.lower() for _m, f in picked):
                continue
            picked.append((data, frm[0]))
            if len(picked) == 12:
                break
        assert len(picked) == 12
        cls.corpus_blocked = [f for i, (_m, f) in enumerate(picked) if i % 3 == 0]
        return [(m, any(b.lower() in f.lower() for b in cls.corpus_blocked)) for m, f in picked]

    # -- an orvanta with rules and settings -----------------------------------------------------
    def instance(self):
        """An orvanta whose home outlives stop(), so the store can be read afterwards."""
        root = tempfile.mkdtemp(prefix="orvanta-pipe-")
        self.addCleanup(shutil.rmtree, root, True)
        o = Orvanta(root)
        self.instances.append(o)
        return o

    def orvanta(self, settings=None, corpus_rules=False):
        o = self.instance()
        data = os.path.join(o.home, "user")
        os.makedirs(data, exist_ok=True)
        priv, online, pas = (os.path.join(data, n) for n in ("private.flt", "online.flt", "pass.flt"))
        rules_tool("rule", priv, str(SUBJECT), "cheap watches", "Junk", "0")
        rules_tool("rule", priv, str(FILENAME), "prize.exe", "Junk", "0")
        rules_tool("rule", priv, str(CONTENT), "viagra", "Junk", "0")
        rules_tool("rule", online, str(SENDER), "bulk@online.example", "Ignored", "0")
        rules_tool("pass", pas, "trusted.example")
        if corpus_rules:
            for f in self.corpus_blocked:
                rules_tool("rule", priv, str(SENDER), f, "Junk", "0")
        rules_tool("folder", data + "/", "Junk")
        for name, value in (settings or {}).items():
            o.set_dword(name, value)
        o.start()
        return o

    def login(self, o, user):
        p = poplib.POP3("127.0.0.1", o.pop3_port, timeout=60)
        p.user("%s#127.0.0.1#%d" % (user, self.dovecot.pop3_port))
        p.pass_(self.users[user])
        return p

    def direct(self, user):
        p = poplib.POP3("127.0.0.1", self.dovecot.pop3_port, timeout=60)
        p.user(user)
        p.pass_(self.users[user])
        return p

    def examine(self, o, user):
        """One log-in through the proxy: the messages the client sees, then QUIT."""
        p = self.login(o, user)
        count = p.stat()[0]
        seen = [wire_retr(p, n) for n in range(1, count + 1)]
        p.quit()
        return seen

    def store(self, o):
        host = ImapHost(os.path.join(o.home, "user"), o.env)
        try:
            m = host.client()
            result = {f: stored(m, f) for f in ("INBOX", "Junk")}
            m.logout()
        finally:
            host.stop()
        return result

    # -- the tests ---------------------------------------------------------------------------
    def test_default_flow_with_corpus(self):
        o = self.orvanta(corpus_rules=True)
        originals = self.messages["main"]
        direct = self.direct("main")
        sent = [wire_retr(direct, n) for n in range(1, len(originals) + 1)]
        uids = direct.uidl()[1]
        direct.quit()

        expected_spam = [s for _n, _m, s, _f in CRAFTED] + [s for _m, s in self.corpus]
        want_clean = [sent[i] for i, s in enumerate(expected_spam) if not s]
        seen = self.examine(o, "main")
        self.assertEqual(seen, want_clean)

        # Spam left the server at QUIT; a second log-in fetches nothing again.
        left = self.direct("main")
        self.assertEqual(left.stat()[0], len(want_clean))
        left.quit()
        p = self.login(o, "main")
        self.assertEqual(p.stat()[0], len(want_clean))
        self.assertEqual([l.split()[1] for l in p.uidl()[1]],
                         [u.split()[1] for i, u in enumerate(uids) if not expected_spam[i]])
        p.quit()
        self.assertEqual(o.output().count("Took "), 1, o.output())
        o.stop()

        box = self.store(o)
        want = {"INBOX": [], "Junk": []}
        for i, (name, _m, spam, folder) in enumerate(CRAFTED):
            if spam and folder:
                want[folder].append(sent[i])
        for j, (_m, spam) in enumerate(self.corpus):
            if spam:
                want["Junk"].append(sent[len(CRAFTED) + j])
        # The worm, deleted at once, leaves its deletion notice in the inbox instead.
        notices = [d for _f, d in box["INBOX"] if d.startswith(b"Return-Path: : ")]
        self.assertEqual(len(notices), 1, box["INBOX"])
        self.assertIn(b"From : w@worm.example", notices[0])
        box["INBOX"] = [(f, d) for f, d in box["INBOX"] if d not in notices]
        for folder in ("INBOX", "Junk"):
            got = box[folder]
            self.assertEqual(len(got), len(want[folder]), folder)
            for (flags, data), expect in zip(got, want[folder]):
                self.assertIn(b"\\Flagged", flags)
                self.assertIn(b"\\Recent", flags)
                self.assertNotIn(b"\\Seen", flags)
                self.assertEqual(without_footer(data), expect)
        junk = [d for _f, d in box["Junk"]]
        attach = sent[[n for n, *_ in CRAFTED].index("attach")]
        footered = [d for d in junk if FOOTER_TYPE in d]
        self.assertEqual(len(footered), 1)
        self.assertTrue(footered[0].endswith(b"\r\n--BOUND--\r\n"))
        self.assertEqual(without_footer(footered[0]), attach)
        self.assertIn(b"\r\n\r\n.\r\n.x\r\nend\r\n", b"".join(junk))       # ".." stored as "."
        self.assertTrue(any(LONG_LINES[0] + CRLF in d for d in junk))       # 5,000-byte lines whole

    def test_each_switch_disables_its_own_set(self):
        names = [n for n, *_ in CRAFTED]
        o = self.orvanta({"USE_PRIVATE": 0})
        seen = self.examine(o, "noprivate")
        o.stop()
        subjects = [re.search(rb"Subject: ([^\r]*)", s).group(1) for s in seen]
        # Only the online rule and the worm detector remain.
        self.assertNotIn(b"monthly news", subjects)
        self.assertNotIn(b"A funny game for you", subjects)
        for kept in ("subject", "attach", "body", "long", "dots", "clean", "passed", "big"):
            self.assertIn(CRAFTED[names.index(kept)][1].split(b"Subject: ")[1].split(CRLF)[0], subjects, kept)

        o = self.orvanta({"USE_ONLINE": 0})
        seen = self.examine(o, "noonline")
        o.stop()
        subjects = [re.search(rb"Subject: ([^\r]*)", s).group(1) for s in seen]
        self.assertIn(b"monthly news", subjects)
        self.assertNotIn(b"cheap watches today", subjects)
        self.assertNotIn(b"hello", subjects)          # the private body rule still works

    def test_worm_detector_at_level_two_only(self):
        o = self.orvanta({"FILTER_PRIORITY": 1})
        seen = self.examine(o, "level1")
        o.stop()
        self.assertTrue(any(b"Subject: A funny game for you" in s for s in seen))
        self.assertEqual(len(seen), len([c for c in CRAFTED if not c[2]]) + 1)

    def test_store_that_cannot_be_written_loses_nothing(self):
        o = self.orvanta()
        data = os.path.join(o.home, "user")
        # Both folders take no more messages: their file numbers are used up.
        for folder in ("INBOX", "Junk"):
            with open(os.path.join(data, folder, "mesg99999999.msg"), "wb") as f:
                f.write(b"x")
        seen = self.examine(o, "full")
        o.stop()
        subjects = [re.search(rb"Subject: ([^\r]*)", s).group(1) for s in seen]
        # Everything that would have been stored is offered instead; only the worm, which the
        # verdict deletes at once, is gone.
        self.assertEqual(len(seen), len(CRAFTED) - 1)
        self.assertNotIn(b"A funny game for you", subjects)
        d = self.direct("full")
        self.assertEqual(d.stat()[0], len(CRAFTED) - 1)
        d.quit()
        self.assertIn("could not be stored", o.output())

    def test_feedback_from_imap_append_and_store(self):
        o = self.instance()
        data = os.path.join(o.home, "user")
        os.makedirs(data, exist_ok=True)
        rules_tool("folder", data + "/", "Junk")
        o.set_dword("Auto_Spam", 1)
        o.set_dword("Auto_Pass", 1)
        host = ImapHost(data, o.env)
        try:
            m = host.client()
            spam = msg(b"Mass Mailer <mass@mailer.example>", b"offer")
            self.assertEqual(m.append('"Junk"', "(\\Flagged)", None, spam)[0], "OK")
            self.assertEqual(m.append('"Junk"', None, None, msg(b"MASS@mailer.example", b"again"))[0], "OK")
            m.select('"Junk"')
            self.assertEqual(m.store("1", "-FLAGS", "(\\Flagged)")[0], "OK")
            m.logout()
        finally:
            host.stop()
        rules = rules_tool("rules", os.path.join(data, "private.flt")).splitlines()
        mua = "MUA에서추가".encode("cp949").hex()
        self.assertEqual(rules, ["0|mass@mailer.example|Junk|%s|0" % mua])
        passes = rules_tool("passes", os.path.join(data, "pass.flt")).splitlines()
        self.assertEqual(passes, ["mass@mailer.example|%s" % "메일프로그램에서추가".encode("cp949").hex()])

        # "Auto_Spam" 0 headless: an unanswered prompt adds nothing and changes no setting.
        o.set_dword("Auto_Spam", 0)
        host = ImapHost(data, o.env)
        try:
            m = host.client()
            m.append('"Junk"', None, None, msg(b"other@mailer.example", b"third"))
            m.logout()
        finally:
            host.stop()
        self.assertEqual(len(rules_tool("rules", os.path.join(data, "private.flt")).splitlines()), 1)
        self.assertIn("0x0", o.query("Auto_Spam") or "0x0")


class FakePop3(threading.Thread):
    """A POP3 server holding two messages that drops the connection in the middle of the
    RETR of message 2 as long as `drop` is set. With `pipelining` it offers PIPELINING in its
    CAPA listing; `uids` replaces the UIDs uid-1, uid-2, ...; `slow_first` delays the answer
    to the first RETR by that many seconds."""

    def __init__(self, messages, pipelining=False, uids=None, slow_first=0):
        super().__init__(daemon=True)
        self.messages = messages
        self.pipelining = pipelining
        self.slow_first = slow_first
        self.uids = uids or [b"uid-%d" % (i + 1) for i in range(len(messages))]
        self.drop = True
        self.listing_fault = None   # "list-err", "uidl-cut" or "uidl-long", for the next sessions
        self.deleted = []
        self.commands = []
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.sock.settimeout(30)
        self.port = self.sock.getsockname()[1]
        self.running = True

    def run(self):
        while self.running:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                self.session(conn.makefile("rwb", buffering=0))

    def session(self, f):
        f.write(b"+OK fake\r\n")
        marked = []
        for _ in range(100 + 3 * len(self.messages)):
            line = f.readline()
            if not line:
                return
            cmd = line.strip().split(b" ")
            verb = cmd[0].upper()
            self.commands.append(line.strip())
            if verb == b"CAPA" and self.pipelining:
                f.write(b"+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n")
            elif verb in (b"USER", b"PASS", b"NOOP"):
                f.write(b"+OK\r\n")
            elif verb == b"LIST" and self.listing_fault == "list-err":
                f.write(b"-ERR [SYS/TEMP] try later\r\n")
            elif verb == b"UIDL" and self.listing_fault == "uidl-cut":
                f.write(b"+OK\r\n1 %s\r\n" % self.uids[0])
                return
            elif verb == b"UIDL" and self.listing_fault == "uidl-long":
                f.write(b"+OK\r\n1 %s\r\n2 %s\r\n.\r\n" % (self.uids[0], b"u" * 600))
            elif verb == b"LIST":
                f.write(b"+OK\r\n" + b"".join(b"%d %d\r\n" % (i + 1, len(m)) for i, m in enumerate(self.messages)) + b".\r\n")
            elif verb == b"UIDL":
                f.write(b"+OK\r\n" + b"".join(b"%d %s\r\n" % (i + 1, u) for i, u in enumerate(self.uids)) + b".\r\n")
            elif verb == b"RETR":
                n = int(cmd[1])
                body = self.messages[n - 1]
                if self.slow_first and n == 1:
                    time.sleep(self.slow_first)
                if n == 2 and self.drop:
                    f.write(b"+OK\r\n" + body[:len(body) // 2])
                    return
                f.write(b"+OK\r\n" + body + b".\r\n")
            elif verb == b"DELE":
                marked.append(int(cmd[1]))
                f.write(b"+OK\r\n")
            elif verb == b"QUIT":
                self.deleted += marked
                f.write(b"+OK bye\r\n")
                return
            else:
                f.write(b"-ERR\r\n")

    def stop(self):
        self.running = False
        self.sock.close()


class FakeServerCase(unittest.TestCase):
    """orvanta in front of a FakePop3, with the subject rule "cheap watches" filing into INBOX."""

    def start_orvanta(self, fake, **dwords):
        fake.start()
        self.addCleanup(fake.stop)
        root = tempfile.mkdtemp(prefix="orvanta-pipe-")
        self.addCleanup(shutil.rmtree, root, True)
        o = Orvanta(root)
        self.addCleanup(lambda: o.proc and o.proc.poll() is None and o.proc.kill())
        data = os.path.join(o.home, "user")
        os.makedirs(data, exist_ok=True)
        rules_tool("rule", os.path.join(data, "private.flt"), str(SUBJECT), "cheap watches", "INBOX", "0")
        for name, value in dwords.items():
            o.set_dword(name, value)
        o.start()
        return o, data

    @staticmethod
    def connect(o, fake):
        p = poplib.POP3("127.0.0.1", o.pop3_port, timeout=30)
        p.user("u#127.0.0.1#%d" % fake.port)
        return p

    @staticmethod
    def wait_deleted(fake):
        deadline = time.time() + 10
        while not fake.deleted and time.time() < deadline:
            time.sleep(0.1)

    @staticmethod
    def stored_inbox(o, data):
        """Stops orvanta and reads its INBOX back through the IMAP server."""
        o.stop()
        host = ImapHost(data, o.env)
        try:
            m = host.client()
            box = stored(m, "INBOX")
            m.logout()
        finally:
            host.stop()
        return [d for _f, d in box]


class DroppedRetr(FakeServerCase):
    def test_server_dropping_inside_retr_loses_nothing(self):
        spam = msg(b"s@x.example", b"cheap watches", [b"line %d" % i for i in range(2000)])
        fake = FakePop3([msg(b"a@x.example", b"first"), spam])
        o, data = self.start_orvanta(fake)
        p = self.connect(o, fake)
        try:
            p.pass_("pw")
            p.quit()
        except (poplib.error_proto, OSError, EOFError):
            pass
        hist = [n for n in os.listdir(data) if n.endswith(".his")]
        history = b"".join(open(os.path.join(data, n), "rb").read() for n in hist)
        self.assertIn(b"uid-1", history)
        self.assertNotIn(b"uid-2", history)        # examined again next time
        self.assertEqual(fake.deleted, [])
        self.assertFalse(os.listdir(os.path.join(data, "INBOX")) and
                         any(n.startswith("mesg") for n in os.listdir(os.path.join(data, "INBOX"))))

        fake.drop = False
        p = self.connect(o, fake)
        p.pass_("pw")
        self.assertEqual(p.stat()[0], 1)
        p.quit()
        self.wait_deleted(fake)
        self.assertEqual(fake.deleted, [2])
        self.assertEqual(self.stored_inbox(o, data), [spam])


class FailedListings(FakeServerCase):
    def test_a_failed_examination_keeps_the_history_and_the_session_in_step(self):
        first, second = msg(b"a@x.example", b"first"), msg(b"b@x.example", b"second")
        fake = FakePop3([first, second])
        fake.drop = False
        o, data = self.start_orvanta(fake)
        p = self.connect(o, fake)
        p.pass_("pw")
        p.quit()
        # A refused LIST, or a UIDL the connection cut, examines nothing: the history of both
        # messages must survive it, or the next log-in examines them again.
        for fault in ("list-err", "uidl-cut"):
            fake.listing_fault = fault
            p = self.connect(o, fake)
            with self.assertRaises(poplib.error_proto, msg=fault):
                p.pass_("pw")
            p.close()
        fake.listing_fault = None
        del fake.commands[:]
        p = self.connect(o, fake)
        p.pass_("pw")
        self.assertEqual(p.stat(), (2, len(first) + len(second)))
        p.quit()
        self.assertFalse([c for c in fake.commands if c.startswith(b"RETR")], fake.commands)

        # A UIDL line too long to read ends the listing; the rest is read past, so the
        # session stays in step and the message with no UID is examined and offered.
        fake.listing_fault = "uidl-long"
        del fake.commands[:]
        p = self.connect(o, fake)
        p.pass_("pw")
        self.assertEqual(p.stat(), (2, len(first) + len(second)))
        self.assertEqual(b"\r\n".join(p.retr(2)[1]) + b"\r\n", second)
        p.quit()
        # The examination's RETR of the message with no UID, then the client's own.
        self.assertEqual([c for c in fake.commands if c.startswith(b"RETR")], [b"RETR 2", b"RETR 2"])


class PipelinedRetr(FakeServerCase):
    def test_retrs_in_flight_each_message_judged_as_itself(self):
        """A server offering PIPELINING gets several RETRs at once; every answer must still be
        read as the message it belongs to, also around a UID the server lists twice."""
        count = 20
        spam = {3, 7, 8, 12, 15, 20}
        messages = [msg(b"m%d@x.example" % n, b"cheap watches %d" % n if n in spam else b"note %d" % n,
                        [b"line %d of message %d" % (i, n) for i in range(50 * n)]) for n in range(1, count + 1)]
        uids = [b"uid-%d" % n for n in range(1, count + 1)]
        uids[11] = uids[10]   # message 12 has the UID of message 11: it is only offered
        fake = FakePop3(messages, pipelining=True, uids=uids)
        fake.drop = False
        o, data = self.start_orvanta(fake)
        p = self.connect(o, fake)
        p.pass_("pw")
        offered = [n for n in range(1, count + 1) if n not in spam or n == 12]
        self.assertEqual(p.stat()[0], len(offered))
        for k, n in enumerate(offered, 1):
            self.assertEqual(wire_retr(p, k), messages[n - 1])
        p.quit()
        self.wait_deleted(fake)
        self.assertEqual(sorted(fake.deleted), [3, 7, 8, 15, 20])
        examination = fake.commands[:fake.commands.index(b"DELE 3")]
        self.assertEqual(examination.count(b"RETR 12"), 1)   # sent ahead, then dropped
        self.assertEqual(len([c for c in examination if c.startswith(b"RETR")]), count)
        self.assertEqual(self.stored_inbox(o, data), [messages[n - 1] for n in (3, 7, 8, 15, 20)])

    def test_what_goes_out_ahead_is_bounded_in_bytes(self):
        """When the time for the examination is up, the RETRs already out are read and dropped:
        with large messages only as many go out ahead as keep that short."""
        count = 12
        messages = [msg(b"m%d@x.example" % n, b"note %d" % n, [b"%06d" % i + b"x" * 94 for i in range(1000)])
                    for n in range(1, count + 1)]   # about 100 KB each
        fake = FakePop3(messages, pipelining=True, slow_first=1.5)
        fake.drop = False
        o, _data = self.start_orvanta(fake, EXAM_SECONDS=1)
        p = self.connect(o, fake)
        p.pass_("pw")
        self.assertEqual(p.stat()[0], 1)      # the first one is examined, the rest waits
        self.assertEqual(wire_retr(p, 1), messages[0])
        p.quit()
        first = fake.commands.index(b"RETR 1")
        examination = fake.commands[:fake.commands.index(b"RETR 1", first + 1)]   # up to the client's own
        # Message 1, then messages 2 and 3 ahead: a fourth would pass 256 KB out at once.
        self.assertEqual([c for c in examination if c.startswith(b"RETR")], [b"RETR 1", b"RETR 2", b"RETR 3"])
        o.stop()

    def test_temp_file_that_cannot_be_made_keeps_the_session_in_step(self):
        """The message whose RETR was answered is read past even when it cannot be written:
        otherwise its lines would reach the client as the answers to its own commands."""
        messages = [msg(b"m%d@x.example" % n, b"note %d" % n, [b"body line %d" % i for i in range(200)])
                    for n in range(1, 4)]
        for pipelining in (False, True):
            with self.subTest(pipelining=pipelining):
                fake = FakePop3(messages, pipelining=pipelining)
                fake.drop = False
                o, data = self.start_orvanta(fake)
                os.makedirs(os.path.join(data, "temp.mail"))   # opening it for writing fails
                p = self.connect(o, fake)
                self.assertTrue(p.pass_("pw").startswith(b"+OK"))
                self.assertEqual(p.stat(), (0, 0))   # nothing examined: all of it waits on the server
                self.assertEqual(p.noop(), b"+OK")
                self.assertTrue(p.quit().startswith(b"+OK bye"))
                self.assertIn("cannot create", o.output())
                os.rmdir(os.path.join(data, "temp.mail"))
                p = self.connect(o, fake)
                p.pass_("pw")
                self.assertEqual([wire_retr(p, n) for n in (1, 2, 3)], messages)
                p.quit()
                self.assertEqual(fake.deleted, [])
                o.stop()


if __name__ == "__main__":
    unittest.main()
