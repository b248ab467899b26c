"""The update at the start of the real orvanta --headless, against a web server of the test's
own on 127.0.0.1 (tests/common/http_peer.py): the updater program fetched into the home,
started for a newer update, the notice of the day in the log, the uninstaller's menu entry,
and a second start that asks for neither again."""
import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_orvanta_instance import Orvanta  # noqa: E402

BIN = os.path.join(os.environ.get("ORVANTA_BINARY_DIR", "build"), "bin")
SOURCE = os.environ.get("ORVANTA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
PEER = os.path.join(SOURCE, "tests", "common", "http_peer.py")
ROOT_KEY = r"HKCU\Software\Pellix Technology\Orvanta"
CHECK = "/orvanta/jsp/login/CheckUpdate.jsp"
NOTICE = "/orvanta/html/news/notice.html"

# Stands in for the updater: notes in the program directory that it ran, and with how many
# arguments.
UPDATER = b'#!/bin/sh\necho "$#" > "$(dirname "$0")/updater-ran"\n'


class WebServer:
    """http_peer.py serving `root` on a loopback port; every request goes to its log."""

    def __init__(self, root):
        self.root = root
        self.log = root + ".log"
        os.makedirs(root, exist_ok=True)
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        self.url = "http://127.0.0.1:%d" % listener.getsockname()[1]
        self.proc = subprocess.Popen(["/usr/bin/python3", PEER, str(listener.fileno()), root, self.log],
                                     pass_fds=[listener.fileno()], stdout=subprocess.PIPE)
        listener.close()
        assert self.proc.stdout.readline() == b"READY\n"

    def serve(self, path, body):
        target = os.path.join(self.root, path.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(body)

    def requests(self, path):
        if not os.path.exists(self.log):
            return 0
        with open(self.log) as f:
            return f.read().count("GET %s " % path)

    def stop(self):
        self.proc.kill()
        self.proc.wait(5)
        self.proc.stdout.close()


def closed_port():
    """A loopback port nothing listens on."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class UpdateAtStartTests(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvanta-update-it-")
        self.web = WebServer(os.path.join(self.root, "www"))
        self.o = Orvanta(root=self.root)
        # Everything the program reaches is on loopback.
        self.o.env["ORVANTA_WEB_URL"] = self.web.url
        self.o.env["ORVANTA_UPDATE_URL"] = self.web.url + "/site"
        self.o.env["XDG_DATA_HOME"] = os.path.join(self.root, "data")
        self.menu = os.path.join(self.root, "data", "applications", "Orvanta Zidevoz 1.0")

    def tearDown(self):
        try:
            self.o.stop()
        finally:
            self.web.stop()
            shutil.rmtree(self.root, ignore_errors=True)

    def quit(self):
        self.o.stop()
        self.o.proc = None
        with self.o.lock:
            self.o.lines = []

    def query(self, section, name):
        r = self.o.reg("query", ROOT_KEY + "\\" + section, "/v", name)
        return r.stdout.decode(errors="replace") if r.returncode == 0 else ""

    def test_first_start_fetches_and_starts_the_updater_and_shows_the_notice(self):
        notice = "필터가 새로 나왔습니다."
        self.web.serve("/site/Freshet.exe", UPDATER)
        self.web.serve(CHECK, ("UPDATE %s/site\r\n" % self.web.url).encode())
        self.web.serve("/site/express/update.dat", b"update 20990101\r\n1 Orvanta.exe 9.9.9\r\n")
        self.web.serve(NOTICE, b"NOTICE\r\n20990101\r\n" + notice.encode("cp949") + b"\r\n")
        os.makedirs(self.menu)

        self.o.start()
        self.o.wait_line(notice)
        updater = os.path.join(self.o.home, "freshet")
        with open(updater, "rb") as f:
            self.assertEqual(f.read(), UPDATER)
        self.assertEqual(stat.S_IMODE(os.stat(updater).st_mode), 0o755)
        # The server's update is newer than none installed: the fetched updater was started,
        # without arguments.
        ran = os.path.join(self.o.home, "updater-ran")
        for _ in range(200):
            if os.path.exists(ran) and os.path.getsize(ran) > 0:
                break
            time.sleep(0.05)
        with open(ran) as f:
            self.assertEqual(f.read(), "0\n")
        # In the start-up's order, all before the servers run.
        out = self.o.output()
        order = [out.find(t) for t in ("Fetched the updater program", "Update check: the update server has a newer",
                                       "Notice of the update service:", "POP3 proxy listening")]
        self.assertTrue(-1 not in order and order == sorted(order), out)
        with open(os.path.join(self.menu, "Orvanta 제거.desktop"), encoding="utf-8") as f:
            self.assertIn('Exec="%s/unmoor"\n' % os.path.abspath(self.o.home), f.read())
        self.quit()
        self.assertIn("0x4", self.query("UNINSTALL", "Update_Program"))
        self.assertIn("20990101", self.query("OPTION", "NOTICE_DAY"))

        # The next start: the updater program is not fetched again, the check is not due, and
        # the notice is shown again on the day it was first shown.
        self.web.serve("/site/Freshet.exe", b"#!/bin/sh\nexit 1\n")
        self.o.start()
        self.o.wait_line(notice)
        self.assertEqual(self.web.requests("/site/Freshet.exe"), 2)  # size probe and download, once
        self.assertEqual(self.web.requests(CHECK), 1)
        self.assertEqual(self.web.requests("/site/express/update.dat"), 1)
        with open(updater, "rb") as f:
            self.assertEqual(f.read(), UPDATER)

    def test_an_unreachable_update_service_does_not_hold_up_the_start(self):
        dead = "http://127.0.0.1:%d" % closed_port()
        self.o.env["ORVANTA_WEB_URL"] = dead
        self.o.env["ORVANTA_UPDATE_URL"] = dead + "/site"
        started = time.time()
        self.o.start()
        self.assertLess(time.time() - started, 10)
        out = self.o.output()
        # Offline is no reason for box 61209, which would hold up every start on a desktop.
        self.assertNotIn("파일이 존재하지 않아서, 업데이트를 할수 없습니다.", out)
        self.assertIn("The update server was not reached for the updater program", out)
        self.assertIn("Update check: the web server was not reached", out)
        self.assertIn("Notice of the update service:", out)
        self.assertFalse(os.path.exists(os.path.join(self.o.home, "freshet")))
        self.assertFalse(os.path.exists(os.path.join(self.root, "data")))   # no menu folder is made
        self.quit()
        self.assertIn("0x0", self.query("UNINSTALL", "Update_Program"))
        self.assertIn("0x0", self.query("OPTION", "UPDATE_YEAR"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
