"""The uninstaller as a process, each run in a PID namespace of its own so that only the
processes the test starts count as running (another test's main program may run beside):
without a display it says what OK would do and changes nothing; --yes does it and starts the
removal; a main program running as ORVANTA makes it refuse; a wrong option is refused."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import unmoor_run

BIN = os.path.join(os.environ.get("ORVANTA_BINARY_DIR", "build"), "bin")
ACCOUNTS = r"HKEY_CURRENT_USER\Software\Microsoft\Internet Account Manager\Accounts"

SEED = """REGEDIT4

[%(a)s\\00000001]
"POP3 USER Name"="kim#mailhost#995"
"POP3 Server"="localhost"
"POP3 Port"=dword:00000073
"POP3 BACKUP"="mailhost"
"POP3 PORT BACKUP"=dword:000003e3
"POP3 USER BACKUP"="kim"

[%(a)s\\00000002]
"POP3 USER Name"="park"
"POP3 Server"="pop.park"

[%(a)s\\00002002]
"ORVANTA ACCOUNT"="Orvanta"
"ACCOUNT NAME"="<Orvanta>"
""" % {"a": ACCOUNTS}


class UnmoorProgramTests(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="unmoor-it-")
        self.record = os.path.join(self.root, "removals")
        self.env = dict(os.environ, ORVANTA_REGISTRY=os.path.join(self.root, "registry.db"),
                        ORVANTA_REMOVE_COMMAND="echo started >> '%s'" % self.record)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        seed = os.path.join(self.root, "seed.reg")
        with open(seed, "w") as f:
            f.write(SEED)
        self.reg("import", seed)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def reg(self, *args):
        r = subprocess.run([os.path.join(BIN, "orvanta-reg"), *args], env=self.env, capture_output=True,
                           timeout=20)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode("utf-8", errors="replace")

    def accounts(self):
        return self.reg("export", ACCOUNTS, "-")

    def removals(self, wait=10):
        deadline = time.time() + wait
        while time.time() < deadline and not os.path.exists(self.record):
            time.sleep(0.05)
        if not os.path.exists(self.record):
            return 0
        with open(self.record) as f:
            return f.read().count("\n")

    def unmoor(self, *args, beside=None):
        return unmoor_run.run([os.path.join(BIN, "unmoor"), *args], self.env, beside=beside)

    def test_without_a_display_it_only_says_what_ok_would_do(self):
        before = self.accounts()
        r = self.unmoor()
        self.assertEqual(r.returncode, 0, r.stderr)
        out = r.stdout.decode()
        self.assertEqual(out.splitlines(), [
            "Orvanta For Outlook Zidevoz Uninstall",
            "Orvanta을 사용해 주셔서 감사드립니다.",
            "Orvanta을 제거 하시겠습니까?",
            "Without a display nothing is changed; \"unmoor --yes\" answers 확인 and would:",
            "  delete the spam-box account 00002002",
            "  restore the POP3 account 00000001 from its backups",
            "  start the removal: echo started >> '%s'" % self.record,
        ])
        self.assertEqual(self.accounts(), before)
        self.assertEqual(self.removals(wait=0.5), 0)

        # Without the variable, a build tree has nothing installed to remove.
        env = dict(self.env)
        del env["ORVANTA_REMOVE_COMMAND"]
        r = unmoor_run.run([os.path.join(BIN, "unmoor")], env)
        self.assertIn("  nothing to remove: %s holds no installation" % os.path.realpath(BIN), r.stdout.decode())

    def test_yes_answers_ok(self):
        r = self.unmoor("--yes")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().splitlines(), [
            "Orvanta For Outlook Zidevoz Uninstall",
            "deleted the spam-box account 00002002",
            "restored the POP3 account 00000001",
            "started the removal: echo started >> '%s'" % self.record,
        ])
        after = self.accounts()
        self.assertNotIn("00002002", after)
        self.assertIn('"POP3 USER Name"="kim"', after)
        self.assertIn('"POP3 Server"="mailhost"', after)
        self.assertIn('"POP3 Port"=dword:000003e3', after)
        self.assertNotIn("BACKUP", after)
        self.assertIn('"POP3 Server"="pop.park"', after)
        self.assertEqual(self.removals(), 1)
        # Twice: nothing left to restore, the removal is started again.
        r = self.unmoor("--yes")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.accounts(), after)
        self.assertEqual(self.removals(), 2)

    def test_a_running_main_program_in_any_letter_case_makes_it_refuse(self):
        before = self.accounts()
        sleeper = os.path.join(self.root, "ORVANTA")
        shutil.copy("/bin/sleep", sleeper)
        r = self.unmoor("--yes", beside=sleeper)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual(r.stdout.decode(), "[Unmoor] Orvanta을 먼저 종료해 주세요.\n")
        self.assertEqual(self.accounts(), before)
        self.assertEqual(self.removals(wait=0.5), 0)
        # A program whose name only contains the main program's does not count.
        other = os.path.join(self.root, "orvanta-old")
        shutil.copy("/bin/sleep", other)
        r = self.unmoor("--yes", beside=other)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertNotEqual(self.accounts(), before)

    def test_a_wrong_option_is_refused(self):
        before = self.accounts()
        for args in (["--no"], ["--remove-files"], ["--yes", "--remove-files", "x"]):
            r = self.unmoor(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn(b"usage: unmoor", r.stderr)
        self.assertEqual(self.accounts(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
