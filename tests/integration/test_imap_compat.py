"""What today's IMAP clients expect of the server, driven through Python's imaplib against
tests/harborage's imap_host on a temporary store."""
import imaplib
import os
import re
import shutil
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from test_imap_server import Host, message  # noqa: E402


class Malformed(AssertionError):
    pass


def parse_response(data):
    """Parses one response (a line with its literals) into nested lists of bytes; raises
    Malformed for unbalanced parentheses, brackets or quotes, or literals of the wrong size."""
    pos = 0
    stack = [[]]

    def atom_end(i):
        depth = 0
        while i < len(data):
            c = data[i:i + 1]
            if c == b"[":
                depth += 1
            elif c == b"]":
                if depth == 0:
                    raise Malformed("stray ] at %d" % i)
                depth -= 1
            elif depth == 0 and c in (b" ", b"(", b")", b"\r"):
                break
            i += 1
        if depth:
            raise Malformed("unclosed [")
        return i

    while pos < len(data):
        c = data[pos:pos + 1]
        if c == b" ":
            pos += 1
        elif c == b"(":
            stack.append([])
            pos += 1
        elif c == b")":
            if len(stack) == 1:
                raise Malformed("stray ) at %d" % pos)
            done = stack.pop()
            stack[-1].append(done)
            pos += 1
        elif c == b'"':
            end = pos + 1
            while end < len(data) and data[end:end + 1] != b'"':
                end += 2 if data[end:end + 1] == b"\\" else 1
            if end >= len(data):
                raise Malformed("unclosed quote")
            stack[-1].append(data[pos + 1:end])
            pos = end + 1
        elif c == b"{":
            m = re.match(rb"\{(\d+)\}\r\n", data[pos:])
            if not m:
                raise Malformed("bad literal at %d" % pos)
            n = int(m.group(1))
            start = pos + m.end()
            if start + n > len(data):
                raise Malformed("literal shorter than announced")
            stack[-1].append(data[start:start + n])
            pos = start + n
        elif data[pos:] == b"\r\n":
            break
        else:
            end = atom_end(pos)
            stack[-1].append(data[pos:end])
            pos = end
    if len(stack) != 1:
        raise Malformed("unclosed (")
    return stack[0]


def read_response(f):
    """One response from a binary file: the line and, for each literal, its bytes and the rest."""
    out = b""
    for _ in range(10000):
        line = f.readline()
        if not line.endswith(b"\r\n"):
            raise Malformed("line without CRLF: %r" % line[-40:])
        out += line
        m = re.search(rb"\{(\d+)\}\r\n$", line)
        if not m:
            return out
        out += f.read(int(m.group(1)))
    raise Malformed("too many literals")


def fetch_items(parsed):
    """The item pairs of an untagged FETCH answer as a dict (keys upper case)."""
    if len(parsed) != 4 or parsed[0] != b"*" or parsed[2] != b"FETCH" or not isinstance(parsed[3], list):
        raise Malformed("not a FETCH answer: %r" % parsed[:3])
    items = parsed[3]
    if len(items) % 2:
        raise Malformed("odd FETCH item list")
    return {items[i].upper(): items[i + 1] for i in range(0, len(items), 2)}


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

    def test_partial_fetch_in_chunks_reassembles_a_large_message(self):
        big = message("big", sender="big@example.com") + b"".join(
            b"line %06d of a long message body, padded to make it larger\r\n" % i for i in range(5000))
        self.assertGreater(len(big), 300 * 1024)
        with open(os.path.join(self.inbox, "mesg00000004.msg"), "wb") as f:
            f.write(big)
        c = self.client
        c.login("anyone", "anything")
        c.select("INBOX")
        got, offset = b"", 0
        for _ in range(20):  # bounded: 300 KB in 64 KB chunks needs 5 or 6
            typ, data = c.uid("FETCH", "4", "(BODY.PEEK[]<%d.65536>)" % offset)
            self.assertEqual(typ, "OK")
            self.assertIn(b"BODY[]<%d> {" % offset, data[0][0])
            chunk = data[0][1]
            self.assertLessEqual(len(chunk), 65536)
            got += chunk
            offset += len(chunk)
            if len(chunk) < 65536:
                break
        self.assertEqual(got, big)
        # An offset past the end gives an empty literal; a header slice is cut the same way.
        typ, data = c.fetch("1", "(BODY.PEEK[]<999999.10>)")
        self.assertIn(b"BODY[]<999999> {0}", data[0] if isinstance(data[0], bytes) else data[0][0])
        typ, data = c.fetch("1", "(BODY.PEEK[HEADER]<0.4>)")
        self.assertEqual(data[0][1], message("m1", sender="user1@example.com")[:4])
        # The partial form of BODY[] still marks the message seen.
        c.fetch("2", "(BODY[]<0.10>)")
        typ, data = c.fetch("2", "(FLAGS)")
        self.assertIn(b"\\Seen", data[0])

    def test_login_with_literals(self):
        s = socket.create_connection(("127.0.0.1", self.host.port), timeout=10)
        f = s.makefile("rb")
        try:
            self.assertTrue(f.readline().startswith(b"* OK"))
            s.sendall(b"a1 LOGIN {6}\r\n")
            self.assertTrue(f.readline().startswith(b"+ "))
            s.sendall(b'us"e r {4}\r\n')
            self.assertTrue(f.readline().startswith(b"+ "))
            s.sendall(b"p w}\r\n")
            self.assertEqual(f.readline(), b"a1 OK LOGIN completed\r\n")
            s.sendall(b"a2 SELECT INBOX\r\n")
            for _ in range(20):
                line = f.readline()
                if line.startswith(b"a2 "):
                    break
            self.assertTrue(line.startswith(b"a2 OK"), line)
            # A literal too long for a name is refused by closing, never read past the buffer.
            s.sendall(b"a3 LOGOUT\r\n")
        finally:
            f.close()
            s.close()

    def test_thunderbird_connect_sequence_gets_well_formed_answers(self):
        big = message("big", sender="big@example.com", extra="Content-Type: text/plain\r\n") + b"".join(
            b"line %06d of a long message body, padded to make it larger\r\n" % i for i in range(5000))
        self.assertGreater(len(big), 300 * 1024)
        with open(os.path.join(self.inbox, "mesg00000004.msg"), "wb") as f:
            f.write(big)
        os.makedirs(os.path.join(self.root, "Spam"))
        s = socket.create_connection(("127.0.0.1", self.host.port), timeout=10)
        f = s.makefile("rb")
        tags = iter(range(1, 1000))

        def command(text):
            tag = b"%d" % next(tags)
            s.sendall(tag + b" " + text + b"\r\n")
            answers = []
            for _ in range(1000):
                response = read_response(f)
                parsed = parse_response(response)
                if parsed[0] == tag:
                    self.assertEqual(parsed[1], b"OK", response)
                    return answers
                self.assertEqual(parsed[0], b"*", response)
                answers.append(parsed)
            self.fail("no tagged answer to " + text.decode())

        try:
            self.assertEqual(parse_response(read_response(f))[:2], [b"*", b"OK"])
            caps = command(b"capability")
            self.assertEqual(caps[0][:2], [b"*", b"CAPABILITY"])
            self.assertIn(b"IMAP4rev1", caps[0])
            command(b'login "anyone" "any thing"')
            listed = command(b'list "" "*"')
            self.assertEqual(sorted(a[4] for a in listed), [b"INBOX", b"Spam"])
            for a in listed:
                self.assertEqual(a[1:4], [b"LIST", [], b"/"])
            command(b'lsub "" "*"')
            selected = command(b'select "INBOX"')
            codes = {}
            for a in selected:
                if a[1] == b"OK" and a[2].startswith(b"["):
                    m = re.fullmatch(rb"\[([A-Z]+) ?(.*)\]", a[2])
                    codes[m.group(1)] = m.group(2)
            self.assertTrue(0 < int(codes[b"UIDVALIDITY"]) < 2 ** 32)
            self.assertEqual(codes[b"UIDNEXT"], b"5")  # after four messages
            self.assertIn(b"PERMANENTFLAGS", codes)
            self.assertIn([b"*", b"4", b"EXISTS"], selected)

            flags = command(b"UID fetch 1:* (FLAGS)")
            self.assertEqual([fetch_items(a)[b"UID"] for a in flags], [b"1", b"2", b"3", b"4"])
            for a in flags:
                self.assertIsInstance(fetch_items(a)[b"FLAGS"], list)
            headers = command(b"UID fetch 1:4 (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER.FIELDS (From To Cc Bcc "
                              b"Subject Date Message-ID Priority X-Priority References Newsgroups In-Reply-To "
                              b"Content-Type Reply-To)])")
            self.assertEqual(len(headers), 4)
            for n, a in enumerate(headers, 1):
                items = fetch_items(a)
                self.assertEqual(items[b"UID"], b"%d" % n)
                size = os.path.getsize(os.path.join(self.inbox, "mesg%08d.msg" % n))
                self.assertEqual(int(items[b"RFC822.SIZE"]), size)
                key = [k for k in items if k.startswith(b"BODY[HEADER.FIELDS")]
                self.assertEqual(len(key), 1, items.keys())
                self.assertIn(b"Subject: ", items[key[0]])
                self.assertTrue(items[key[0]].endswith(b"\r\n\r\n"))

            got = b""
            for _ in range(20):  # bounded: 300 KB in 64 KB chunks takes 5 or 6
                answers = command(b"UID fetch 4 (UID BODY.PEEK[]<%d.65536>)" % len(got))
                self.assertEqual(len(answers), 1)
                items = fetch_items(answers[0])
                self.assertEqual(items[b"UID"], b"4")
                chunk = items[b"BODY[]<%d>" % len(got)]
                got += chunk
                if len(chunk) < 65536:
                    break
            self.assertEqual(got, big)
            # Peeking left the message unseen; the last step marks it read.
            self.assertNotIn(b"\\Seen", fetch_items(command(b"UID fetch 4 (FLAGS)")[0])[b"FLAGS"])
            stored = command(b"UID store 4 +FLAGS (\\Seen)")
            self.assertEqual(fetch_items(stored[0])[b"UID"], b"4")
            self.assertIn(b"\\Seen", fetch_items(stored[0])[b"FLAGS"])
            command(b"logout")
        finally:
            f.close()
            s.close()


if __name__ == "__main__":
    unittest.main()
