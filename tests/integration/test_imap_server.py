"""The IMAP server against real clients: a raw socket client for exact replies and Python's
imaplib, over a store in a temporary directory served by tests/harborage's imap_host."""
import imaplib
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.path.join(os.environ.get("ORVANTA_BINARY_DIR", "build"), "bin")
NOT_IMPLEMENTED = "아직 구현하지 않은 명령어입니다.".encode("cp949")
NO_CREATE = "Outlook 버전은 폴더 생성을 지원하지 않습니다.".encode("cp949")


def message(subject, sender="alice@example.com", body="hello\r\n", extra=""):
    return (f"From: Alice <{sender}>\r\nTo: Bob <bob@example.org>\r\nSubject: {subject}\r\n"
            f"Date: Thu, 22 Aug 2002 08:17:21 +0000\r\nMessage-ID: <{subject}@example.com>\r\n{extra}"
            f"\r\n{body}").encode()


class Host:
    """imap_host on a store root; collects the notifications it prints."""

    def __init__(self, root, *args):
        self.root = root
        self.proc = subprocess.Popen([os.path.join(BIN, "imap_host"), root, *args], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        if not line.startswith("PORT "):
            raise RuntimeError("imap_host did not start: " + line + self.proc.stderr.read().decode())
        self.port = int(line.split()[1])
        self.pending = b""

    def notifications(self, wait=0.5):
        """Every notification printed so far, waiting up to `wait` seconds for more."""
        fd = self.proc.stdout.fileno()
        deadline = time.time() + wait
        while True:
            ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.time()))
            if not ready:
                break
            data = os.read(fd, 65536)
            if not data:
                break
            self.pending += data
        *lines, self.pending = self.pending.split(b"\n")
        return lines

    def stop(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise
        finally:
            self.proc.stdout.close()
            self.proc.stderr.close()


class Raw:
    """A line client that keeps literals inside the line they belong to."""
    opened = []

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.buf = b""
        Raw.opened.append(self)

    def _fill(self):
        data = self.sock.recv(65536)
        if not data:
            raise EOFError
        self.buf += data

    def line(self):
        while b"\r\n" not in self.buf:
            self._fill()
        line, self.buf = self.buf.split(b"\r\n", 1)
        m = re.search(rb"\{(\d+)\}$", line)
        if m:
            n = int(m.group(1))
            while len(self.buf) < n:
                self._fill()
            line += b"\r\n" + self.buf[:n]
            self.buf = self.buf[n:]
            line += self.line()
        return line

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def cmd(self, tag, text):
        """Sends one command and returns (untagged lines, tagged line)."""
        self.send(f"{tag} {text}\r\n" if isinstance(text, str) else tag.encode() + b" " + text + b"\r\n")
        return self.until(tag)

    def until(self, tag):
        untagged = []
        for _ in range(100000):
            line = self.line()
            if line.startswith(tag.encode() + b" "):
                return untagged, line
            untagged.append(line)
        raise AssertionError("no tagged reply")

    def close(self):
        self.sock.close()


class ImapServerTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orvanta-imap-")
        self.root = os.path.join(self.tmp, "store")
        os.makedirs(os.path.join(self.root, "INBOX"))
        self.hosts = []
        self.host = self.start()

    def tearDown(self):
        for c in Raw.opened:
            c.close()
        Raw.opened.clear()
        for h in self.hosts:
            h.stop()
        shutil.rmtree(self.tmp)

    def start(self, *args):
        h = Host(self.root + "/", *args)
        self.hosts.append(h)
        return h

    def drop(self, folder, count, **kw):
        """Puts message files into a folder directly; the next rescan adopts them."""
        d = os.path.join(self.root, folder)
        os.makedirs(d, exist_ok=True)
        for i in range(1, count + 1):
            with open(os.path.join(d, "mesg%08d.msg" % i), "wb") as f:
                f.write(message(f"m{i}", sender=f"user{i}@example.com", **kw))

    def validity(self, folder):
        """The UID validity a folder should show: its index's birth time."""
        out = subprocess.run(["stat", "-c", "%W", os.path.join(self.root, folder, "mail.qlt")],
                             capture_output=True, text=True, check=True).stdout
        return int(out) & 0xFFFFFFFF

    def login(self):
        c = Raw(self.host.port)
        self.assertEqual(c.line(), b"* OK localhost IMAP4rev1 v1.0 server ready")
        _, tagged = c.cmd("a0", "login anyone anything")
        self.assertEqual(tagged, b"a0 OK LOGIN completed")
        return c

    def test_session_core(self):
        c = Raw(self.host.port)
        self.assertEqual(c.line(), b"* OK localhost IMAP4rev1 v1.0 server ready")
        self.assertEqual(c.cmd("a1", "SELECT INBOX"), ([], b"a1 BAD " + NOT_IMPLEMENTED))
        self.assertEqual(c.cmd("a2", "capability"), ([b"* CAPABILITY IMAP4rev1 UNSELECT"], b"a2 OK CAPABILITY completed"))
        self.assertEqual(c.cmd("a3", "NOOP"), ([], b"a3 OK NOOP completed"))
        self.assertEqual(c.cmd("a4", "LOGIN kim pw")[1], b"a4 OK LOGIN completed")
        self.assertEqual(c.cmd("a5", "LOGIN kim pw")[1], b"a5 BAD " + NOT_IMPLEMENTED)
        self.assertEqual(c.cmd("a6", "UID FETCH 1:* FLAGS")[1], b"a6 BAD " + NOT_IMPLEMENTED)
        # A lone tag and an overlong line get no answer; the next command is answered normally.
        c.send("lonely\r\n" + "x" * 1200 + "\r\n")
        self.assertEqual(c.cmd("a7", "NOOP"), ([], b"a7 OK NOOP completed"))
        self.assertEqual(c.cmd("a8", "LOGOUT"), ([b"* BYE IMAP4rev1 Server logging out"], b"a8 OK LOGOUT completed"))
        with self.assertRaises(EOFError):
            c.line()

    def test_local_only(self):
        # 127.0.0.2 is this machine too, but only 127.0.0.1 counts as local.
        def greeting(port):
            s = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=("127.0.0.2", 0))
            try:
                return s.recv(100)
            finally:
                s.close()
        self.assertEqual(greeting(self.host.port), b"")
        # Served from every address, another address must give a password at LOGIN: while
        # none is set, it is refused at once.
        anyone = self.start("--any-peer")
        self.assertEqual(greeting(anyone.port), b"")
        guarded = self.start("--any-peer", "--password", "pw")
        self.assertTrue(greeting(guarded.port).startswith(b"* OK localhost"))

    def test_twenty_sessions_then_the_next_is_closed(self):
        clients = [Raw(self.host.port) for _ in range(20)]
        for c in clients:
            self.assertTrue(c.line().startswith(b"* OK"))
        extra = Raw(self.host.port)
        with self.assertRaises((EOFError, ConnectionResetError)):
            extra.line()
        extra.close()
        # A slot freed by a client that left is taken by the next one.
        clients[0].cmd("z", "LOGOUT")
        clients[0].close()
        time.sleep(0.2)
        again = Raw(self.host.port)
        self.assertTrue(again.line().startswith(b"* OK"))
        for c in clients[1:] + [again]:
            c.close()

    def test_select_examine_noop_and_status(self):
        self.drop("INBOX", 3)
        c = self.login()
        c.cmd("s1", "SELECT INBOX")
        c.cmd("s2", "STORE 1,3 +FLAGS.SILENT (\\Seen)")
        untagged, tagged = c.cmd("s3", "SELECT \"INBOX\"")
        self.assertEqual(untagged, [b"* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)", b"* 3 EXISTS",
                                    b"* 3 RECENT", b"* OK [UNSEEN 2] Message 2 is the first unseen.",
                                    b"* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)] No user defined flags",
                                    b"* OK [UIDVALIDITY %d] UIDs valid" % self.validity("INBOX"),
                                    b"* OK [UIDNEXT 4] Predicted next UID"])
        self.assertEqual(tagged, b"s3 OK [READ-WRITE] SELECT completed.")
        c.cmd("s4", "STORE 2 +FLAGS.SILENT (\\Seen)")
        untagged, tagged = c.cmd("s5", "EXAMINE inbox")
        self.assertEqual(untagged[2], b"* OK [UNSEEN 0]")
        self.assertEqual(untagged[3], b"* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)")
        self.assertEqual(tagged, b"s5 OK [READ-ONLY] EXAMINE completed.")
        self.assertEqual(c.cmd("s6", "EXAMINE")[1], b"s6 BAD parsing error")
        self.assertEqual(c.cmd("s7", "SELECT")[1], b"s7 NO SELECT parsing error")
        self.assertEqual(c.cmd("s8", "NOOP"), ([b"* 3 RECENT", b"* 3 EXISTS"], b"s8 OK NOOP completed"))
        self.drop("Other", 2)
        untagged, tagged = c.cmd("s9", "STATUS Other (UIDNEXT MESSAGES UNSEEN UIDVALIDITY)")
        self.assertEqual(untagged, [b"* STATUS Other (UIDNEXT 3 MESSAGES 2 UNSEEN 2 UIDVALIDITY %d )"
                                    % self.validity("Other")])
        self.drop("My box", 1)
        self.assertEqual(c.cmd("s9q", 'STATUS "My box" (MESSAGES)')[0], [b'* STATUS "My box" (MESSAGES 1 )'])
        # The index lost: UIDs start over under another validity (birth times count seconds).
        before = self.validity("Other")
        time.sleep(1.1)
        os.remove(os.path.join(self.root, "Other", "mail.qlt"))
        untagged, _ = c.cmd("s9b", "STATUS Other (UIDVALIDITY UIDNEXT)")
        self.assertEqual(untagged, [b"* STATUS Other (UIDVALIDITY %d UIDNEXT 3 )" % self.validity("Other")])
        self.assertNotEqual(self.validity("Other"), before)
        # STATUS leaves the selected folder's numbering alone.
        untagged, _ = c.cmd("s10", "FETCH 3 (UID)")
        self.assertEqual(untagged, [b"* 3 FETCH (UID 3 )"])

    def test_fetch_items(self):
        self.drop("INBOX", 3)
        c = self.login()
        c.cmd("f0", "SELECT INBOX")
        untagged, tagged = c.cmd("f1", "FETCH 1:* FLAGS")
        self.assertEqual(untagged, [b"* %d FETCH (FLAGS (\\Recent ) )" % i for i in (1, 2, 3)])
        untagged, _ = c.cmd("f2", "FETCH 1:* (FLAGS)")
        self.assertEqual(untagged, [b"* %d FETCH (FLAGS () )" % i for i in (1, 2, 3)])
        self.assertEqual(c.cmd("f3", "FETCH 3:1 FLAGS"), ([], b"f3 OK FETCH completed."))
        self.assertEqual(c.cmd("f4", "UID FETCH 2:* (UID)"), ([b"* 2 FETCH (UID 2 )", b"* 3 FETCH (UID 3 )"],
                                                              b"f4 OK UID FETCH completed."))
        self.assertEqual(c.cmd("f5", "FETCH 1 UI")[1], b"f5 BAD parsing error")
        size = os.path.getsize(os.path.join(self.root, "INBOX", "mesg00000001.msg"))
        c.cmd("f6", "STORE 1 +FLAGS.SILENT (\\Seen)")
        self.assertEqual(c.cmd("f7", "FETCH 1 (UID RFC822.SIZE FLAGS)")[0],
                         [b"* 1 FETCH (UID 1 RFC822.SIZE %d FLAGS (\\Seen ) )" % size])

        untagged, _ = c.cmd("f8", "FETCH 2 (BODY.PEEK[HEADER.FIELDS (Subject From)])")
        fields = b"From: Alice <user2@example.com>\r\nSubject: m2\r\n\r\n"
        self.assertEqual(untagged, [b"* 2 FETCH (BODY[HEADER.FIELDS (Subject From)] {%d}\r\n" % len(fields)
                                    + fields + b" )"])
        self.assertEqual(c.cmd("f9", "FETCH 2 (FLAGS)")[0], [b"* 2 FETCH (FLAGS () )"])
        # Field names may come as quoted strings too.
        untagged, _ = c.cmd("f8q", 'FETCH 2 (BODY.PEEK[HEADER.FIELDS ("Subject" From)])')
        self.assertEqual(untagged, [b'* 2 FETCH (BODY[HEADER.FIELDS ("Subject" From)] {%d}\r\n' % len(fields)
                                    + fields + b" )"])
        untagged, _ = c.cmd("f10", "FETCH 2 (BODY[HEADER.FIELDS.NOT (From)])")
        self.assertEqual(untagged, [b"* 2 FETCH (BODY[HEADER.FIELDS.NOT (From)] {2}\r\n\r\n )"])
        self.assertEqual(c.cmd("f11", "FETCH 2 (FLAGS)")[0], [b"* 2 FETCH (FLAGS (\\Seen ) )"])

        with open(os.path.join(self.root, "INBOX", "mesg00000003.msg"), "rb") as f:
            raw = f.read()
        untagged, _ = c.cmd("f12", "FETCH 3 (RFC822)")
        self.assertEqual(untagged, [b"* 3 FETCH (RFC822 {%d}\r\n" % len(raw) + raw + b" )"])
        untagged, _ = c.cmd("f13", "FETCH 3 (ENVELOPE)")
        self.assertEqual(untagged, [b'* 3 FETCH (ENVELOPE ("Thu, 22 Aug 2002 08:17:21 +0000" "m3" '
                                    b'(("Alice" NIL "user3" "example.com")) (("Alice" NIL "user3" "example.com")) '
                                    b'(("Alice" NIL "user3" "example.com")) (("Bob" NIL "bob" "example.org")) '
                                    b'(("Bob" NIL "bob" "example.org")) NIL NIL "<m3@example.com>") )'])
        untagged, _ = c.cmd("f14", "FETCH 1 (INTERNALDATE)")
        self.assertRegex(untagged[0], rb'^\* 1 FETCH \(INTERNALDATE "\d\d-[A-Z][a-z]{2}-\d{4} \d\d:\d\d:\d\d \+0000" \)$')

    def test_store_feedback_expunge_and_copy(self):
        self.drop("INBOX", 4)
        c = self.login()
        c.cmd("t0", "SELECT INBOX")
        self.host.notifications(0.2)
        # Taking \Flagged off a message that never had it tells nothing about its sender.
        untagged, tagged = c.cmd("t1", "STORE 2 -FLAGS (\\Flagged)")
        self.assertEqual(untagged, [b"* 2 FETCH (FLAGS (\\Recent ) UID 2)"])
        self.assertEqual(tagged, b"t1 OK STORE completed.")
        self.assertEqual(self.host.notifications(0.3), [])
        c.cmd("t1b", "STORE 2:3 +FLAGS.SILENT (\\Flagged)")
        self.assertEqual(c.cmd("t1c", "STORE 2 -FLAGS (\\Flagged)")[0], [b"* 2 FETCH (FLAGS (\\Recent ) UID 2)"])
        self.assertEqual(self.host.notifications(), [b"NOTIFY SPAM|PASS|mesg00000002.msg|user2@example.com"])
        self.assertEqual(c.cmd("t2", "STORE 1 +FLAGS.SILENT (\\Seen)"), ([], b"t2 OK STORE completed."))
        self.assertEqual(self.host.notifications(0.3), [])
        # Replacing the flags of a flagged message by \Seen alone also takes \Flagged away.
        c.cmd("t3", "STORE 3 FLAGS.SILENT (\\Seen)")
        self.assertEqual(self.host.notifications(), [b"NOTIFY SPAM|PASS|mesg00000003.msg|user3@example.com"])
        c.cmd("t3b", "STORE 3 FLAGS.SILENT (\\Seen)")
        self.assertEqual(self.host.notifications(0.3), [])
        self.assertEqual(c.cmd("t4", "STORE 9 +FLAGS (\\Seen)")[1], b"t4 BAD No Exist UID")
        self.assertEqual(c.cmd("t5", "STORE 1 +FLAGS \\Seen")[1], b"t5 BAD flag parsing error")

        os.makedirs(os.path.join(self.root, "Keep"))
        self.assertEqual(c.cmd("t6", "COPY 1:2 Keep")[1], b"t6 OK COPY completed.")
        self.assertEqual(c.cmd("t6b", "COPY 1 Missing")[1], b"t6b OK COPY completed.")
        c.cmd("t7", "STORE 2,4 +FLAGS.SILENT (\\Deleted)")
        untagged, tagged = c.cmd("t8", "EXPUNGE")
        self.assertEqual(untagged, [b"* 4 EXPUNGE", b"* 2 EXPUNGE"])
        self.assertEqual(c.cmd("t9", "FETCH 1:* (UID)")[0], [b"* 1 FETCH (UID 1 )", b"* 2 FETCH (UID 3 )"])
        untagged, _ = c.cmd("t10", "SELECT Keep")
        self.assertIn(b"* 2 EXISTS", untagged)
        self.assertIn(b"* 2 RECENT", untagged)

    def test_missing_message_file_still_gives_a_whole_response(self):
        self.drop("INBOX", 2)
        c = self.login()
        c.cmd("g0", "SELECT INBOX")
        os.remove(os.path.join(self.root, "INBOX", "mesg00000001.msg"))
        untagged, tagged = c.cmd("g1", "FETCH 1:2 (UID RFC822.SIZE ENVELOPE BODY.PEEK[HEADER] RFC822)")
        self.assertEqual(tagged, b"g1 OK FETCH completed.")
        self.assertEqual(len(untagged), 2)
        self.assertTrue(untagged[0].startswith(b"* 1 FETCH (UID 1 RFC822.SIZE 0 ENVELOPE (NIL NIL"), untagged[0])
        self.assertTrue(untagged[0].endswith(b"RFC822 {0}\r\n )"), untagged[0])
        self.assertTrue(untagged[1].startswith(b"* 2 FETCH (UID 2 "))

    def test_curl_reads_the_store(self):
        self.drop("INBOX", 2)
        url = f"imap://127.0.0.1:{self.host.port}/INBOX"
        listing = subprocess.run(["curl", "-s", "--max-time", "20", "-u", "kim:pw", f"imap://127.0.0.1:{self.host.port}/"],
                                 capture_output=True, check=True).stdout
        self.assertIn(b'* LIST () "/" "INBOX"', listing)
        body = subprocess.run(["curl", "-s", "--max-time", "20", "-u", "kim:pw", url + "/;UID=2"],
                              capture_output=True, check=True).stdout
        with open(os.path.join(self.root, "INBOX", "mesg00000002.msg"), "rb") as f:
            self.assertEqual(body, f.read())

    def test_folders(self):
        c = self.login()
        self.assertEqual(c.cmd("l1", 'LIST "" ""'), ([b'* LIST () "/" ""'], b"l1 OK LIST completed."))
        self.assertEqual(c.cmd("l2", "CREATE INBOX/Old")[1], b"l2 OK CREATE completed.")
        self.assertEqual(c.cmd("l3", "CREATE Spam")[1], b"l3 OK CREATE completed.")
        self.assertEqual(c.cmd("l4", "CREATE Spam")[1], b"l4 BAD Can't create folder")
        self.assertEqual(c.cmd("l5", "CREATE")[1], b"l5 BAD CREATE Pasing Parameter")
        self.assertEqual(c.cmd("l6", 'LIST "" "*"')[0],
                         [b'* LIST () "/" "INBOX"', b'* LIST () "/" "INBOX/Old"', b'* LIST () "/" "Spam"'])
        self.assertEqual(c.cmd("l7", 'LIST "" %'), ([], b"l7 OK LIST completed."))
        self.assertEqual(c.cmd("l8", 'LIST "" ')[1], b"l8 BAD LIST parsing error.")
        c.cmd("l9", "UNSUBSCRIBE INBOX")
        self.assertEqual(c.cmd("l10", 'LSUB "" "*"')[0], [b'* LSUB () "/" "INBOX/Old"', b'* LSUB () "/" "Spam"'])
        self.assertEqual(c.cmd("l11", "DELETE inbox")[1], b"l11 NO Can't delete parameter.")
        self.assertEqual(c.cmd("l12", "RENAME Spam INBOX/Old")[1], b"l12 NO Can't rename folder")
        self.assertEqual(c.cmd("l13", "RENAME Spam Junk")[1], b"l13 OK RENAME completed.")
        self.assertEqual(c.cmd("l14", "DELETE Junk")[1], b"l14 OK DELETE completed.")
        self.assertEqual(c.cmd("l15", "SUBSCRIBE Nowhere")[1], b"l15 NO Can't subscribe folder")
        # Names that would leave the store are refused like missing folders.
        self.assertNotEqual(c.cmd("l16", "CREATE ../escape")[1], b"l16 OK CREATE completed.")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "escape")))

        other = self.start("--no-make-folder")
        c2 = Raw(other.port)
        c2.line()
        c2.cmd("m0", "LOGIN a b")
        self.assertEqual(c2.cmd("m1", "CREATE Fresh")[1], b"m1 BAD " + NO_CREATE)
        self.assertFalse(os.path.exists(os.path.join(self.root, "Fresh")))

    def test_append_keeps_the_next_command(self):
        os.makedirs(os.path.join(self.root, "Spam"))
        c = self.login()
        c.cmd("p0", "SELECT Spam")
        self.assertEqual(c.cmd("p1", "APPEND Spam (\\Seen) {0}")[1], b"p1 BAD invalid arg")
        # A literal beyond any mail is refused before the client sends a byte of it.
        self.assertEqual(c.cmd("p1b", "APPEND Spam {9000000000000000000}"),
                         ([], b"p1b NO [TOOBIG] message too large"))
        body = message("appended", sender="spammer@example.net")
        # The literal and the next command arrive in one packet: the command must survive.
        c.send(b"p2 APPEND Spam (\\Flagged \\Seen) \"05-Dec-2002 14:03:09 +0000\" {%d}\r\n" % len(body))
        self.assertEqual(c.line(), b"+ Ready")
        c.send(body + b"p3 NOOP\r\n")
        untagged, tagged = c.until("p2")
        self.assertEqual(untagged, [b"* 1 EXISTS", b"* 0 RECENT"])
        self.assertEqual(tagged, b"p2 OK APPEND completed.")
        self.assertEqual(c.until("p3")[1], b"p3 OK NOOP completed")
        self.assertEqual(self.host.notifications(), [b"NOTIFY APPEND|Spam|notuse|spammer@example.net"])
        untagged, _ = c.cmd("p4", "FETCH 1 (FLAGS BODY.PEEK[])")
        self.assertEqual(untagged, [b"* 1 FETCH (FLAGS (\\Seen \\Flagged ) BODY[] {%d}\r\n" % len(body) + body + b" )"])
        # The scratch file of the literal was moved into the folder, not left behind.
        self.assertEqual([n for n in os.listdir(self.root) if n.startswith("append")], [])

    def test_imaplib_round_trip_of_real_mail(self):
        corpus = subprocess.run(["bash", os.environ["ORVANTA_CORPUS_SCRIPT"]], check=True,
                                capture_output=True, text=True).stdout.strip().splitlines()
        base = corpus[-1] if corpus else os.path.expanduser("~/.cache/orvanta/spam-assassin/messages")
        files = []
        for dirpath, _, names in os.walk(base):
            files += [os.path.join(dirpath, n) for n in sorted(names) if n.endswith(".eml")]
        files = sorted(files)[::150][:40]
        self.assertGreater(len(files), 10)
        os.makedirs(os.path.join(self.root, "Spam"))
        m = imaplib.IMAP4("127.0.0.1", self.host.port)
        m.login("user", "pw")
        for path in files:
            with open(path, "rb") as f:
                typ, _ = m.append("Spam", None, None, f.read())
            self.assertEqual(typ, "OK")
        typ, data = m.select("Spam")
        self.assertEqual(int(data[0]), len(files))
        for i, path in enumerate(files, start=1):
            with open(path, "rb") as f:
                expected = f.read()
            typ, data = m.fetch(str(i), "(BODY.PEEK[])")
            self.assertEqual(data[0][1], expected, path)
        m.logout()
        self.assertEqual(len(self.host.notifications()), len(files))


if __name__ == "__main__":
    unittest.main(verbosity=2)
