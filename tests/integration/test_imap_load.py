"""Twenty IMAP sessions at once for a while (APPEND, FETCH, STORE, COPY, EXPUNGE on shared
folders), then a check that the server still answers, every index is consistent and no
message was lost or duplicated."""
import imaplib
import os
import random
import re
import shutil
import socket
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from test_imap_server import Host  # noqa: E402

SECONDS = float(os.environ.get("ORVANTA_IMAP_LOAD_SECONDS", "30"))
FOLDERS = ["Shared1", "Shared2"]
MSGID = re.compile(rb"Message-ID: <([^>]+)>", re.I)


def make_message(ident, size):
    body = (b"line of text for the load test\r\n" * (size // 32 + 1))[:size]
    return (b"From: load@example.com\r\nTo: box@example.org\r\nSubject: load " + ident.encode() +
            b"\r\nMessage-ID: <" + ident.encode() + b">\r\n\r\n" + body + b"\r\n")


def check_index(folder_dir):
    """The index of a folder right after a rescan: header, whole records, unique UIDs, one
    record per message file and a counter not below any UID."""
    with open(os.path.join(folder_dir, "mail.qlt"), "rb") as f:
        data = f.read()
    assert (len(data) - 6) % 23 == 0, "cut record"
    counter = int(data[:6])
    uids, names = [], []
    for k in range(6, len(data), 23):
        rec = data[k:k + 23]
        if rec == b"0" * 23:
            continue
        uids.append(int(rec[:6]))
        names.append(rec[6:22].decode())
        assert rec[22] & 0xC0 == 0
    files = sorted(n for n in os.listdir(folder_dir) if re.fullmatch(r"mesg\d{8}\.msg", n))
    assert len(set(uids)) == len(uids), "duplicate UID"
    assert sorted(names) == files, "index and files differ"
    assert not uids or counter >= max(uids)
    return len(files)


class ImapLoadTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orvanta-imap-load-")
        self.root = os.path.join(self.tmp, "store")
        for name in FOLDERS + ["INBOX", "Copies"]:
            os.makedirs(os.path.join(self.root, name))
        self.host = Host(self.root + "/")
        # Every APPEND prints a notification; keep the pipe drained so the host never blocks on it.
        self.notified = []
        self.drain = threading.Thread(target=lambda: self.notified.extend(iter(self.host.proc.stdout.readline, b"")))
        self.drain.start()

    def tearDown(self):
        self.host.stop()
        self.drain.join(timeout=20)
        shutil.rmtree(self.tmp)

    def worker(self, index, stop, appended, deleted, errors, lock):
        rnd = random.Random(index)
        try:
            m = imaplib.IMAP4("127.0.0.1", self.host.port, timeout=60)
            m.login("load", "pw")
            n = 0
            while not stop.is_set():
                n += 1
                ident = f"w{index}-{n}@load"
                folder = FOLDERS[n % 2]
                typ, _ = m.append(folder, "(\\Flagged)", None, make_message(ident, rnd.randint(100, 20000)))
                if typ != "OK":
                    raise AssertionError(f"APPEND {typ}")
                with lock:
                    appended[ident] = folder
                typ, data = m.select(FOLDERS[rnd.randint(0, 1)])
                if typ != "OK":
                    raise AssertionError("SELECT")
                typ, data = m.uid("FETCH", "1:*", "(UID FLAGS RFC822.SIZE BODY.PEEK[HEADER.FIELDS (Message-ID)])")
                if typ != "OK":
                    raise AssertionError("FETCH")
                mine = []
                for item in data:
                    if isinstance(item, tuple):
                        uid = re.search(rb"UID (\d+)", item[0])
                        mid = MSGID.search(item[1])
                        if uid and mid and mid.group(1).decode().startswith(f"w{index}-"):
                            mine.append((uid.group(1).decode(), mid.group(1).decode()))
                if mine and rnd.random() < 0.3:
                    uid, mid = rnd.choice(mine)
                    with lock:
                        deleted.add(mid)
                    m.uid("STORE", uid, "+FLAGS.SILENT", "(\\Deleted)")
                if mine and rnd.random() < 0.3:
                    m.uid("STORE", rnd.choice(mine)[0], "+FLAGS", "(\\Seen)")
                if mine and rnd.random() < 0.2:
                    m.uid("COPY", rnd.choice(mine)[0], "Copies")
                if rnd.random() < 0.2:
                    typ, _ = m.expunge()
                    if typ != "OK":
                        raise AssertionError("EXPUNGE")
            m.logout()
        except Exception as e:  # reported by the test thread
            errors.append(f"worker {index}: {e!r}")

    def test_twenty_sessions_under_load(self):
        stop = threading.Event()
        lock = threading.Lock()
        appended, deleted, errors = {}, set(), []
        threads = [threading.Thread(target=self.worker, args=(i, stop, appended, deleted, errors, lock))
                   for i in range(20)]
        for t in threads:
            t.start()
        time.sleep(min(2.0, SECONDS))
        # All twenty slots are taken: the next connection is closed without a greeting.
        extra = socket.create_connection(("127.0.0.1", self.host.port), timeout=10)
        self.assertEqual(extra.recv(100), b"")
        extra.close()
        time.sleep(max(0.0, SECONDS - 2.0))
        stop.set()
        for t in threads:
            t.join(timeout=120)
            self.assertFalse(t.is_alive(), "a session stopped answering")
        self.assertEqual(errors, [])
        self.assertGreater(len(appended), 100)

        m = imaplib.IMAP4("127.0.0.1", self.host.port, timeout=60)
        m.login("check", "pw")
        seen = {}
        for folder in FOLDERS:
            m.select(folder)
            m.expunge()
            typ, data = m.fetch("1:*", "(BODY.PEEK[HEADER.FIELDS (Message-ID)])")
            for item in data:
                if isinstance(item, tuple):
                    mid = MSGID.search(item[1]).group(1).decode()
                    self.assertNotIn(mid, seen, "message listed twice")
                    seen[mid] = folder
            self.assertEqual(check_index(os.path.join(self.root, folder)), sum(1 for v in seen.values() if v == folder))
        m.select("Copies")
        check_index(os.path.join(self.root, "Copies"))
        m.logout()
        expected = {mid: f for mid, f in appended.items() if mid not in deleted}
        self.assertEqual(seen, expected)
        time.sleep(0.5)
        self.assertEqual(sum(1 for n in self.notified if n.startswith(b"NOTIFY APPEND|")), len(appended))


if __name__ == "__main__":
    unittest.main(verbosity=2)
