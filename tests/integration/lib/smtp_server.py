"""A real SMTP server (aiosmtpd) on a loopback port for the tests: records every session's
greeting, log-in and message; long lines allowed; refuses recipients named in `refuse`.
aiosmtpd is installed for the system's /usr/bin/python3; `available()` tells whether this
interpreter has it, so tests can skip cleanly."""
import socket
import threading
import time

try:
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP, AuthResult
except ImportError:   # the tests skip
    Controller = None
    SMTP = object


def available():
    return Controller is not None


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Received:
    def __init__(self, helo, mail_from, rcpt_tos, content, login):
        self.helo = helo
        self.mail_from = mail_from
        self.rcpt_tos = rcpt_tos
        self.content = content   # the message bytes after the server took out the dot-stuffing
        self.login = login       # (user, password) of an AUTH, or None


class _Handler:
    def __init__(self, owner):
        self.owner = owner

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.owner.refuse:
            return "550 5.1.1 no such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        login = getattr(session, "auth_data", None)
        if login is not None:
            login = (login.login.decode(), login.password.decode())
        with self.owner.lock:
            self.owner.messages.append(Received(session.host_name, envelope.mail_from, list(envelope.rcpt_tos),
                                                bytes(envelope.original_content), login))
        return "250 2.0.0 accepted"


class _LongLineSMTP(SMTP):
    line_length_limit = 1 << 20


class _Controller(Controller or object):
    def factory(self):
        return _LongLineSMTP(self.handler, **self.SMTP_kwargs)


class SmtpServer:
    """aiosmtpd on 127.0.0.1:`port` (one the test picked). With `users` it offers AUTH
    (without TLS) and accepts exactly those user/password pairs."""

    def __init__(self, port=None, users=None, refuse=()):
        self.port = port or free_port()
        self.refuse = set(refuse)
        self.users = users
        self.messages = []
        self.lock = threading.Lock()
        kwargs = {}
        if users is not None:
            kwargs = dict(authenticator=self._authenticate, auth_require_tls=False)
        self.controller = _Controller(_Handler(self), hostname="127.0.0.1", port=self.port,
                                      ready_timeout=10, **kwargs)

    def _authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (auth_data.login.decode(), auth_data.password.decode()) in self.users.items()
        if ok:
            return AuthResult(success=True, auth_data=auth_data)
        return AuthResult(success=False, handled=False, message="535 5.7.8 credentials invalid")

    def start(self):
        self.controller.start()
        return self

    def stop(self):
        self.controller.stop()

    def wait_messages(self, count, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            with self.lock:
                if len(self.messages) >= count:
                    return list(self.messages)
            time.sleep(0.05)
        with self.lock:
            return list(self.messages)
