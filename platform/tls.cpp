#include "platform/tls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace platform {

namespace {

// --- a socket BIO that never raises SIGPIPE --------------------------------------------------
// OpenSSL's own socket BIO writes with write(), which kills a process that does not ignore
// SIGPIPE when the server has gone away; this one sends with MSG_NOSIGNAL.

struct SocketBioState {
    int fd = -1;
    bool eof = false;
};

int BioWrite(BIO* bio, const char* data, int size)
{
    auto* state = static_cast<SocketBioState*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(state->fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* dest, int size)
{
    auto* state = static_cast<SocketBioState*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::recv(state->fd, dest, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0)
        state->eof = true;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

int BioPuts(BIO* bio, const char* text) { return BioWrite(bio, text, static_cast<int>(strlen(text))); }

long BioCtrl(BIO* bio, int cmd, long, void*)
{
    auto* state = static_cast<SocketBioState*>(BIO_get_data(bio));
    switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return state && state->eof ? 1 : 0;
    default: return 0;
    }
}

int BioDestroy(BIO* bio)
{
    delete static_cast<SocketBioState*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

BIO_METHOD* SocketBioMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "orvanta socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_puts(m, BioPuts);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_destroy(m, BioDestroy);
        return m;
    }();
    return method;
}

BIO* NewSocketBio(int fd)
{
    BIO* bio = BIO_new(SocketBioMethod());
    if (!bio)
        return nullptr;
    auto* state = new SocketBioState;
    state->fd = fd;
    BIO_set_data(bio, state);
    BIO_set_init(bio, 1);
    return bio;
}

// --- the shared client context -----------------------------------------------------------------

struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

// One context for every session, built again when $ORVANTA_CA_FILE changes (tests set it
// after start-up). Sessions hold their own reference, so replacing it is safe.
SSL_CTX* ClientContext(std::string* error)
{
    static std::mutex lock;
    static std::unique_ptr<SSL_CTX, CtxFree> cached;
    static std::string cachedCaFile;
    const char* env = std::getenv("ORVANTA_CA_FILE");
    std::string caFile = env ? env : "";
    std::lock_guard guard(lock);
    if (cached && caFile == cachedCaFile) {
        SSL_CTX_up_ref(cached.get());
        return cached.get();
    }
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) {
        *error = "cannot set up TLS";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // One receive takes in as many records as have arrived instead of two receives a record
    // (header, then body); Pending() counts what is buffered that way.
    SSL_CTX_set_read_ahead(ctx.get(), 1);
    if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1)
        ERR_clear_error();  // no system store: only the extra anchor
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr) != 1) {
        ERR_clear_error();
        *error = "cannot load the trust anchor " + caFile + " named by ORVANTA_CA_FILE";
        return nullptr;
    }
    cached = std::move(ctx);
    cachedCaFile = caFile;
    SSL_CTX_up_ref(cached.get());
    return cached.get();
}

bool IsIpAddress(const std::string& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// The certificate check's verdict in words a user can act on.
std::string VerifyReason(long result, const std::string& host)
{
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return "certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "certificate not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "wrong name: the certificate is not for " + host;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return "certificate issuer unknown (not in the trust store)";
    case X509_V_ERR_CERT_REVOKED: return "certificate revoked";
    default: return std::string("certificate refused: ") + X509_verify_cert_error_string(result);
    }
}

std::string LibraryReason(const char* fallback)
{
    unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(code);
    return std::string("TLS handshake failed: ") + (reason ? reason : fallback);
}

}  // namespace

struct CTlsSession::Impl {
    SSL* ssl = nullptr;
    int fd = -1;
    bool broken = false;  // a fatal error happened: no closing alert may follow
    bool closed = false;
    ~Impl()
    {
        if (ssl)
            SSL_free(ssl);
    }
};

CTlsSession::CTlsSession(std::unique_ptr<Impl> impl) : m_pImpl(std::move(impl)) {}

CTlsSession::~CTlsSession() = default;

bool WaitSocket(int socket, int want, int timeoutMs)
{
    pollfd p{socket, static_cast<short>(want == CTlsSession::kWantWrite ? POLLOUT : POLLIN), 0};
    for (;;) {
        int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

std::unique_ptr<CTlsSession> CTlsSession::Handshake(int socket, const std::string& host, int timeoutMs,
                                                    std::string* error)
{
    std::string ignored;
    if (!error)
        error = &ignored;
    if (socket < 0) {
        *error = "not connected";
        return nullptr;
    }
    if (host.empty()) {
        *error = "no host name to check the certificate against";
        return nullptr;
    }
    SSL_CTX* ctx = ClientContext(error);
    if (!ctx)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->fd = socket;
    impl->ssl = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the session holds its own reference now
    if (!impl->ssl) {
        *error = "cannot set up TLS";
        return nullptr;
    }
    SSL* ssl = impl->ssl;
    BIO* bio = NewSocketBio(socket);
    if (!bio) {
        *error = "cannot set up TLS";
        return nullptr;
    }
    SSL_set_bio(ssl, bio, bio);
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (IsIpAddress(host)) {
        // An address is checked against the certificate's IP entries; it is no server name.
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) != 1) {
            *error = "cannot check the certificate against " + host;
            return nullptr;
        }
    } else if (SSL_set1_host(ssl, host.c_str()) != 1 || SSL_set_tlsext_host_name(ssl, host.c_str()) != 1) {
        ERR_clear_error();
        *error = "cannot check the certificate against " + host;
        return nullptr;
    }

    int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
        *error = "cannot set up TLS";
        return nullptr;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    ERR_clear_error();
    for (;;) {
        int rc = SSL_connect(ssl);
        if (rc == 1)
            break;
        int err = SSL_get_error(ssl, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitSocket(socket, err == SSL_ERROR_WANT_READ ? kWantRead : kWantWrite,
                                                 static_cast<int>(left.count()))) {
                *error = "no TLS answer from the server in " + std::to_string(timeoutMs / 1000) + " s";
                return nullptr;
            }
            continue;
        }
        long verdict = SSL_get_verify_result(ssl);
        if (verdict != X509_V_OK) {
            ERR_clear_error();
            *error = VerifyReason(verdict, host);
        } else if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN) {
            *error = LibraryReason("the server closed the connection during the TLS handshake");
        } else {
            *error = LibraryReason("TLS handshake failed");
        }
        return nullptr;
    }
    return std::unique_ptr<CTlsSession>(new CTlsSession(std::move(impl)));
}

int CTlsSession::Read(char* dest, int size)
{
    if (m_pImpl->broken || m_pImpl->closed)
        return kError;
    if (size <= 0)
        return kError;
    ERR_clear_error();
    int n = SSL_read(m_pImpl->ssl, dest, size);
    if (n > 0)
        return n;
    switch (SSL_get_error(m_pImpl->ssl, n)) {
    case SSL_ERROR_WANT_READ: return kWantRead;
    case SSL_ERROR_WANT_WRITE: return kWantWrite;
    case SSL_ERROR_ZERO_RETURN: return kClosed;
    default:
        ERR_clear_error();
        m_pImpl->broken = true;
        return kError;
    }
}

int CTlsSession::Write(const char* data, int size)
{
    if (m_pImpl->broken || m_pImpl->closed)
        return kError;
    if (size <= 0)
        return kError;
    ERR_clear_error();
    int n = SSL_write(m_pImpl->ssl, data, size);
    if (n > 0)
        return n;
    switch (SSL_get_error(m_pImpl->ssl, n)) {
    case SSL_ERROR_WANT_READ: return kWantRead;
    case SSL_ERROR_WANT_WRITE: return kWantWrite;
    default:
        ERR_clear_error();
        m_pImpl->broken = true;
        return kError;
    }
}

int CTlsSession::Pending() const
{
    int ready = SSL_pending(m_pImpl->ssl);
    // Received bytes not decrypted yet (read ahead) count too: a reader must not wait on the
    // socket for them. If they are only part of a record, Read says kWantRead.
    if (ready == 0 && SSL_has_pending(m_pImpl->ssl))
        ready = 1;
    return ready;
}

void CTlsSession::Close()
{
    if (m_pImpl->closed)
        return;
    m_pImpl->closed = true;
    if (!m_pImpl->broken) {
        ERR_clear_error();
        SSL_shutdown(m_pImpl->ssl);
        ERR_clear_error();
    }
}

std::string CTlsSession::Description() const
{
    const char* version = SSL_get_version(m_pImpl->ssl);
    const char* cipher = SSL_get_cipher_name(m_pImpl->ssl);
    return std::string(version ? version : "?") + " " + (cipher ? cipher : "?");
}

}  // namespace platform
