"""Fetchling against a real Dovecot: log-in, LIST/UIDL, RETR byte for byte (long lines, dot
stuffing, real mail from the SpamAssassin corpus), TOP, DELE and the UID history file, through
tests/fetchling's fetchling_probe. Also builds that probe as an outside program would: only
-I at the project root and -lfetchling."""
import os
import poplib
import shutil
import subprocess
import sys
import tempfile
import unittest

import corpus
import dovecot

BUILD = os.environ.get("ORVANTA_BINARY_DIR", "build")
SOURCE = os.environ.get("ORVANTA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
PROBE = os.path.join(BUILD, "bin", "fetchling_probe")
poplib._MAXLINE = 1 << 20   # the tests' own reference client reads long lines too


def sanitized_build():
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
            return "ORVANTA_SANITIZE:BOOL=ON" in f.read()
    except OSError:
        return False


def unstuff(wire):
    """A multi-line POP3 answer (CR LF lines, without the final ".") to the message bytes."""
    lines = wire.split(b"\r\n")
    return b"\r\n".join(line[1:] if line.startswith(b".") else line for line in lines)


def long_lines_message():
    body = b"".join(bytes([ord("a") + i % 26]) * 5000 + b"\r\n" for i in range(4))
    return (b"From: a@example.com\r\nSubject: long lines\r\n\r\n" + body +
            b".starts with a dot\r\n..two dots\r\n.\r\n" + b"<p>" + b"x" * 9000 + b"</p>\r\n")


class FetchlingAgainstDovecot(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(PROBE):
            raise unittest.SkipTest("fetchling_probe not built")

    def setUp(self):
        self.server = dovecot.Dovecot(users={"alice": "secret", "bob": "pw"})
        self.messages = [
            b"From: a@example.com\r\nSubject: one\r\n\r\nhello\r\n",
            long_lines_message(),
            b"From: c@example.com\r\nSubject: three\r\n\r\n" + b"line\r\n" * 50,
        ]
        self.server.add_messages("alice", self.messages)
        self.server.start()
        self.data = tempfile.mkdtemp(prefix="fetchling-data-")

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.data, ignore_errors=True)

    def probe(self, *commands, user="alice", password="secret", program=PROBE):
        proc = subprocess.run([program, "127.0.0.1", str(self.server.pop3_port), user, password, self.data,
                               *commands], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        err = proc.stderr.decode(errors="replace")
        self.assertEqual(proc.returncode, 0, err)
        self.assertNotIn("Sanitizer", err)
        self.assertNotIn("runtime error:", err)
        return proc.stdout.decode(errors="replace").splitlines()

    def reference(self, user="alice"):
        client = self.server.pop3(user)
        try:
            sizes = [tuple(map(int, line.split())) for line in client.list()[1]]
            uids = dict(line.decode().split() for line in client.uidl()[1])
            return [(n, size, uids[str(n)]) for n, size in sizes]
        finally:
            client.quit()

    def test_login_results(self):
        self.assertEqual(self.probe("login"), ["connect 1", "login 1"])
        self.assertEqual(self.probe("login", password="wrong"), ["connect 1", "login -30"])
        port = dovecot.free_port()
        proc = subprocess.run([PROBE, "127.0.0.1", str(port), "alice", "secret", self.data, "login"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(proc.stdout.decode().split(), ["connect", "-10"])
        self.assertEqual(proc.returncode, 1)
        self.assertNotIn(b"Sanitizer", proc.stderr)

    def test_list_and_uidl_match_the_server(self):
        out = self.probe("login", "list", "quit")
        self.assertEqual(out[2], "list 1 1 3")
        got = [tuple(line.split()[1:]) for line in out[3:6]]
        want = [(str(n), str(s), u) for n, s, u in self.reference()]
        self.assertEqual(got, want)
        self.assertEqual(out[6], "quit")

    def test_retr_is_byte_identical(self):
        for number, original in enumerate(self.messages, 1):
            path = os.path.join(self.data, f"m{number}")
            out = self.probe("login", f"retr:{number}:{path}", "quit")
            self.assertEqual(out[2].split()[:2], ["retr", "1"], out)
            with open(path, "rb") as f:
                wire = f.read()
            self.assertEqual(unstuff(wire), original, f"message {number}")
            # The long lines arrived whole: no line break was inserted into them.
            if number == 2:
                self.assertIn(b"\r\n" + b"b" * 5000 + b"\r\n", wire)
                self.assertIn(b"\r\n...two dots\r\n", wire)
        out = self.probe("login", "retr:9:" + os.path.join(self.data, "none"))
        self.assertEqual(out[2], "retr 0 0")

    def test_top_and_dele(self):
        out = self.probe("login", "top:3:5")
        self.assertEqual(out[2], "top 8")   # two header lines, the empty line, five body lines
        out = self.probe("login", "dele:1", "dele:1", "quit")
        self.assertEqual(out[2], "dele ")
        self.assertTrue(out[3].startswith("dele ") and len(out[3]) > len("dele "), out)
        self.assertEqual([n for n, _, _ in self.reference()], [1, 2])

    def test_history_file(self):
        path = os.path.join(self.data, "127.0.0.1.alice.his")
        out = self.probe("login", "list", "history", "quit")
        self.assertEqual(out[-2], "history 3 3 1")
        uids = [u for _, _, u in self.reference()]
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 300)
        records = [data[i:i + 100] for i in range(0, 300, 100)]
        self.assertEqual([r.rstrip(b"\0").decode() for r in records], uids)
        self.assertTrue(all(len(r) == 100 for r in records))

        # The next session finds nothing new.
        self.assertEqual(self.probe("login", "list", "history", "quit")[-2], "history 0 3 1")

        # A message that left the server leaves the history too; a new one is added.
        client = self.server.pop3()
        client.dele(1)
        client.quit()
        self.server.add_message("alice", b"Subject: four\r\n\r\nnew\r\n")
        self.assertEqual(self.probe("login", "list", "history", "quit")[-2], "history 1 3 1")
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual([data[i:i + 100].rstrip(b"\0").decode() for i in range(0, len(data), 100)],
                         [u for _, _, u in self.reference()])

        # Another user on the same server keeps a history of its own.
        self.server.add_message("bob", b"Subject: bob\r\n\r\nx\r\n")
        self.assertEqual(self.probe("login", "list", "history", "quit", user="bob", password="pw")[-2],
                         "history 1 1 1")
        self.assertEqual(os.path.getsize(os.path.join(self.data, "127.0.0.1.bob.his")), 100)

    def test_corpus_messages_arrive_unchanged(self):
        try:
            paths = corpus.messages("spam-2", limit=15) + corpus.messages("hard-ham-1", limit=15)
        except RuntimeError as e:
            self.skipTest(str(e))
        self.server.stop()
        self.server = dovecot.Dovecot(users={"alice": "secret"})
        originals = [corpus.read(p) for p in paths]
        self.server.add_messages("alice", originals)
        self.server.start()
        commands = ["login"] + [f"retr:{i}:{os.path.join(self.data, str(i))}" for i in range(1, len(paths) + 1)]
        out = self.probe(*commands, "quit")
        self.assertEqual(len(out), len(paths) + 3)
        for i, original in enumerate(originals, 1):
            with open(os.path.join(self.data, str(i)), "rb") as f:
                got = unstuff(f.read())
            # Dovecot ends a message without a final line end with one.
            expected = original if original.endswith(b"\r\n") else original + b"\r\n"
            self.assertEqual(got, expected, paths[i - 1])

    def test_outside_program_builds_with_the_chief_header_alone(self):
        compiler = shutil.which("g++") or shutil.which("c++")
        if not compiler:
            self.skipTest("no C++ compiler")
        exe = os.path.join(self.data, "outside_probe")
        cmd = [compiler, "-std=c++20", "-I", SOURCE, os.path.join(SOURCE, "tests", "fetchling", "fetchling_probe.cpp"),
               "-L", os.path.join(BUILD, "lib"), "-lfetchling", "-Wl,-rpath," + os.path.join(BUILD, "lib"), "-o", exe]
        if sanitized_build():
            cmd[1:1] = ["-fsanitize=address,undefined"]
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode(errors="replace"))
        out = self.probe("login", "list", "quit", program=exe)
        self.assertEqual(out[:3], ["connect 1", "login 1", "list 1 1 3"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
