"""The tray application on a real X display: Xvfb with a system tray (trayer), driven with
xdotool. The tray icon appears, its menu opens the main window, a real IMAP client clearing
\\Flagged in the spam box brings up the pass prompt whose "추가함" puts the sender on the pass
list, a second start shows the first one's window, and "끝내기" asks before it quits. On the
settings page a new IMAP port is taken by "중지" and "실행", and the SMTP proxy's server choice
sends through the account the user picks."""
import imaplib
import os
import random
import re
import shutil
import smtplib
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from test_orvanta_instance import BIN, Orvanta
from test_pipeline_flow import rules_tool
from test_smtp_proxy import add_account, message
import smtp_server
from smtp_server import SmtpServer

TOOLS = ("Xvfb", "trayer", "xdotool", "xwininfo")


def missing_tools():
    return [t for t in TOOLS if not shutil.which(t)]


def settable_port():
    """A free port the settings page accepts (1 to 9999)."""
    for port in random.sample(range(2000, 10000), 200):
        try:
            with socket.socket() as s:
                s.bind(("127.0.0.1", port))
            return port
        except OSError:
            continue
    raise AssertionError("no free port below 10000")


def port_open(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def wait_for(what, probe, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Desktop:
    """Xvfb on a display number nobody uses, with trayer as its system tray."""

    def __init__(self):
        self.procs = []
        for n in range(140, 200):
            if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
                self.display = ":%d" % n
                break
        self.env = dict(os.environ, DISPLAY=self.display)
        self.procs.append(subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x768x24", "-nolisten",
                                            "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for("the X server", lambda: subprocess.run(["xwininfo", "-root"], env=self.env,
                                                        capture_output=True).returncode == 0)
        self.procs.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                                            "request", "--height", "24"], env=self.env,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for("the tray", lambda: b'"panel"' in self.tree())

    def tree(self):
        return subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True).stdout

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, timeout=20)

    def visible(self, title):
        """The ids of the mapped windows whose title matches `title`."""
        r = self.xdotool("search", "--onlyvisible", "--name", title)
        return r.stdout.split()

    def tray_icon(self):
        """The centre of the program's icon in the tray, or None."""
        for line in self.tree().decode(errors="replace").splitlines():
            m = re.search(r'"orvanta": \("orvanta" "orvanta"\)\s+(\d+)x(\d+)\+\S+\s+\+(-?\d+)\+(-?\d+)', line)
            if m and int(m.group(1)) < 64:
                w, h, x, y = map(int, m.groups())
                return x + w // 2, y + h // 2
        return None

    def menu(self, keys, until):
        """Opens the tray menu and picks an item with the keyboard, until `until()` says it
        worked (a click that lands while the server is busy can be lost: a few tries)."""
        for _ in range(4):
            x, y = self.tray_icon()
            self.xdotool("mousemove", str(x), str(y), "click", "3")
            time.sleep(0.7)
            self.xdotool("key", *keys)
            try:
                return wait_for("the menu's command", until, timeout=5)
            except AssertionError:
                self.xdotool("key", "Escape")
        raise AssertionError("the tray menu did not carry out %s" % " ".join(keys))

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()


@unittest.skipIf(missing_tools(), "needs %s" % ", ".join(TOOLS))
class TrayApp(unittest.TestCase):
    def setUp(self):
        self.desk = Desktop()
        self.o = Orvanta()
        self.o.env["DISPLAY"] = self.desk.display
        self.o.set_dword("Auto_Spam", 2)   # filing a message in the spam box asks nothing here

    def tearDown(self):
        self.o.stop()
        self.desk.stop()

    def windowed(self):
        return [a for a in self.o.args() if a != "--headless"]

    def test_tray_prompt_second_start_and_exit(self):
        self.o.proc = subprocess.Popen(self.windowed(), env=self.o.env, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
        threading.Thread(target=self.o._read, daemon=True).start()
        self.o.wait_line("IMAP server listening", timeout=30)
        wait_for("the tray icon", self.desk.tray_icon)
        # Shown first, then hidden by itself right after the start.
        wait_for("the main window to hide", lambda: not self.desk.visible("^Orvanta Zidevoz$"))

        self.desk.menu(["Down", "Return"], lambda: self.desk.visible("^Orvanta Zidevoz$"))   # "Orvanta 열기"

        # The spam box over real IMAP: a flagged message, then its flag cleared by the client.
        imap = imaplib.IMAP4("127.0.0.1", self.o.imap_port, timeout=60)
        imap.login("user", "pw")
        message = b"From: Friend <friend@example.org>\r\nSubject: not spam\r\n\r\nhello\r\n"
        imap.append("INBOX", r"(\Flagged)", None, message)
        imap.select("INBOX")
        done = {}
        worker = threading.Thread(target=lambda: done.setdefault("r", imap.store("1", "-FLAGS", r"(\Flagged)")))
        worker.start()
        prompt = wait_for("the pass prompt", lambda: self.desk.visible("^통과필터추가"))
        self.desk.xdotool("windowfocus", "--sync", prompt[0])
        self.desk.xdotool("key", "--window", prompt[0], "Return")   # "추가함", the default
        worker.join(30)
        self.assertEqual(done.get("r", ("",))[0], "OK")
        self.o.wait_line("Added a pass entry for friend@example.org")
        imap.logout()

        # The feedback hid the main window; a second start shows it again and ends.
        wait_for("the main window to hide", lambda: not self.desk.visible("^Orvanta Zidevoz$"))
        second = subprocess.run(self.windowed(), env=self.o.env, capture_output=True, timeout=30)
        self.assertEqual(second.returncode, 0)
        self.assertIn(b"already running", second.stdout)
        wait_for("the main window again", lambda: self.desk.visible("^Orvanta Zidevoz$"))

        # "끝내기" while no mail client is served: 61217; Cancel keeps the program running.
        box = self.desk.menu(["Up", "Return"], lambda: self.desk.visible("^Orvanta$"))
        self.o.wait_line("프로그램을 종료하시겠습니까?")
        self.desk.xdotool("windowfocus", "--sync", box[0])
        self.desk.xdotool("key", "--window", box[0], "Escape")
        time.sleep(1)
        self.assertIsNone(self.o.proc.poll())
        box = self.desk.menu(["Up", "Return"], lambda: self.desk.visible("^Orvanta$"))
        self.desk.xdotool("windowfocus", "--sync", box[0])
        self.desk.xdotool("key", "--window", box[0], "Return")
        self.o.proc.wait(20)
        self.assertEqual(self.o.proc.returncode, 0)
        # The pass list reached its file at the end.
        passes = rules_tool("passes", os.path.join(self.o.home, "user", "pass.flt")).split()
        self.assertEqual([p.split("|")[0] for p in passes], ["friend@example.org"])


    @unittest.skipUnless(smtp_server.available(), "aiosmtpd is not installed for this Python")
    def test_settings_page_moves_the_imap_port_and_the_smtp_choice_picks_the_second_account(self):
        servers = [SmtpServer().start(), SmtpServer().start()]
        self.addCleanup(lambda: [s.stop() for s in servers])
        add_account(self.o, "00000001", "one@example.org", "127.0.0.1", servers[0].port)
        add_account(self.o, "00000002", "two@example.org", "127.0.0.1", servers[1].port)
        self.o.set_dword("SelectSmtpAlways", 0)
        self.o.proc = subprocess.Popen(self.windowed(), env=self.o.env, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
        threading.Thread(target=self.o._read, daemon=True).start()
        self.o.wait_line("IMAP server listening", timeout=30)
        wait_for("the tray icon", self.desk.tray_icon)
        wait_for("the main window to hide", lambda: not self.desk.visible("^Orvanta Zidevoz$"))

        # EHLO asks which server to send through: the second one, picked by keyboard.
        sent = {}

        def send():
            c = smtplib.SMTP("127.0.0.1", self.o.smtp_port, timeout=60)
            c.ehlo("laptop.example")
            c.sendmail("one@example.org", ["friend@example.net"], message("chosen", [b"through two"]))
            c.quit()
            sent["ok"] = True
        worker = threading.Thread(target=send, daemon=True)
        worker.start()
        dialog = wait_for("the server choice", lambda: self.desk.visible("^Orvanta - 메일보내기$"))
        self.desk.xdotool("windowfocus", "--sync", dialog[0])
        self.desk.xdotool("key", "--window", dialog[0], "Down", "Return")
        worker.join(60)
        self.assertTrue(sent.get("ok"))
        self.assertEqual(len(servers[1].wait_messages(1)), 1)
        self.assertEqual(servers[0].messages, [])

        # The settings page: a new IMAP port, "중지", then "실행"; a real client uses it.
        self.desk.menu(["Down", "Return"], lambda: self.desk.visible("^Orvanta Zidevoz$"))
        main = self.desk.visible("^Orvanta Zidevoz$")[0]
        self.desk.xdotool("windowfocus", "--sync", main)
        new_port = settable_port()
        old_port = self.o.imap_port
        # Ctrl+2 shows " 환경설정 " with its tabs focused; Right takes "Orvanta설정"; the page's
        # controls in order: the log-in box, the POP3, IMAP and SMTP ports, "Local 접속만 허용",
        # "실행" (off while the server runs), "중지", "기본값".
        self.desk.xdotool("key", "--window", main, "ctrl+2")
        time.sleep(0.5)
        keys = ["Right", "Tab", "Tab", "Tab", "ctrl+a"] + list(str(new_port)) + ["Tab", "Tab", "Tab", "space"]
        self.desk.xdotool("key", "--delay", "60", "--window", main, *keys)
        wait_for("the IMAP server to stop", lambda: not port_open(old_port))
        # "중지" is off now and the focus moved on to "기본값": one step back is "실행".
        self.desk.xdotool("key", "--delay", "60", "--window", main, "shift+Tab", "space")
        wait_for("the IMAP server on its new port", lambda: port_open(new_port))
        imap = imaplib.IMAP4("127.0.0.1", new_port, timeout=30)
        self.assertEqual(imap.login("user", "pw")[0], "OK")
        self.assertEqual(imap.select("INBOX")[0], "OK")
        imap.logout()

if __name__ == "__main__":
    unittest.main(verbosity=2)
