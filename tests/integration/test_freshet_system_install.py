"""The updater where the program directory is not the user's to write, as in a system-wide
installation: it installs the files that go to the user's data directory (in the user's data
home, where the main program also keeps it then), leaves the program files to the package
manager, reports that with its copy-failure status, and records the versions of only what it
installed. Run as an ordinary user (nobody, when the test is root) against a web server of the
test's own on 127.0.0.1."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from test_freshet import UpdateServer

BIN = os.path.join(os.environ.get("ORVANTA_BINARY_DIR", "build"), "bin")
KEY = r"HKCU\Software\Pellix Technology\Orvanta"
NOBODY = 65534


class SystemInstallTests(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="freshet-system-")
        os.chmod(self.root, 0o755)
        self.addCleanup(shutil.rmtree, self.root, True)
        self.program = os.path.join(self.root, "program")
        # No home is given: the updater, like the main program, keeps the user's files in the
        # user's data home when the program directory is not theirs to write.
        self.data = os.path.join(self.root, "data")
        self.home = os.path.join(self.data, "orvanta")
        for d in (self.program, os.path.join(self.home, "user"), os.path.join(self.root, "run"),
                  os.path.join(self.root, "reg")):
            os.makedirs(d)
        os.chmod(os.path.join(self.root, "run"), 0o700)
        shutil.copy(os.path.join(BIN, "freshet"), self.program)
        # The main program the updater starts at its end records that it was started.
        with open(os.path.join(self.program, "orvanta"), "w") as f:
            f.write('#!/bin/sh\necho started >> "%s/started"\n' % self.home)
        os.chmod(os.path.join(self.program, "orvanta"), 0o755)

        self.server = UpdateServer()
        self.addCleanup(self.server.stop)
        with open(os.path.join(self.home, "user", "update.lst"), "w") as f:
            f.write('"test site" "%s/site"\n' % self.server.url)
        self.env = dict(os.environ, XDG_DATA_HOME=self.data, ORVANTA_REGISTRY=os.path.join(self.root, "reg", "r.db"),
                        XDG_RUNTIME_DIR=os.path.join(self.root, "run"), ORVANTA_WEB_URL=self.server.url,
                        ORVANTA_UPDATE_URL=self.server.url + "/site")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "ORVANTA_HOME"):
            self.env.pop(name, None)

        # The user owns the data directory and their home, the program directory is another's.
        if os.geteuid() == 0:
            self.runner = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--"]
            for top in (self.data, os.path.join(self.root, "run"), os.path.join(self.root, "reg")):
                for d, _dirs, files in os.walk(top):
                    os.chown(d, NOBODY, NOBODY)
                    for name in files:
                        os.chown(os.path.join(d, name), NOBODY, NOBODY)
        else:
            self.runner = []
            os.chmod(self.program, 0o555)
            self.addCleanup(os.chmod, self.program, 0o755)
        self.reg("add", KEY + r"\INFO", "/v", "Program Path", "/d", self.program, "/f")

    def reg(self, *args):
        r = subprocess.run(self.runner + [os.path.join(BIN, "orvanta-reg"), *args], env=self.env,
                           capture_output=True, timeout=20)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode("cp949", errors="replace")

    def read(self, *parts):
        with open(os.path.join(*parts), "rb") as f:
            return f.read()

    def test_only_the_users_files_are_installed_and_the_rest_is_reported(self):
        self.server.file("Orvanta.exe", b"new main program")
        self.server.file("online.flt", b"new filter")
        self.server.file("Freshet.exe", b"new updater")
        self.server.update_list("update 20250101\r\n"
                                "x Orvanta.exe 2.0\r\n"
                                "x online.flt 1.5 user\r\n"
                                "x Freshet.exe 2.0\r\n")
        old_updater = self.read(self.program, "freshet")

        r = subprocess.run(self.runner + [os.path.join(self.program, "freshet")], env=self.env,
                           capture_output=True, timeout=90, stdin=subprocess.DEVNULL)
        out = (r.stdout + r.stderr).decode("utf-8", errors="replace")
        self.assertEqual(r.returncode, 0, out)
        self.assertNotIn("Sanitizer", out)
        statuses = r.stdout.decode().splitlines()
        self.assertEqual(statuses[-1], "파일을 복사하는데 실패했습니다.", out)
        self.assertNotIn("업데이트를 완료했습니다.프로그램을 재실행합니다.", out)
        self.assertEqual(out.count("not installed, the package manager updates it"), 2, out)

        # The file after the program file was installed all the same.
        self.assertEqual(self.read(self.home, "user", "online.flt"), b"new filter")
        self.assertEqual(self.read(self.program, "freshet"), old_updater)
        self.assertTrue(self.read(self.program, "orvanta").startswith(b"#!/bin/sh"))
        self.assertEqual(sorted(os.listdir(self.program)), ["freshet", "orvanta"])
        self.assertEqual(os.listdir(os.path.join(self.home, "temp")), [])
        # What was left stays due for the next update.
        recorded = self.reg("query", KEY + r"\update")
        self.assertIn("20250101", recorded)
        self.assertIn("online.flt", recorded)
        self.assertNotIn("Orvanta.exe", recorded)
        self.assertNotIn("Freshet.exe", recorded)
        # And the main program was started again.
        started = os.path.join(self.home, "started")
        deadline = time.time() + 10
        while not os.path.exists(started) and time.time() < deadline:
            time.sleep(0.05)
        self.assertTrue(os.path.exists(started), out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
