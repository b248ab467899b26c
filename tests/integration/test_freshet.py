"""The updater Freshet against a web server of the test's own on 127.0.0.1 (plain and https):
it fetches the newer files, stops the running main program with message 1006, installs into a
real installation directory, records the versions and "DATE", and starts the main program
again; faults (a server that stops mid-file, a destination that cannot be written, a name
with "..") leave the installation as the update list's order says."""
import os
import random
import ssl
import subprocess
import threading
import time
import unittest
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from test_orvanta_instance import BIN, Orvanta
from tlscerts import CertAuthority

KEY = r"HKCU\Software\Pellix Technology\Orvanta"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server
        with server.lock:
            server.requests.append(self.requestline)
        entry = server.routes.get(self.path)
        if entry is None:
            self.send_error(404)
            return
        body, cut = entry if isinstance(entry, tuple) else (entry, None)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        try:
            # A cut entry announces the whole body but stops after `cut` bytes.
            self.wfile.write(body if cut is None else body[:cut])
        except OSError:
            pass


class UpdateServer:
    """The maker's web server and the update site in one: CheckUpdate.jsp names /base as the
    update location's base, update.dat is under /base/express, the files under /site."""

    def __init__(self, context=None):
        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.httpd.routes = {}
        self.httpd.requests = []
        self.httpd.lock = threading.Lock()
        scheme = "http"
        if context:
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
            scheme = "https"
        self.url = "%s://127.0.0.1:%d" % (scheme, self.httpd.server_address[1])
        self.httpd.routes["/orvanta/jsp/login/CheckUpdate.jsp"] = ("update %s/base\r\n" % self.url).encode()
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def update_list(self, text):
        self.httpd.routes["/base/express/update.dat"] = text.encode()

    def file(self, name, body, cut=None):
        self.httpd.routes["/site/" + name] = body if cut is None else (body, cut)

    def requests(self):
        with self.httpd.lock:
            return list(self.httpd.requests)

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def slurp(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def pid_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


class FreshetTests(unittest.TestCase):
    def setUp(self):
        self.o = Orvanta()
        self.root = self.o.root
        self.servers = []
        self.restarted = []
        # The restarted main program has no --home: it finds its home as the updater does.
        self.o.env.update(ORVANTA_HOME=self.o.home, XDG_DATA_HOME=os.path.join(self.root, "data"))
        os.makedirs(os.path.join(self.o.home, "user"))
        # The main program's own update check and updater fetch stay out of the way; its
        # ports are those of the first start, also for the start by the updater.
        self.o.set_dword("Update_Term", 0)
        self.o.set_dword("POP3_PORT", self.o.pop3_port)
        self.o.set_dword("SMTP_PORT", self.o.smtp_port)
        self.o.set_dword("IMAP_PORT", self.o.imap_port)
        for name in ("UPDATE_PROGRAM", "FLAG"):
            self.o.reg("add", KEY + r"\UNINSTALL", "/v", name, "/t", "REG_DWORD",
                       "/d", "4" if name == "UPDATE_PROGRAM" else "1", "/f")

    def tearDown(self):
        problems = []
        for pid, output in self.restarted:
            problems += self.stop_restarted(pid, output)
        for server in self.servers:
            server.stop()
        self.o.stop()
        self.assertEqual(problems, [])

    def serve(self, context=None):
        server = UpdateServer(context)
        self.servers.append(server)
        # Set before the first start too: nothing may look for the compiled .example hosts.
        self.o.env.update(ORVANTA_WEB_URL=server.url, ORVANTA_UPDATE_URL=server.url + "/site")
        return server

    def freshet(self, name="freshet"):
        """Runs the updater without a display to its end; returns its output (and that of the
        main program it starts, which shares it) once the restarted program is listening."""
        path = os.path.join(self.root, name + ".out")
        with open(path, "wb") as out:
            p = subprocess.Popen([os.path.join(BIN, "freshet")], env=self.o.env, stdout=out,
                                 stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            self.assertEqual(p.wait(90), 0)
        text = slurp(path)
        started = [l for l in text.splitlines() if l.startswith("freshet: started ")]
        self.assertEqual(len(started), 1, text)
        self.assertIn(os.path.join(BIN, "orvanta") + " (pid ", started[0])
        pid = int(started[0].rsplit("(pid ", 1)[1].rstrip(")"))
        self.restarted.append((pid, path))
        # The main program beside the updater came up again, on the stored ports.
        deadline = time.time() + 30
        while "POP3 proxy listening on port %d" % self.o.pop3_port not in slurp(path):
            self.assertTrue(pid_alive(pid) and time.time() < deadline, slurp(path))
            time.sleep(0.1)
        return text

    def stop_restarted(self, pid, output):
        if pid_alive(pid):
            self.o.run(os.path.join(BIN, "orvanta"), "--send-quit")
        deadline = time.time() + 20
        while pid_alive(pid) and time.time() < deadline:
            time.sleep(0.1)
        problems = []
        if pid_alive(pid):
            os.kill(pid, 9)
            problems.append("the restarted orvanta did not end on the quit request")
        text = slurp(output)
        if "Sanitizer" in text or "runtime error:" in text:
            problems.append("sanitizer report:\n" + text)
        return problems

    def recorded(self):
        r = self.o.reg("query", KEY + r"\update")
        values = {}
        for line in r.stdout.decode("cp949", errors="replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[1] == "REG_SZ":
                values[parts[0]] = parts[2] if len(parts) > 2 else ""
        return values

    def path(self, *parts):
        return os.path.join(self.o.home, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def test_update_stops_the_running_main_program_installs_and_starts_it_again(self):
        server = self.serve()
        program = random.Random(5).randbytes(60000)
        server.file("Orvanta.exe", program)
        server.file("online.flt", b"new filter\r\n")
        server.file("../escape.txt", b"outside")
        server.file("pass.flt", b"not fetched")
        # A name listed twice goes where its first record says; a record older than the
        # installed file is not fetched, yet its version is recorded.
        server.update_list("update 20240501\r\n"
                           "x Orvanta.exe 2.0\r\n"
                           "x online.flt 1.5 user\r\n"
                           "x pass.flt 3.0 user\r\n"
                           "x online.flt 1.6 elsewhere\r\n"
                           "x ../escape.txt 1.0\r\n")
        with open(self.path("user", "online.flt"), "wb") as f:
            f.write(b"old filter\r\n")
        os.chmod(self.path("user", "online.flt"), 0o640)
        self.o.reg("add", KEY + r"\update", "/v", "pass.flt", "/t", "REG_SZ", "/d", "9.0", "/f")
        self.o.start()

        out = self.freshet()
        # Message 1006 stopped the first program, which saved its settings and ended.
        self.o.proc.wait(15)
        self.assertEqual(self.o.proc.returncode, 0)
        self.assertIn("Quit requested", self.o.output())
        self.assertIn("프로그램을 종료시킵니다.", out)
        self.assertIn("업데이트를 완료했습니다.프로그램을 재실행합니다.", out)

        self.assertEqual(self.read("orvanta"), program)
        self.assertEqual(os.stat(self.path("orvanta")).st_mode & 0o777, 0o755)
        self.assertEqual(self.read("user", "online.flt"), b"new filter\r\n")
        self.assertEqual(os.stat(self.path("user", "online.flt")).st_mode & 0o777, 0o640)
        self.assertFalse(os.path.exists(self.path("elsewhere")))
        fetched = [r for r in server.requests() if r.startswith("GET /site/")]
        self.assertEqual(fetched.count("GET /site/online.flt HTTP/1.1"), 2, fetched)
        self.assertEqual(fetched.count("GET /site/online.flt HTTP/1.0"), 2, fetched)  # the size probes
        self.assertFalse(any("pass.flt" in r for r in fetched), fetched)
        # The name with ".." was neither fetched nor installed, and said so.
        self.assertFalse(os.path.exists(os.path.join(self.root, "escape.txt")))
        self.assertFalse(any("escape" in r for r in server.requests()), server.requests())
        self.assertIn("../escape.txt 은(는) 설치 폴더 밖을 가리키므로 건너뜁니다.", out)
        self.assertIn('freshet: refused "../escape.txt"', out)
        self.assertEqual(self.recorded(),
                         {"DATE": "20240501", "Orvanta.exe": "2.0", "online.flt": "1.6", "pass.flt": "3.0"})
        self.assertEqual(os.listdir(self.path("temp")), [])

    def test_https_from_check_to_files_without_a_running_main_program(self):
        ca = CertAuthority(self.root)
        cert, key = ca.issue("server", "127.0.0.1", ["IP:127.0.0.1"])
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server = self.serve(context)
        self.assertTrue(server.url.startswith("https://"))
        self.o.env["ORVANTA_CA_FILE"] = ca.cert_path
        server.file("online.flt", b"over https")
        server.update_list("update 7\nx online.flt 2 user\n")

        # No main program ever ran: no "PROGRAM NAME" to stop, no "PROGRAM PATH", so the
        # updater's own directory is the installation.
        out = self.freshet()
        self.assertNotIn("[Freshet]", out)
        self.assertEqual(self.read("user", "online.flt"), b"over https")
        self.assertEqual(self.recorded(), {"DATE": "7", "online.flt": "2"})
        self.assertTrue(any(r.startswith("GET /site/online.flt") for r in server.requests()))

    def test_faults_leave_what_the_order_says(self):
        server = self.serve()
        server.file("a.dat", b"first file")
        # The server announces 50000 bytes and hangs up after 10000.
        server.file("b.dat", b"b" * 50000, cut=10000)
        server.update_list("update 11\nx a.dat 1 user\nx b.dat 1\n")
        with open(self.path("b.dat"), "wb") as f:
            f.write(b"old b")
        out = self.freshet("cut")
        self.assertIn("[Freshet] 파일을 가져오는데 실패했습니다.", out)
        self.assertNotIn("업데이트 파일을 복사합니다.", out)
        self.assertFalse(os.path.exists(self.path("user", "a.dat")))
        self.assertEqual(self.read("b.dat"), b"old b")
        self.assertEqual(self.recorded(), {})

        # The second file's destination is a directory: the first file stays installed, the
        # copy fails, nothing is recorded.
        server.file("b.dat", b"b" * 50000)
        os.remove(self.path("b.dat"))
        os.makedirs(self.path("b.dat", "inside"))
        self.stop_restarted(*self.restarted[-1])
        out = self.freshet("unwritable")
        self.assertIn("파일을 복사하는데 실패했습니다.", out)
        self.assertEqual(self.read("user", "a.dat"), b"first file")
        self.assertTrue(os.path.isdir(self.path("b.dat", "inside")))
        self.assertEqual(sorted(os.listdir(self.o.home)), ["b.dat", "temp", "user"])  # nothing left beside it
        self.assertEqual(self.recorded(), {})


if __name__ == "__main__":
    unittest.main(verbosity=2)
