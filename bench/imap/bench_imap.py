"""FETCH 1:* (UID FLAGS RFC822.SIZE BODY.PEEK[]) of the same corpus messages from our IMAP
server and from Dovecot's imapd, in one run; prints both times and their ratio."""
import imaplib
import os
import shutil
import subprocess
import sys
import tempfile
import time

import corpus
from dovecot import dovecot
from test_imap_server import Host

COUNT = int(os.environ.get("ORVANTA_BENCH_MESSAGES", "5000"))
ROUNDS = 3


def fetch_all(port, user, password, folder):
    m = imaplib.IMAP4("127.0.0.1", port)
    m.login(user, password)
    typ, data = m.select(folder)
    start = time.perf_counter()
    typ, data = m.fetch("1:*", "(UID FLAGS RFC822.SIZE BODY.PEEK[])")
    elapsed = time.perf_counter() - start
    total = sum(len(item[1]) for item in data if isinstance(item, tuple))
    m.logout()
    return elapsed, total


def best(port, user, password, folder):
    fetch_all(port, user, password, folder)  # warm-up: indexes and page cache
    runs = [fetch_all(port, user, password, folder) for _ in range(ROUNDS)]
    return min(r[0] for r in runs), runs[0][1]


def main():
    files = corpus.messages(limit=COUNT)
    messages = []
    for path in files:
        with open(path, "rb") as f:
            messages.append(f.read())
    tmp = tempfile.mkdtemp(prefix="orvanta-bench-imap-")
    try:
        inbox = os.path.join(tmp, "store", "INBOX")
        os.makedirs(inbox)
        for i, data in enumerate(messages, start=1):
            with open(os.path.join(inbox, "mesg%08d.msg" % i), "wb") as f:
                f.write(data)
        host = Host(os.path.join(tmp, "store") + "/")
        try:
            ours, ours_bytes = best(host.port, "bench", "pw", "INBOX")
        finally:
            host.stop()
        with dovecot(users={"bench": "pw"}) as d:
            d.add_messages("bench", messages)
            theirs, theirs_bytes = best(d.imap_port, "bench", "pw", "INBOX")
    finally:
        shutil.rmtree(tmp)
    print(f"messages: {len(messages)}, bytes fetched: ours {ours_bytes}, dovecot {theirs_bytes}")
    print(f"orvanta IMAP : {ours:.3f} s")
    print(f"dovecot imapd: {theirs:.3f} s")
    print(f"ratio orvanta/dovecot: {ours / theirs:.2f} (target at most 1.5)")


if __name__ == "__main__":
    sys.exit(main())
