"""A real SMTP server with TLS (aiosmtpd) for the tests: the recording server of smtp_server.py
with a certificate, speaking either STARTTLS or TLS from the first byte.

API
---
TlsSmtpServer(cert, key, host="127.0.0.1", port=None, implicit=False, users=None)
    implicit False  plain text first, STARTTLS offered and required before MAIL; AUTH (with
                    `users`) offered and taken only inside TLS
    implicit True   TLS from the first byte; AUTH offered at once
    .start(), .stop(), .port, .host, .wait_messages(n) as SmtpServer
    .messages       smtp_server.Received, each with .tls: True when it came inside TLS
"""
import logging
import ssl

import smtp_server
from smtp_server import SmtpServer

# aiosmtpd warns on every log-in about an attribute it sets itself.
logging.getLogger("mail.log").setLevel(logging.ERROR)


class _TlsHandler(smtp_server._Handler):
    async def handle_DATA(self, server, session, envelope):
        reply = await super().handle_DATA(server, session, envelope)
        with self.owner.lock:
            # After STARTTLS and with implicit TLS alike the transport carries the SSL object.
            self.owner.messages[-1].tls = server.transport.get_extra_info("ssl_object") is not None
        return reply


class TlsSmtpServer(SmtpServer):
    def __init__(self, cert, key, host="127.0.0.1", port=None, implicit=False, users=None):
        super().__init__(port=port, users=users)
        self.controller.loop.close()   # the plain controller made there is replaced below
        self.host = host
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        kwargs = {}
        if users is not None:
            # aiosmtpd counts only STARTTLS as TLS for auth_require_tls.
            kwargs = dict(authenticator=self._authenticate, auth_require_tls=not implicit)
        if implicit:
            kwargs["ssl_context"] = context
        else:
            kwargs.update(tls_context=context, require_starttls=True)
        self.controller = smtp_server._Controller(_TlsHandler(self), hostname=host, port=self.port,
                                                  ready_timeout=10, **kwargs)
