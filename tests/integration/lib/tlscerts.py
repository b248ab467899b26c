"""Certificates for TLS tests, made with the openssl command line: a certificate authority of
the test's own and server certificates it signs.

API
---
CertAuthority(directory, name="Orvanta Test CA")
    .cert_path              the CA certificate (PEM): the trust anchor to hand to the program
    .issue(stem, cn, sans) -> (cert_path, key_path)
                            a server certificate for `cn` with subjectAltName entries such as
                            ["DNS:localhost", "IP:127.0.0.1"], valid for 30 days
"""
import os
import subprocess


def _openssl(*args):
    r = subprocess.run(["openssl", *args], capture_output=True, timeout=60)
    if r.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], r.stderr.decode(errors="replace")))


class CertAuthority:
    def __init__(self, directory, name="Orvanta Test CA"):
        self.dir = directory
        stem = name.replace(" ", "_").lower()
        self.cert_path = os.path.join(directory, stem + ".pem")
        self.key_path = os.path.join(directory, stem + ".key")
        _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                 "-keyout", self.key_path, "-out", self.cert_path, "-days", "30", "-subj", "/CN=" + name,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, stem, cn, sans):
        key = os.path.join(self.dir, stem + ".key")
        csr = os.path.join(self.dir, stem + ".csr")
        cert = os.path.join(self.dir, stem + ".pem")
        ext = os.path.join(self.dir, stem + ".ext")
        _openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                 "-keyout", key, "-out", csr, "-subj", "/CN=" + cn)
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\nsubjectAltName=%s\n" % ",".join(sans))
        _openssl("x509", "-req", "-in", csr, "-CA", self.cert_path, "-CAkey", self.key_path,
                 "-CAcreateserial", "-out", cert, "-days", "30", "-extfile", ext)
        # Dovecot's unprivileged processes read the files.
        for path in (cert, key):
            os.chmod(path, 0o644)
        return cert, key


def upgrade_server_side(conn, context, received):
    """Plays the server's TLS handshake on `conn`. Returns the TLS socket, or None when the
    handshake failed; `received` gets "<tls>" or "<handshake failed>", and after a failure
    whatever the client sent next in plain text."""
    import ssl
    raw = conn.dup()   # a failed handshake closes the wrapped socket
    try:
        tls = context.wrap_socket(conn, server_side=True)
        raw.close()
        received.append("<tls>")
        return tls
    except (ssl.SSLError, OSError):
        received.append("<handshake failed>")
        raw.settimeout(2)
        try:
            rest = raw.recv(4096)
        except OSError:
            rest = b""
        raw.close()
        if rest:
            received.append("<plain after failure> " + rest.decode(errors="replace"))
        return None
