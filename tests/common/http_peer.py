"""A web server for the tests of the HTTP client (platform/http.h).

usage: http_peer.py FD ROOT LOG [PKI]
Serves the files below ROOT on the listening socket FD, which the test opened and passes down.
With PKI, over TLS: the directory gets ca.pem (a CA of the test's own) and a server
certificate from it for IP:127.0.0.1 only, unless they are there already. Prints "READY" and
runs until killed. Every request's line and headers go to LOG before it is answered.

  /NAME             the file with its Content-Length; 404 when there is none
  /nolength/NAME    the file without Content-Length, ended by closing the connection
  /short/NAME       the whole file's Content-Length, but only its first half, then closed
  /slow/NAME        the file in 16 KiB pieces 20 ms apart; then "aborted /slow/NAME" in LOG
                    when the client hung up before the end, else "complete /slow/NAME"
  /redirect/N/NAME  302 to /redirect/N-1/NAME, from /redirect/0/NAME to /NAME
"""
import functools
import os
import socket
import ssl
import sys
import threading
import time
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration", "lib"))


class Handler(SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def body(self, name):
        try:
            with open(os.path.join(self.directory, name), "rb") as f:
                return f.read()
        except OSError:
            self.send_error(404)
            return None

    def start(self, status, length=None, location=None):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        if location is not None:
            self.send_header("Location", location)
        self.end_headers()
        self.close_connection = True

    def do_GET(self):
        self.server.record("%s\n%s" % (self.requestline, self.headers))
        parts = self.path.lstrip("/").split("/")
        kind, name = parts[0], parts[-1]
        if kind == "redirect" and len(parts) == 3:
            n = int(parts[1])
            self.start(302, 0, "/redirect/%d/%s" % (n - 1, name) if n > 0 else "/" + name)
        elif kind in ("nolength", "short", "slow") and len(parts) == 2:
            data = self.body(name)
            if data is None:
                return
            self.start(200, None if kind == "nolength" else len(data))
            if kind == "nolength":
                self.wfile.write(data)
            elif kind == "short":
                self.wfile.write(data[:len(data) // 2])
            else:
                try:
                    for at in range(0, len(data), 16384):
                        self.wfile.write(data[at:at + 16384])
                        time.sleep(0.02)
                    self.server.record("complete " + self.path)
                except OSError:
                    self.server.record("aborted " + self.path)
        else:
            super().do_GET()


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, fd, root, log, context):
        super().__init__(("127.0.0.1", 0), functools.partial(Handler, directory=root), bind_and_activate=False)
        self.socket.close()
        self.socket = socket.socket(fileno=fd)
        self.server_name, self.server_port = self.socket.getsockname()[:2]
        self.log = log
        self.lock = threading.Lock()
        self.context = context

    def record(self, text):
        with self.lock, open(self.log, "a") as f:
            f.write(text.rstrip("\n") + "\n\n")

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread: a client refusing the
        # certificate only ends its own connection.
        if self.context:
            request = self.context.wrap_socket(request, server_side=True)
        try:
            self.RequestHandlerClass(request, client_address, self)
        finally:
            request.close()

    def handle_error(self, request, client_address):
        pass


def main():
    fd, root, log = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    context = None
    if len(sys.argv) > 4:
        pki = sys.argv[4]
        if not os.path.exists(os.path.join(pki, "ca.pem")):
            from tlscerts import CertAuthority
            os.makedirs(pki, exist_ok=True)
            ca = CertAuthority(pki, "Orvanta HTTP Test CA")
            ca.issue("server", "127.0.0.1", ["IP:127.0.0.1"])
            os.replace(ca.cert_path, os.path.join(pki, "ca.pem"))
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(pki, "server.pem"), os.path.join(pki, "server.key"))
    server = Server(fd, root, log, context)
    print("READY", flush=True)
    server.serve_forever()


main()
