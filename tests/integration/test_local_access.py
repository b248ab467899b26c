"""Who may use the three servers of a running orvanta: this user's clients on 127.0.0.1 and
::1, not another user of the machine (a client run as nobody) and not another address; with
IMAP_LOCAL 0 the IMAP server takes other addresses, with the password IMAP_PASSWORD."""
import imaplib
import os
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from test_orvanta_instance import Orvanta, OPTION_KEY  # noqa: E402

GREETINGS = {"pop3": b"+OK Orvanta POP3-Proxy Server ready.", "smtp": b"220 Orvanta ESMTP Proxy Server",
             "imap": b"* OK localhost IMAP4rev1"}
# The system's interpreter: one below root's home would not be open to nobody.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
# Run as nobody: what the server sends first, or CLOSED.
CLIENT = """
import socket, sys
s = socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=10)
try:
    data = s.recv(200)
except ConnectionResetError:
    data = b""
print(repr(data) if data else "CLOSED")
"""


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def non_loopback_address():
    """An IPv4 address of this machine outside 127.0.0.0/8, or None."""
    out = subprocess.run(["ip", "-4", "-o", "addr", "show", "scope", "global", "up"],
                         capture_output=True, text=True).stdout.split()
    return out[out.index("inet") + 1].split("/")[0] if "inet" in out else None


def first_bytes(host, port):
    """What the server first sends to our own client; b"" when it closes the connection."""
    with socket.create_connection((host, port), timeout=10) as s:
        try:
            return s.recv(200)
        except ConnectionResetError:
            return b""


def as_nobody(host, port):
    r = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", PYTHON, "-c", CLIENT,
                        host, str(port)], capture_output=True, text=True, timeout=30, cwd="/")
    assert r.returncode == 0, r.stderr
    return r.stdout.strip()


def login(host, port, password):
    imap = imaplib.IMAP4(host, port, timeout=10)
    try:
        return imap.login("anyone", password)[0] == "OK" and imap.select("INBOX")[0] == "OK"
    except imaplib.IMAP4.error:
        return False
    finally:
        imap.shutdown()


class LocalAccessTest(unittest.TestCase):
    def setUp(self):
        self.o = None

    def tearDown(self):
        if self.o:
            self.o.stop()

    def start(self, imap_local=1, password=None):
        if self.o:
            self.o.stop()
        self.o = Orvanta()
        self.o.set_dword("IMAP_LOCAL", imap_local)
        if password is not None:
            r = self.o.reg("add", OPTION_KEY, "/v", "IMAP_PASSWORD", "/t", "REG_SZ", "/d", password, "/f")
            self.assertEqual(r.returncode, 0, r.stderr)
        self.o.start()
        self.o.wait_line("IMAP server listening on port")
        return {"pop3": self.o.pop3_port, "smtp": self.o.smtp_port, "imap": self.o.imap_port}

    def test_this_users_clients_on_both_loopback_addresses_and_nobody_else(self):
        ports = self.start()
        addresses = ["127.0.0.1"] + (["::1"] if has_ipv6_loopback() else [])
        if len(addresses) == 1:
            print("no ::1 on this machine: 127.0.0.1 alone")
        if os.geteuid() != 0:
            print("not root: no client of another user")
        for name, port in ports.items():
            for host in addresses:
                with self.subTest(server=name, host=host):
                    self.assertTrue(first_bytes(host, port).startswith(GREETINGS[name]))
                    if os.geteuid() == 0:
                        self.assertEqual(as_nobody(host, port), "CLOSED")
                        self.o.wait_line("Refused a connection to port %d from %s" %
                                         (port, "[::1]" if ":" in host else host))
        # This user's mail client notices nothing: LOGIN with anything, on ::1 too.
        for host in addresses:
            self.assertTrue(login(host, ports["imap"], "anything"))
        outside = non_loopback_address()
        if not outside:
            print("no address besides loopback on this machine: not tried from outside")
        for name, port in ports.items() if outside else ():
            with self.subTest(server=name, outside=outside), self.assertRaises(ConnectionRefusedError):
                socket.create_connection((outside, port), timeout=10).close()

    def test_imap_on_every_address_needs_the_password_from_outside(self):
        outside = non_loopback_address()
        if not outside:
            self.skipTest("no address besides loopback on this machine")
        # No password set: another address is refused at once; loopback goes on as before.
        ports = self.start(imap_local=0)
        self.assertEqual(first_bytes(outside, ports["imap"]), b"")
        self.o.wait_line("from %s:" % outside)
        self.assertIn("need a password, and none is set", self.o.output())
        self.assertTrue(login("127.0.0.1", ports["imap"], "anything"))

        ports = self.start(imap_local=0, password="s3cret pass")
        self.assertFalse(login(outside, ports["imap"], "wrong"))
        self.o.wait_line("LOGIN with a wrong password")
        self.assertTrue(login(outside, ports["imap"], "s3cret pass"))
        self.assertTrue(login("127.0.0.1", ports["imap"], "anything"))
        # The proxies stay on the loopback addresses whatever IMAP_LOCAL says.
        for port in (ports["pop3"], ports["smtp"]):
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection((outside, port), timeout=10).close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
