"""The main program as a process: headless start on its own home and ports, single instance,
the quit request 1006 from another process, "/start" with Auto_Start 0, settings written on
quit. Also holds the launcher the POP3 proxy tests share."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

BIN = os.path.join(os.environ.get("ORVANTA_BINARY_DIR", "build"), "bin")
OPTION_KEY = r"HKCU\Software\Pellix Technology\Orvanta\OPTION"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Orvanta:
    """orvanta --headless with its own home, registry and runtime directory."""

    def __init__(self, root=None):
        self.own_root = root is None
        self.root = root or tempfile.mkdtemp(prefix="orvanta-it-")
        self.home = os.path.join(self.root, "home")
        self.registry = os.path.join(self.root, "registry.db")
        self.runtime = os.path.join(self.root, "run")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.pop3_port = free_port()
        self.smtp_port = free_port()
        self.imap_port = free_port()
        # The maker's web and update servers are a closed port on loopback unless a test runs
        # its own; menu entries go below the test's own directory.
        closed = "http://127.0.0.1:9"
        self.env = dict(os.environ, ORVANTA_REGISTRY=self.registry, XDG_RUNTIME_DIR=self.runtime,
                        ORVANTA_WEB_URL=closed, ORVANTA_UPDATE_URL=closed + "/update",
                        XDG_DATA_HOME=os.path.join(self.root, "data"))
        self.env.pop("ORVANTA_HOME", None)
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.proc = None
        self.lines = []
        self.lock = threading.Lock()

    def run(self, *args, timeout=20):
        """Runs a short-lived orvanta (or orvanta-reg) to its end."""
        r = subprocess.run(list(args), env=self.env, capture_output=True, timeout=timeout)
        both = r.stdout + r.stderr
        assert b"Sanitizer" not in both and b"runtime error:" not in both, both.decode(errors="replace")
        return r

    def reg(self, *args):
        return self.run(os.path.join(BIN, "orvanta-reg"), *args)

    def set_dword(self, name, value):
        r = self.reg("add", OPTION_KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")
        assert r.returncode == 0, r.stderr

    def query(self, name):
        r = self.reg("query", OPTION_KEY, "/v", name)
        return r.stdout.decode(errors="replace") if r.returncode == 0 else None

    def args(self, *extra):
        return [os.path.join(BIN, "orvanta"), "--headless", "--home", self.home,
                "--ports", "%d,%d,%d" % (self.pop3_port, self.smtp_port, self.imap_port), *extra]

    def start(self, *extra, wait_for="POP3 proxy listening on port"):
        # A port found free can be taken by another test before the program binds it; then
        # the program says so, and it is started again on fresh ports (a few times at most).
        for attempt in range(3):
            self.proc = subprocess.Popen(self.args(*extra), env=self.env, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT)
            threading.Thread(target=self._read, daemon=True).start()
            if not wait_for:
                return self
            try:
                self.wait_line(wait_for)
                return self
            except AssertionError:
                if attempt == 2 or "cannot listen on port" not in self.output():
                    raise
            self.proc.terminate()
            self.proc.wait(15)
            with self.lock:
                self.lines = []
            self.pop3_port, self.smtp_port, self.imap_port = free_port(), free_port(), free_port()
        return self

    def _read(self):
        for raw in self.proc.stdout:
            with self.lock:
                self.lines.append(raw.decode("utf-8", errors="replace").rstrip("\n"))

    def wait_line(self, text, timeout=15):
        deadline = time.time() + timeout
        while time.time() < deadline:
            with self.lock:
                if any(text in l for l in self.lines):
                    return
            if self.proc.poll() is not None:
                time.sleep(0.2)
                with self.lock:
                    if any(text in l for l in self.lines):
                        return
                raise AssertionError("orvanta ended (%s) before %r:\n%s" % (self.proc.returncode, text, self.output()))
            time.sleep(0.05)
        raise AssertionError("no %r from orvanta:\n%s" % (text, self.output()))

    def output(self):
        with self.lock:
            return "\n".join(self.lines)

    def stop(self):
        """Ends the program like a quit request (SIGTERM) and checks that it ended cleanly."""
        problems = []
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
                problems.append("orvanta did not end on SIGTERM")
        if self.proc:
            time.sleep(0.1)   # let the reader take the last lines
            if self.proc.returncode not in (0, None):
                problems.append("orvanta exited with %s" % self.proc.returncode)
            if self.proc.stdout:
                self.proc.stdout.close()
        out = self.output()
        for marker in ("Sanitizer", "runtime error:"):
            if marker in out:
                problems.append("sanitizer report")
        if self.own_root:
            shutil.rmtree(self.root, ignore_errors=True)
        if problems:
            raise AssertionError("; ".join(problems) + ":\n" + out)


class InstanceTests(unittest.TestCase):
    def setUp(self):
        self.o = Orvanta()

    def tearDown(self):
        self.o.stop()

    def test_headless_start_lays_out_the_home_and_listens(self):
        self.o.start()
        self.assertTrue(os.path.isdir(os.path.join(self.o.home, "user")))
        self.assertTrue(os.path.isdir(os.path.join(self.o.home, "temp")))
        with socket.create_connection(("127.0.0.1", self.o.pop3_port), timeout=5) as s:
            self.assertEqual(s.recv(100), b"+OK Orvanta POP3-Proxy Server ready.\r\n")
        r = self.o.reg("query", r"HKCU\Software\Pellix Technology\Orvanta\INFO")
        self.assertIn(b"Orvanta Zidevoz", r.stdout)
        self.assertIn(os.path.abspath(self.o.home).encode(), r.stdout)
        # The Korean event texts reach the terminal as UTF-8.
        self.assertIn("서버를 실행했습니다.", self.o.output())

    def test_second_start_asks_the_first_to_show_itself_and_ends(self):
        self.o.start()
        r = self.o.run(*self.o.args())
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"already running", r.stdout)
        self.o.wait_line("Asked to show the main window")
        self.assertIsNone(self.o.proc.poll())

    def test_quit_request_saves_the_settings_and_ends(self):
        self.o.start()
        # Changed behind the running program's back: the save on quit writes its own value.
        self.o.set_dword("Auto_Pass", 2)
        self.assertIn("0x2", self.o.query("Auto_Pass"))
        r = self.o.run(os.path.join(BIN, "orvanta"), "--send-quit")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.o.proc.wait(15)
        self.assertEqual(self.o.proc.returncode, 0)
        self.assertIn("Quit requested", self.o.output())
        self.assertIn("Del_DAY", self.o.query("Del_DAY") or "")
        self.assertIn("SELECT_WARN", self.o.query("SELECT_WARN") or "")
        self.assertIn("0x0", self.o.query("Auto_Pass"))
        # Nothing is left to receive the request.
        r = self.o.run(os.path.join(BIN, "orvanta"), "--send-quit")
        self.assertEqual(r.returncode, 1)

    def test_warning_texts_are_saved_with_the_settings(self):
        user = os.path.join(self.o.home, "user")
        os.makedirs(user)
        kept = "스팸을 보내지 마세요.\r\n".encode("cp949")
        with open(os.path.join(user, "warn1.dat"), "wb") as f:
            f.write(b"first")
        with open(os.path.join(user, "warn2.dat"), "wb") as f:
            f.write(kept)

        def texts():
            out = []
            for n in (1, 2, 3):
                with open(os.path.join(user, "warn%d.dat" % n), "rb") as f:
                    out.append(f.read())
            return out

        def quit():
            r = self.o.run(os.path.join(BIN, "orvanta"), "--send-quit")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.o.proc.wait(15)
            self.assertEqual(self.o.proc.returncode, 0)
            self.o.proc.stdout.close()
            with self.o.lock:
                self.o.lines = []

        self.o.start()
        # Changed behind the running program's back: the save on quit writes the texts it
        # holds, all three.
        with open(os.path.join(user, "warn2.dat"), "wb") as f:
            f.write(b"changed on disk")
        quit()
        self.assertEqual(texts(), [b"first", kept, b""])
        # The next start reads them again and keeps them.
        self.o.start()
        quit()
        self.assertEqual(texts(), [b"first", kept, b""])

    def test_logon_start_with_auto_start_off_ends_at_once(self):
        self.o.set_dword("Auto_Start", 0)
        r = self.o.run(*self.o.args("/START"))
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Auto_Start is 0", r.stdout)
        self.assertNotIn(b"listening on port", r.stdout)
        # Any other argument starts normally.
        self.o.start("/other")

    def test_home_from_the_environment(self):
        self.o.set_dword("Auto_Start", 0)
        home = os.path.join(self.o.root, "env-home")
        self.o.env["ORVANTA_HOME"] = home
        r = self.o.run(os.path.join(BIN, "orvanta"), "--headless", "/start")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(os.path.join(home, "user")))
        self.assertTrue(os.path.isdir(os.path.join(home, "temp")))
        info = self.o.reg("query", r"HKCU\Software\Pellix Technology\Orvanta\INFO").stdout
        self.assertIn(home.encode(), info)
        # --home wins over the environment.
        r = self.o.run(*self.o.args("/start"))
        self.assertIn(os.path.abspath(self.o.home).encode(),
                      self.o.reg("query", r"HKCU\Software\Pellix Technology\Orvanta\INFO").stdout)

    def test_old_stored_mail_is_deleted_at_start(self):
        four_days_ago = time.localtime(time.time() - 4 * 86400 - 3600)
        self.o.set_dword("Del_Term", 5)
        self.o.set_dword("Del_Year", four_days_ago.tm_year)
        self.o.set_dword("Del_Month", four_days_ago.tm_mon)
        self.o.set_dword("Del_Day", four_days_ago.tm_mday)
        inbox = os.path.join(self.o.home, "user", "INBOX")
        os.makedirs(inbox)
        for name in ("mesg00000001.msg", "mesg00000002.msg", "index.dat"):
            with open(os.path.join(inbox, name), "w") as f:
                f.write("x")
        self.o.start()
        self.o.wait_line("Deleted 2 old stored messages")
        self.assertEqual(sorted(os.listdir(inbox)), ["index.dat"])
        # The new date is stored at once: a crash now must not make the next start delete
        # what is stored meanwhile.
        self.o.proc.kill()
        self.o.proc.wait(15)
        self.o.proc = None
        today = time.localtime()
        self.assertIn("0x%x" % today.tm_mday, self.o.query("Del_Day"))
        self.assertIn("0x%x" % today.tm_year, self.o.query("Del_Year"))

    def test_bad_command_line(self):
        r = self.o.run(os.path.join(BIN, "orvanta"), "--headless", "--ports", "1,2")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"--ports", r.stderr)
        r = self.o.run(os.path.join(BIN, "orvanta"), "--home")
        self.assertEqual(r.returncode, 2)

    def test_logon_start_with_auto_start_on_runs(self):
        self.o.set_dword("Auto_Start", 1)
        self.o.start("/start")
        self.assertIsNone(self.o.proc.poll())

    def test_port_in_use_gives_the_pop3_message(self):
        # Let the kernel pick the held port: a port found free a moment ago may meanwhile be
        # the local end of another test's connection.
        holder = socket.socket()
        holder.bind(("0.0.0.0", 0))
        holder.listen(1)
        self.o.pop3_port = holder.getsockname()[1]
        try:
            self.o.start(wait_for="cannot listen on port %d" % self.o.pop3_port)
            self.o.wait_line("Pop3 Proxy 서버를 실행할 수 없었습니다.")
            self.assertIsNone(self.o.proc.poll())
        finally:
            holder.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
