"""Real mail programs against Orvanta on loopback: fetchmail and getmail6 fetch through the POP3
proxy from a throwaway Dovecot, mbsync and offlineimap3 synchronise the spam box with a local
maildir, neomutt (driven through tmux) reads the spam box and takes a flag off. Each test is
skipped only when its program is not installed."""
import imaplib
import mailbox
import os
import poplib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402
from test_pipeline_flow import msg, rules_tool  # noqa: E402
from dovecot import Dovecot  # noqa: E402

USERS = {u: "pw-" + u for u in ("fm", "gm", "fmbig", "mb", "oi", "mutt")}
LEFT = "left for the next log-in"
BIG = 5000  # more than one second of examination, even on a fast machine


def clean(user, i):
    return msg(b"friend%d@example.org" % i, b"lunch %s %d" % (user.encode(), i))


def spam(user, i):
    return msg(b"Seller %d <seller%d@shop.example>" % (i, i), b"cheap watches %s %d" % (user.encode(), i))


def message_id(data):
    m = re.search(rb"(?im)^Message-ID: *(<[^>]*>)", data)
    return m.group(1) if m else None


def lf(data):
    return data.replace(b"\r\n", b"\n")


def installed(program):
    return unittest.skipUnless(shutil.which(program), program + " is not installed")


class Clients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dovecot = Dovecot(USERS, protocols=("pop3",))
        for user in USERS:
            if user == "fmbig":
                continue
            # Clean and spam interleaved, so the spam is taken out of the middle.
            data = []
            for i in range(1, 4):
                data += [clean(user, i), spam(user, i)]
            cls.dovecot.add_messages(user, data)
        cls.dovecot.add_messages("fmbig", [clean("fmbig", i) for i in range(BIG)] +
                                 [spam("fmbig", i) for i in range(5)])
        cls.dovecot.start()

    @classmethod
    def tearDownClass(cls):
        cls.dovecot.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orvanta-clients-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    # -- Orvanta with a rule that takes "cheap watches" into the spam box "Junk" ----------------
    def orvanta(self, **settings):
        root = os.path.join(self.tmp, "orvanta")
        o = Orvanta(root)
        self.data = os.path.join(o.home, "user")
        os.makedirs(self.data, exist_ok=True)
        rules_tool("rule", os.path.join(self.data, "private.flt"), "2", "cheap watches", "Junk", "0")
        rules_tool("folder", self.data + "/", "Junk")
        for name, value in settings.items():
            o.set_dword(name, value)
        o.start()
        self.addCleanup(o.stop)
        o.wait_line("IMAP server listening on port")
        self.o = o
        return o

    def pop3_user(self, user):
        return "%s#127.0.0.1#%d" % (user, self.dovecot.pop3_port)

    def left_on_server(self, user):
        p = self.dovecot.pop3(user)
        try:
            return [message_id(b"\r\n".join(p.retr(n)[1])) for n in range(1, p.stat()[0] + 1)]
        finally:
            p.quit()

    def junk(self):
        """The message files of the spam box, in name order."""
        d = os.path.join(self.data, "Junk")
        names = sorted(n for n in os.listdir(d) if n.endswith(".msg"))
        out = []
        for n in names:
            with open(os.path.join(d, n), "rb") as f:
                out.append(f.read())
        return out

    def fill_spam_box(self, user):
        """One log-in through the proxy: the spam goes to the spam box, the rest is fetched."""
        p = poplib.POP3("127.0.0.1", self.o.pop3_port, timeout=60)
        p.user(self.pop3_user(user))
        p.pass_(USERS[user])
        fetched = [message_id(b"\r\n".join(p.retr(n)[1])) for n in range(1, p.stat()[0] + 1)]
        p.quit()
        self.assertEqual(len(fetched), 3)
        self.assertEqual(len(self.junk()), 3)

    def run_client(self, args, env=None, ok=(0,), timeout=300):
        r = subprocess.run(args, capture_output=True, timeout=timeout, env=env or dict(os.environ, HOME=self.tmp))
        self.assertIn(r.returncode, ok, "%s: %d\n%s\n%s" % (args[0], r.returncode, r.stdout.decode(errors="replace"),
                                                            r.stderr.decode(errors="replace")))
        return r

    def mbox_ids(self, path):
        box = mailbox.mbox(path, create=False)
        try:
            return [message_id(m.as_bytes()) for m in box]
        finally:
            box.close()

    def check_pop3_result(self, user, mbox_path):
        expected = [message_id(clean(user, i)) for i in range(1, 4)]
        self.assertEqual(self.mbox_ids(mbox_path), expected)
        self.assertEqual(self.left_on_server(user), [])
        junk = self.junk()
        self.assertEqual([message_id(d) for d in junk], [message_id(spam(user, i)) for i in range(1, 4)])

    # -- fetchmail ------------------------------------------------------------------------------
    def fetchmail_rc(self, user, mbox_path):
        # A small shell delivery agent (one process a message, so it has to start fast):
        # mboxrd quoting, a From_ line, a blank line after each message.
        deliver = os.path.join(self.tmp, "deliver.sh")
        with open(deliver, "w") as f:
            f.write("#!/bin/sh\n{ echo 'From fetchmail@localhost Thu Jan  1 00:00:00 1970';"
                    " sed -e 's/\\r$//' -e 's/^\\(>*From \\)/>\\1/'; echo; } >> \"$1\"\n")
        os.chmod(deliver, 0o755)
        rc = os.path.join(self.tmp, "fetchmailrc")
        with open(rc, "w") as f:
            f.write('set no syslog\npoll 127.0.0.1 with proto POP3 port %d auth password timeout 120\n'
                    '  user "%s" there with password "%s" is "%s" here\n'
                    '  sslproto "" mda "%s %s"\n'
                    % (self.o.pop3_port, self.pop3_user(user), USERS[user], os.environ.get("USER", "root"),
                       deliver, mbox_path))
        os.chmod(rc, 0o600)
        return rc

    def fetchmail(self, rc):
        env = dict(os.environ, HOME=self.tmp, FETCHMAILHOME=self.tmp)
        # 0: mail was fetched, 1: there was none.
        return self.run_client(["fetchmail", "-f", rc, "--nodetach", "--nosyslog"], env=env, ok=(0, 1), timeout=200)

    @installed("fetchmail")
    def test_fetchmail_through_the_proxy(self):
        self.orvanta()
        mbox_path = os.path.join(self.tmp, "fm.mbox")
        rc = self.fetchmail_rc("fm", mbox_path)
        self.assertEqual(self.fetchmail(rc).returncode, 0)
        self.check_pop3_result("fm", mbox_path)
        # A second run finds nothing new and delivers nothing twice.
        self.assertEqual(self.fetchmail(rc).returncode, 1)
        self.check_pop3_result("fm", mbox_path)

    @installed("fetchmail")
    def test_fetchmail_with_a_bounded_examination_delivers_everything_once(self):
        # Without the learning filter, whose tokenizing and training take most of a sanitizer
        # build's second; how the time bound splits the work is what is tested here.
        self.orvanta(EXAM_SECONDS=1, USE_LEARN=0)
        mbox_path = os.path.join(self.tmp, "big.mbox")
        rc = self.fetchmail_rc("fmbig", mbox_path)
        runs = 0
        deadline = time.time() + 240  # a loaded machine examines fewer messages a log-in
        for runs in range(1, 401):
            self.fetchmail(rc)
            if not self.left_on_server("fmbig") or time.time() > deadline:
                break
        self.assertEqual(self.left_on_server("fmbig"), [])
        ids = self.mbox_ids(mbox_path)
        self.assertEqual(len(ids), len(set(ids)))
        self.assertEqual(sorted(ids), sorted(message_id(clean("fmbig", i)) for i in range(BIG)))
        self.assertEqual(sorted(message_id(d) for d in self.junk()),
                         sorted(message_id(spam("fmbig", i)) for i in range(5)))
        # Every run but the last left the rest for later, and said so. How many runs that takes
        # depends on the machine's speed (a fast one may need only one); the time bound itself
        # is tested against a slow server in test_exam_time.
        self.assertEqual(self.o.output().count(LEFT), runs - 1, self.o.output()[-3000:])

    # -- getmail6 -------------------------------------------------------------------------------
    @installed("getmail")
    def test_getmail_through_the_proxy(self):
        self.orvanta()
        mbox_path = os.path.join(self.tmp, "gm.mbox")
        open(mbox_path, "wb").close()
        gmdir = os.path.join(self.tmp, "getmail")
        os.makedirs(gmdir)
        # getmail refuses to deliver as root: as root it writes the mbox as "nobody".
        deliver_as = ""
        if os.getuid() == 0:
            os.chmod(self.tmp, 0o755)
            shutil.chown(mbox_path, "nobody")
            deliver_as = "user = nobody\n"
        with open(os.path.join(gmdir, "getmailrc"), "w") as f:
            f.write("[retriever]\ntype = SimplePOP3Retriever\nserver = 127.0.0.1\nport = %d\nusername = %s\n"
                    "password = %s\n\n[destination]\ntype = Mboxrd\npath = %s\n%s\n[options]\n"
                    "delete = true\nread_all = false\nverbose = 1\n"
                    % (self.o.pop3_port, self.pop3_user("gm"), USERS["gm"], mbox_path, deliver_as))
        args = ["getmail", "--getmaildir", gmdir, "--rcfile", "getmailrc"]
        self.run_client(args)
        self.check_pop3_result("gm", mbox_path)
        second = self.run_client(args)
        self.assertIn(b"0 messages", second.stdout + second.stderr)
        self.check_pop3_result("gm", mbox_path)

    # -- the spam box over IMAP -----------------------------------------------------------------
    def store_state(self):
        """What a sync may change in the spam box: its files and the index."""
        d = os.path.join(self.data, "Junk")
        out = {}
        for n in sorted(os.listdir(d)):
            with open(os.path.join(d, n), "rb") as f:
                out[n] = f.read()
        return out

    def index_flags(self):
        """{Message-ID: flag byte} from the spam box's index."""
        d = os.path.join(self.data, "Junk")
        with open(os.path.join(d, "mail.qlt"), "rb") as f:
            index = f.read()
        out = {}
        for pos in range(6, len(index) - 22, 23):
            rec = index[pos:pos + 23]
            if rec == b"0" * 23:
                continue
            with open(os.path.join(d, rec[6:22].decode()), "rb") as f:
                out[message_id(f.read())] = rec[22]
        return out

    def maildir(self, path):
        """{Message-ID: (flags, bytes)} of a local maildir folder."""
        out = {}
        for sub in ("cur", "new"):
            for n in os.listdir(os.path.join(path, sub)):
                with open(os.path.join(path, sub, n), "rb") as f:
                    data = f.read()
                flags = n.rsplit(":2,", 1)[1] if ":2," in n else ""
                out[message_id(data)] = (flags, data)
        return out

    def maildir_file(self, path, mid):
        for sub in ("cur", "new"):
            for n in os.listdir(os.path.join(path, sub)):
                with open(os.path.join(path, sub, n), "rb") as f:
                    if message_id(f.read()) == mid:
                        return os.path.join(path, sub, n)
        raise AssertionError("no local copy of %r" % mid)

    def set_maildir_flags(self, path, mid, flags):
        old = self.maildir_file(path, mid)
        base = os.path.basename(old).split(":2,")[0]
        os.rename(old, os.path.join(path, "cur", base + ":2," + "".join(sorted(flags))))

    def imap(self):
        m = imaplib.IMAP4("127.0.0.1", self.o.imap_port, timeout=30)
        m.login("user", "pw")
        return m

    def passes(self):
        return rules_tool("passes", os.path.join(self.data, "pass.flt")).split()

    def two_way_sync(self, sync, local):
        """The same story for every synchronising client: first copy, local changes going up,
        a change on the server coming down, and a last sync that changes nothing."""
        ids = [message_id(spam(self.user, i)) for i in range(1, 4)]
        sync()
        copies = self.maildir(local)
        self.assertEqual(sorted(copies), sorted(ids))
        store = dict(zip(ids, self.junk()))
        for mid, (flags, data) in copies.items():
            # mbsync marks its copies with a header of its own.
            self.assertEqual(re.sub(rb"(?m)^X-TUID: .*\n", b"", lf(data)), lf(store[mid]))
            self.assertIn("F", flags)  # the spam box marks what it took in

        # Locally: the first deleted, the second read and no longer flagged.
        os.remove(self.maildir_file(local, ids[0]))
        self.set_maildir_flags(local, ids[1], "S")
        sync()
        self.assertEqual(sorted(message_id(d) for d in self.junk()), sorted(ids[1:]))
        flags = self.index_flags()
        self.assertEqual(flags[ids[1]] & 0x28, 0x20)  # \Seen set, \Flagged gone
        self.assertEqual(flags[ids[2]] & 0x28, 0x08)
        # Taking the flag off is the user saying "no spam": the sender is on the pass list.
        self.o.wait_line("Added a pass entry for seller2@shop.example")

        # On the server: the third answered.
        m = self.imap()
        m.select("Junk")
        typ, _ = m.uid("STORE", "3", "+FLAGS", "(\\Answered)")
        self.assertEqual(typ, "OK")
        m.logout()
        sync()
        self.assertIn("R", self.maildir(local)[ids[2]][0])
        self.assertEqual(sorted(self.maildir(local)), sorted(ids[1:]))

        # Nothing left to do: neither side changes.
        before = (self.store_state(), self.maildir(local))
        sync()
        self.assertEqual((self.store_state(), self.maildir(local)), before)
        # The pass list reaches its file when the program ends.
        self.o.stop()
        self.assertEqual([p.split("|")[0] for p in self.passes()], ["seller2@shop.example"])

    @installed("mbsync")
    def test_mbsync_synchronises_the_spam_box_both_ways(self):
        self.user = "mb"
        self.orvanta(Auto_Pass=1)
        self.fill_spam_box("mb")
        local = os.path.join(self.tmp, "Mail")
        os.makedirs(local)
        rc = os.path.join(self.tmp, "mbsyncrc")
        with open(rc, "w") as f:
            f.write("IMAPAccount orvanta\nHost 127.0.0.1\nPort %d\nUser user\nPass pw\nSSLType None\n"
                    "AuthMechs LOGIN\n\nIMAPStore remote\nAccount orvanta\n\n"
                    "MaildirStore local\nPath %s/\nInbox %s/INBOX\nSubFolders Verbatim\n\n"
                    "Channel spam\nFar :remote:Junk\nNear :local:Junk\nCreate Near\nSync All\n"
                    "Expunge Both\nSyncState *\n" % (self.o.imap_port, local, local))
        self.two_way_sync(lambda: self.run_client(["mbsync", "-c", rc, "spam"], timeout=120),
                          os.path.join(local, "Junk"))

    @installed("offlineimap")
    def test_offlineimap_synchronises_the_spam_box_both_ways(self):
        self.user = "oi"
        self.orvanta(Auto_Pass=1)
        self.fill_spam_box("oi")
        local = os.path.join(self.tmp, "OIMail")
        os.makedirs(local)
        rc = os.path.join(self.tmp, "offlineimaprc")
        with open(rc, "w") as f:
            f.write("[general]\naccounts = orvanta\nmetadata = %s/oi-meta\n\n"
                    "[Account orvanta]\nlocalrepository = local\nremoterepository = remote\n\n"
                    "[Repository local]\ntype = Maildir\nlocalfolders = %s\n\n"
                    "[Repository remote]\ntype = IMAP\nremotehost = 127.0.0.1\nremoteport = %d\n"
                    "remoteuser = user\nremotepass = pw\nssl = no\nstarttls = no\n"
                    "folderfilter = lambda name: name == 'Junk'\n" % (self.tmp, local, self.o.imap_port))
        self.two_way_sync(lambda: self.run_client(["offlineimap", "-c", rc, "-o", "-u", "basic"], timeout=120),
                          os.path.join(local, "Junk"))

    # -- neomutt, driven through a terminal ------------------------------------------------------
    def screen(self, session):
        return subprocess.run(["tmux", "capture-pane", "-p", "-t", session], capture_output=True,
                              timeout=10).stdout.decode(errors="replace")

    def wait_screen(self, session, text, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if text in self.screen(session):
                return
            time.sleep(0.2)
        raise AssertionError("%r never appeared on the screen:\n%s" % (text, self.screen(session)))

    def keys(self, session, *keys):
        subprocess.run(["tmux", "send-keys", "-t", session] + list(keys), check=True, timeout=10)

    @installed("neomutt")
    @installed("tmux")
    def test_neomutt_reads_the_spam_box_and_takes_a_flag_off(self):
        self.orvanta(Auto_Pass=1)
        self.fill_spam_box("mutt")
        rc = os.path.join(self.tmp, "muttrc")
        with open(rc, "w") as f:
            f.write('set folder = "imap://user@127.0.0.1:%d/"\nset imap_pass = "pw"\n'
                    'set spoolfile = "+Junk"\nset ssl_starttls = no\nset ssl_force_tls = no\n'
                    'set header_cache = ""\nset message_cachedir = ""\nset mail_check = 60\n'
                    'set sort = mailbox-order\nset wait_key = no\nset quit = yes\nset move = no\n'
                    'set mark_old = no\nset pager_stop = yes\nset imap_keepalive = 300\n'
                    'set index_format = "%%4C %%Z %%s"\n' % self.o.imap_port)
        session = "orvanta-mutt-%d" % os.getpid()
        env = dict(os.environ, HOME=self.tmp, TERM="xterm")
        subprocess.run(["tmux", "new-session", "-d", "-s", session, "-x", "160", "-y", "40",
                        "neomutt -n -F %s" % rc], check=True, env=env, timeout=10)
        self.addCleanup(subprocess.run, ["tmux", "kill-session", "-t", session], capture_output=True, timeout=10)

        # The index shows the three messages the spam box took in, flagged.
        self.wait_screen(session, "cheap watches mutt 3")
        self.assertIn("cheap watches mutt 1", self.screen(session))
        # Read the first, go back to the index, take its flag off and write the change out.
        self.keys(session, "Enter")
        self.wait_screen(session, "From: Seller 1")
        self.keys(session, "q")
        self.wait_screen(session, "cheap watches mutt 2")
        self.keys(session, "F")
        self.keys(session, "$")
        self.o.wait_line("Added a pass entry for seller1@shop.example")
        self.keys(session, "q")

        flags = self.index_flags()
        ids = [message_id(spam("mutt", i)) for i in range(1, 4)]
        self.assertEqual(flags[ids[0]] & 0x28, 0x20)  # read, no longer flagged
        self.assertEqual(flags[ids[1]] & 0x28, 0x08)  # untouched: unread and flagged
        self.assertEqual(flags[ids[2]] & 0x28, 0x08)
        self.o.stop()
        self.assertEqual([p.split("|")[0] for p in self.passes()], ["seller1@shop.example"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
