"""Nothing lost and no spam let through when things break: orvanta against a real Dovecot, with
rules that take spam out into the store.

- The line to the server is cut after the examination and before QUIT: the spam stays on the
  server, and the next log-in must neither offer it nor leave it there.
- What the server's deletions rely on is forced to disk first (seen with strace): the stored
  files and their directories before the QUIT goes out, and every file that is replaced by a
  rename (history, taken-out record, filter files) before its rename.
- orvanta is killed with SIGKILL at random moments of real sessions with corpus mail, again and
  again: every message stays on the server, in the client's download or in the store.
- The disk fills up while a spam message is stored: it stays on the server and the session
  goes on in step."""
import imaplib
import os
import poplib
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from email.parser import BytesHeaderParser
from email.utils import getaddresses

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta, BIN  # noqa: E402
from test_pipeline_flow import msg, rules_tool, wire_retr, without_footer, SENDER, SUBJECT  # noqa: E402
from dovecot import Dovecot  # noqa: E402
import corpus  # noqa: E402

USERS = {u: "pw-" + u for u in ("cut", "sync", "kill", "full")}
TAG = re.compile(rb"^X-Crash-Test: (\S+)", re.M)
KILL_POINTS = 200
KILL_BUDGET_SECONDS = 150   # the kill rounds stop here at the latest (a slow sanitizer build)


class Cutter:
    """A TCP relay between orvanta and the server whose connections the test can cut."""

    def __init__(self, port):
        self.port_to = port
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.port = self.sock.getsockname()[1]
        self.pairs = []
        self.lock = threading.Lock()
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        self.sock.settimeout(0.2)
        while not self.stopped.is_set():
            try:
                inner, _ = self.sock.accept()
            except OSError:
                continue
            outer = socket.create_connection(("127.0.0.1", self.port_to), timeout=30)
            with self.lock:
                self.pairs.append((inner, outer))
            for a, b in ((inner, outer), (outer, inner)):
                threading.Thread(target=self._pump, args=(a, b), daemon=True).start()

    @staticmethod
    def _pump(a, b):
        try:
            while True:
                data = a.recv(65536)
                if not data:
                    break
                b.sendall(data)
        except OSError:
            pass
        try:
            b.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def cut(self):
        with self.lock:
            pairs, self.pairs = self.pairs, []
        for pair in pairs:
            for s in pair:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                s.close()

    def stop(self):
        self.stopped.set()
        self.cut()
        self.sock.close()
        self.thread.join(5)


def tagged(tag, data):
    return b"X-Crash-Test: " + tag.encode() + b"\r\n" + data


def tag_of(data):
    m = TAG.search(data[:4096])
    return m.group(1).decode() if m else None


def store_files(data_dir):
    """{path: bytes} of every message file of the store (every folder below the data directory)."""
    out = {}
    for folder, _dirs, files in os.walk(data_dir):
        for name in files:
            if re.fullmatch(r"mesg\d{8}\.msg", name):
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    out[path] = f.read()
    return out


def check_index(testcase, folder):
    """The folder's index lists each of its message files once, with unique UIDs within the
    counter, and nothing else (right after a rescan)."""
    with open(os.path.join(folder, "mail.qlt"), "rb") as f:
        index = f.read()
    testcase.assertEqual((len(index) - 6) % 23, 0, folder)
    counter = int(index[:6])
    records = [index[i:i + 23] for i in range(6, len(index), 23)]
    uids = [int(r[:6]) for r in records]
    names = sorted(r[6:22].decode() for r in records)
    testcase.assertEqual(len(set(uids)), len(uids), folder)
    testcase.assertTrue(all(0 < u <= counter for u in uids), folder)
    files = sorted(n for n in os.listdir(folder) if re.fullmatch(r"mesg\d{8}\.msg", n))
    testcase.assertEqual(names, files, folder)


class Restartable(Orvanta):
    """The launcher, started again and again on one home: each start waits until the reader of
    the previous process has taken its last line, so no old line is taken for a new one."""

    reader = None

    def _read(self):
        self.reader = threading.current_thread()
        super()._read()

    def start(self, *extra, **kw):
        if self.reader is not None:
            self.reader.join(15)
        with self.lock:
            self.lines = []
        return super().start(*extra, **kw)


class CrashSafety(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dovecot = Dovecot(USERS, protocols=("pop3",))
        cls.dovecot.start()
        cls.cleanups = []

    @classmethod
    def tearDownClass(cls):
        cls.dovecot.stop()

    # -- helpers -------------------------------------------------------------------------------
    def orvanta(self, rules=(), settings=None, start=True, cls=Orvanta, before_start=None):
        """An orvanta whose home outlives stop(); spam with "cheap watches" in its subject goes
        to the store folder "Junk"."""
        root = tempfile.mkdtemp(prefix="orvanta-crash-")
        self.addCleanup(shutil.rmtree, root, True)
        o = cls(root)
        def end():
            if o.proc and o.proc.poll() is None:
                o.proc.kill()
                o.proc.wait(15)
        self.addCleanup(end)
        data = os.path.join(o.home, "user")
        os.makedirs(data, exist_ok=True)
        if before_start:
            before_start(o, data)
        priv = os.path.join(data, "private.flt")
        rules_tool("rule", priv, str(SUBJECT), "cheap watches", "Junk", "0")
        for prop, word in rules:
            rules_tool("rule", priv, str(prop), word, "Junk", "0")
        rules_tool("pass", os.path.join(data, "pass.flt"), "trusted.example")
        rules_tool("folder", data + "/", "Junk")
        for name, value in (settings or {}).items():
            o.set_dword(name, value)
        if start:
            o.start()
        return o

    def login(self, o, user, port=None):
        p = poplib.POP3("127.0.0.1", o.pop3_port, timeout=60)
        p.user("%s#127.0.0.1#%d" % (user, port or self.dovecot.pop3_port))
        p.pass_(USERS[user])
        return p

    def on_server(self, user):
        """The messages Dovecot holds for the user, read straight from its maildir."""
        for _attempt in range(5):
            try:
                out = []
                for path in self.dovecot.message_files(user):
                    with open(path, "rb") as f:
                        out.append(f.read())
                return out
            except FileNotFoundError:   # Dovecot renamed or expunged one meanwhile
                time.sleep(0.05)
        raise AssertionError("the maildir kept changing")

    # -- the line to the server cut before QUIT ------------------------------------------------
    def test_cut_before_quit_leaves_no_spam_for_the_next_log_in(self):
        user = "cut"
        clean = msg(b"friend@example.org", b"lunch tomorrow")
        spam = msg(b"seller@shop.example", b"cheap watches today")
        self.dovecot.add_messages(user, [clean, spam])
        o = self.orvanta()
        cutter = Cutter(self.dovecot.pop3_port)
        self.addCleanup(cutter.stop)
        data = os.path.join(o.home, "user")
        record = os.path.join(data, "127.0.0.1.%s.dele" % user)
        junk = os.path.join(data, "Junk")

        def stored(subject):
            return sum(subject in m for m in store_files(junk).values())

        p = self.login(o, user, cutter.port)
        self.assertEqual(p.stat()[0], 1)
        self.assertTrue(os.path.exists(record))
        cutter.cut()   # a network cut, a server restart: the DELE is never committed
        with self.assertRaises((poplib.error_proto, OSError, EOFError)):
            p.noop()
            p.noop()
        p.close()
        self.assertEqual(len(self.on_server(user)), 2)

        # The spam is neither offered nor fetched again, and goes at this QUIT.
        p = self.login(o, user, cutter.port)
        self.assertEqual(p.stat()[0], 1)
        self.assertEqual(wire_retr(p, 1), clean)
        p.quit()
        self.assertEqual(self.on_server(user), [clean])
        self.assertFalse(os.path.exists(record))
        self.assertEqual(stored(b"cheap watches today"), 1)

        # RSET takes the deletions back: the record stays for the next log-in.
        spam2 = msg(b"seller@shop.example", b"cheap watches again")
        self.dovecot.add_message(user, spam2)
        p = self.login(o, user, cutter.port)
        self.assertEqual(p.stat()[0], 1)
        p.rset()
        p.quit()
        self.assertEqual(self.on_server(user), [clean, spam2])
        self.assertTrue(os.path.exists(record))
        p = self.login(o, user)
        self.assertEqual([line.split()[0] for line in p.uidl()[1]], [b"1"])
        p.quit()
        self.assertEqual(self.on_server(user), [clean])
        self.assertFalse(os.path.exists(record))
        self.assertEqual(stored(b"cheap watches again"), 1)
        o.stop()

    # -- the sync points -----------------------------------------------------------------------
    @unittest.skipUnless(shutil.which("strace"), "strace is not installed (scripts/deps.txt)")
    def test_what_the_deletions_rely_on_is_on_disk_first(self):
        user = "sync"
        self.dovecot.add_messages(user, [msg(b"friend@example.org", b"hello there"),
                                         msg(b"seller@shop.example", b"cheap watches now")])
        trace = os.path.join(tempfile.mkdtemp(prefix="orvanta-strace-"), "trace")
        self.addCleanup(shutil.rmtree, os.path.dirname(trace), True)

        class Traced(Orvanta):
            def __init__(self, root):
                super().__init__(root)
                # LeakSanitizer cannot work under ptrace; the other checks of a sanitizer build still do.
                self.env["ASAN_OPTIONS"] = (self.env.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")

            def args(self, *extra):
                return ["strace", "-f", "-qq", "-yy", "-s", "512", "-o", trace,
                        "-e", "trace=fsync,fdatasync,rename,renameat,renameat2,sendmsg,sendto,write",
                        *super().args(*extra)]

        o = self.orvanta(cls=Traced)
        p = self.login(o, user)
        self.assertEqual(p.stat()[0], 1)
        p.quit()
        # Quitting saves the filter lists.
        r = o.run(os.path.join(BIN, "orvanta"), "--send-quit")
        self.assertEqual(r.returncode, 0, r.stderr)
        o.proc.wait(30)
        with open(trace, errors="replace") as f:
            lines = f.read().splitlines()
        data = os.path.realpath(os.path.join(o.home, "user"))

        def first(pattern, after=-1):
            rx = re.compile(pattern)
            for i, line in enumerate(lines):
                if i > after and rx.search(line):
                    return i
            self.fail("no %r after line %d in the trace:\n%s" % (pattern, after, "\n".join(lines[-80:])))

        d = re.escape(data)
        quit_line = first(r'send(msg|to)\(\d+<TCP:\[[^\]]*:%d\]>.*"QUIT' % self.dovecot.pop3_port)
        for synced in (r"%s/+Junk/mesg\d{8}\.msg>" % d, r"%s/+Junk/mail\.qlt>" % d, r"%s/+Junk>" % d):
            self.assertLess(first(r"fsync\(\d+<" + synced), quit_line, synced)
        renamed = {}
        for name in ("127.0.0.1.sync.dele", "127.0.0.1.sync.his", "private.flt", "pass.flt"):
            path = d + "/+" + re.escape(name)
            written = first(r"fsync\(\d+<%s\.tmp>" % path)
            renamed[name] = first(r'rename(at2?)?\(.*"%s\.tmp".*"%s"' % (path, path), written)
            first(r"fsync\(\d+<%s>\)" % d, renamed[name])   # and the directory after it
        # The record of the spam taken out is in place before the history calls it examined.
        self.assertLess(renamed["127.0.0.1.sync.dele"], renamed["127.0.0.1.sync.his"])
        self.assertLess(renamed["127.0.0.1.sync.his"], quit_line)
        o.stop()

    # -- killed at any moment ------------------------------------------------------------------
    def pick_corpus(self, count):
        """Corpus messages with a sender address, each sender once; every third sender is blocked."""
        picked, senders = [], set()
        for path in corpus.messages("spam-2", limit=300) + corpus.messages("easy-ham-1", limit=300):
            data = corpus.read(path)
            if len(data) > 30000 or b"cheap watches" in data.lower():
                continue
            frm = [a.lower() for _n, a in getaddresses([str(BytesHeaderParser().parsebytes(data).get("From", ""))])
                   if "@" in a]
            if not frm or frm[0] in senders:
                continue
            senders.add(frm[0])
            picked.append((data, frm[0], len(picked) % 3 == 0))
            if len(picked) == count:
                return picked
        self.fail("not enough corpus messages")

    def test_killed_at_any_moment(self):
        user = "kill"
        pool = self.pick_corpus(45)
        blocked = [sender for _d, sender, spam in pool if spam]
        # The worm detector deletes at once and keeps nothing by design; it is left out (FILTER_PRIORITY 1),
        # so every message has a place to be.
        o = self.orvanta([(SENDER, s) for s in blocked], {"FILTER_PRIORITY": 1}, start=False, cls=Restartable)
        data = os.path.join(o.home, "user")
        added = {}        # tag -> spam?
        downloaded = {}   # tag -> bytes, what the client got whole
        rng = random.Random(int(os.environ.get("ORVANTA_KILL_SEED", "0")) or None)
        durations = []
        kills = rounds = inside = 0
        started = time.time()

        def session():
            """The mail client: everything offered is fetched, kept and deleted on the server."""
            try:
                p = poplib.POP3("127.0.0.1", o.pop3_port, timeout=60)
            except OSError:
                return False
            try:
                p.user("%s#127.0.0.1#%d" % (user, self.dovecot.pop3_port))
                p.pass_(USERS[user])
                for n in range(1, p.stat()[0] + 1):
                    got = wire_retr(p, n)
                    downloaded[tag_of(got)] = got
                    p.dele(n)
                p.quit()
                return True
            except (poplib.error_proto, OSError, EOFError):
                p.close()
                return False

        def check_round():
            server = {tag_of(m) for m in self.on_server(user)}
            stored = [tag_of(m) for m in store_files(data).values()]
            for tag, spam in added.items():
                self.assertTrue(tag in server or tag in downloaded or tag in stored,
                                "round %d: message %s is nowhere" % (rounds, tag))
                if spam:
                    self.assertFalse(tag in downloaded, "round %d: spam %s reached the client" % (rounds, tag))
                else:
                    self.assertFalse(tag in stored, "round %d: clean %s was stored" % (rounds, tag))

        def check_store_after_restart():
            m = imaplib.IMAP4("127.0.0.1", o.imap_port, timeout=30)
            try:
                m.login("user", "pw")
                for folder in ("INBOX", "Junk"):
                    typ, exists = m.select(folder)
                    self.assertEqual(typ, "OK")
                    directory = os.path.join(data, folder)
                    files = [n for n in os.listdir(directory) if re.fullmatch(r"mesg\d{8}\.msg", n)]
                    self.assertEqual(int(exists[0]), len(files), folder)
                    check_index(self, directory)
            finally:
                m.logout()

        while kills < KILL_POINTS:
            self.assertLess(time.time() - started, KILL_BUDGET_SECONDS,
                            "only %d kill points in %d s" % (kills, KILL_BUDGET_SECONDS))
            rounds += 1
            for _ in range(2):
                body, _sender, spam = pool[len(added) % len(pool)]
                tag = "m%04d" % len(added)
                added[tag] = spam
                self.dovecot.add_message(user, tagged(tag, body))
            o.start(wait_for="IMAP server listening on port")
            if rounds % 10 == 1:
                check_store_after_restart()
            # Every tenth round runs to its end, to learn how long a session takes; the others
            # are killed somewhere inside one.
            client = threading.Thread(target=session)
            t0 = time.time()
            client.start()
            if rounds % 10 == 1 or not durations:
                client.join(60)
                durations.append(time.time() - t0)
            else:
                time.sleep(rng.uniform(0, sum(durations[-3:]) / len(durations[-3:])))
            inside += client.is_alive()
            o.proc.kill()
            o.proc.wait(15)
            kills += 1
            client.join(60)
            self.assertFalse(client.is_alive())
            o.reader.join(15)
            o.proc.stdout.close()
            out = o.output()
            self.assertNotIn("Sanitizer", out)
            self.assertNotIn("runtime error:", out)
            check_round()

        # A last, whole session: everything left is examined and fetched, the store is sound.
        o.start(wait_for="IMAP server listening on port")
        check_store_after_restart()
        self.assertTrue(session())
        check_round()
        self.assertEqual(self.on_server(user), [])
        stored = {tag_of(m) for m in store_files(data).values()}
        self.assertEqual(stored | set(downloaded), set(added))
        for m in store_files(os.path.join(data, "Junk")).values():
            tag = tag_of(m)
            original = tagged(tag, pool[int(tag[1:]) % len(pool)][0])
            self.assertEqual(without_footer(m).rstrip(b"\r\n"), original.rstrip(b"\r\n"), tag)
        o.stop()
        print("\nkill test: %d rounds, %d kill points (%d inside a session), %.1f s, %d messages "
              "(%d stored as spam, %d downloaded)" % (rounds, kills, inside, time.time() - started, len(added),
                                                       len(stored), len(downloaded)), file=sys.stderr)

    # -- the disk fills up while storing -------------------------------------------------------
    def test_full_disk_while_storing(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system for the data directory needs root")
        user = "full"
        small = [msg(b"seller@shop.example", b"cheap watches %d" % i, [b"short %d" % i]) for i in range(3)]
        big = msg(b"seller@shop.example", b"cheap watches big", [b"%06d a long line of a big spam message" % i
                                                                 for i in range(12000)])
        clean = msg(b"friend@example.org", b"lunch", [b"see you"])
        # The big one last: what it leaves behind is not written over by a later message.
        mailbox = [small[0], clean, small[1], big]
        self.dovecot.add_messages(user, mailbox)

        def mount(o, data):
            r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m,mode=0755", "tmpfs", data],
                               capture_output=True)
            if r.returncode != 0:
                self.skipTest("cannot mount a tmpfs here: " + r.stderr.decode(errors="replace"))
            self.addCleanup(subprocess.run, ["umount", "-l", data])

        o = self.orvanta(before_start=mount)
        data = os.path.join(o.home, "user")
        # Leave room for the small messages and the program's own files, not for the big one.
        st = os.statvfs(data)
        free = st.f_bavail * st.f_frsize
        self.assertGreater(free, len(big) + 200000)
        with open(os.path.join(data, "filler"), "wb") as f:
            f.write(b"\0" * (free - len(big) // 2))
        p = self.login(o, user)
        count = p.stat()[0]
        offered = [wire_retr(p, n) for n in range(1, count + 1)]
        p.quit()
        # The big spam could not be stored: it stays on the server and is offered; the session
        # stayed in step (every message fetched is whole).
        self.assertEqual(offered, [clean, big])
        self.assertEqual(self.on_server(user), [clean, big])
        junk = os.path.join(data, "Junk")
        self.assertEqual(sorted(without_footer(m) for m in store_files(junk).values()), sorted([small[0], small[1]]))
        check_index(self, junk)
        left = sorted(n for n in os.listdir(data) if not os.path.isdir(os.path.join(data, n)))
        self.assertEqual([n for n in left if n.endswith(".tmp") or n.endswith(".new") or n == "temp.mail"], [], left)
        with open(os.path.join(data, "127.0.0.1.full.his"), "rb") as f:
            self.assertEqual(len(f.read()) % 100, 0)
        self.assertIn("could not be stored", o.output())
        # Room again: the next log-in offers what is left, and nothing is lost.
        os.remove(os.path.join(data, "filler"))
        self.dovecot.add_message(user, small[2])
        p = self.login(o, user)
        self.assertEqual([wire_retr(p, n) for n in range(1, p.stat()[0] + 1)], [clean, big])
        p.quit()
        self.assertEqual(len(store_files(junk)), 3)
        o.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
