"""A real SMTP server (aiosmtpd) with TLS for the tests of the STARTTLS negotiation.

usage: smtp_tls_peer.py HOST PORT MODE CERT KEY OUTDIR
  MODE starttls  plain first, STARTTLS offered and required before anything else
  MODE implicit  TLS from the first byte
Accepts AUTH PLAIN/LOGIN for alice/secret only (inside TLS). Every message it takes is written
to OUTDIR/<n>.eml with the envelope in OUTDIR/<n>.env ("user", "from", "to" lines). Prints
"READY" when it listens and runs until stdin closes."""
import os
import ssl
import sys
import logging

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

# aiosmtpd logs a warning about its own deprecated attribute on every log-in.
logging.getLogger("mail.log").setLevel(logging.ERROR)
host, port, mode, cert, key, outdir = sys.argv[1:7]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
count = 0


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = auth_data.login == b"alice" and auth_data.password == b"secret"
    # Without auth_data the session would not remember who logged in.
    return AuthResult(success=ok, handled=False, auth_data=auth_data)


class Handler:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        with open(os.path.join(outdir, "%d.eml" % count), "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(os.path.join(outdir, "%d.env" % count), "w") as f:
            user = session.auth_data.login.decode() if session.auth_data else "-"
            # session.ssl is set only after STARTTLS; the transport knows both kinds of TLS.
            tls = server.transport.get_extra_info("ssl_object") is not None
            f.write("user %s\nfrom %s\nto %s\ntls %s\n" % (user, envelope.mail_from, " ".join(envelope.rcpt_tos), tls))
        return "250 OK stored"


if mode == "implicit":
    # aiosmtpd counts only STARTTLS as TLS for auth_require_tls; here every byte is inside TLS.
    controller = Controller(Handler(), hostname=host, port=int(port), ssl_context=context, authenticator=authenticate,
                            auth_require_tls=False)
else:
    controller = Controller(Handler(), hostname=host, port=int(port), tls_context=context, require_starttls=True,
                            authenticator=authenticate, auth_require_tls=True)
controller.start()
print("READY", flush=True)
sys.stdin.read()
controller.stop()
