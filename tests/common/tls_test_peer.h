#pragma once
// A certificate authority made in the test and a small TLS server on loopback that speaks
// plain text first and TLS when told to, for the tests of the client side of TLS.
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace tlstest {

inline EVP_PKEY* NewKey() { return EVP_EC_gen("P-256"); }

inline void AddExt(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// One certificate with its key; issued by `issuer` (self-signed when null).
struct Cert {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    Cert() = default;
    Cert(const Cert&) = delete;
    Cert& operator=(const Cert&) = delete;
    ~Cert()
    {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// `san` like "DNS:localhost,IP:127.0.0.1"; validity from now + fromDays to now + toDays.
inline void MakeCert(Cert& out, const char* cn, const char* san, const Cert* issuer, bool ca, long fromDays = -1,
                     long toDays = 30)
{
    static long serial = 1000;
    out.key = NewKey();
    out.cert = X509_new();
    X509_set_version(out.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(out.cert), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(out.cert), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(out.cert), toDays * 86400);
    X509_set_pubkey(out.cert, out.key);
    X509_NAME* name = X509_get_subject_name(out.cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509* issuerCert = issuer ? issuer->cert : out.cert;
    X509_set_issuer_name(out.cert, X509_get_subject_name(issuerCert));
    if (ca) {
        AddExt(out.cert, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
        AddExt(out.cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExt(out.cert, issuerCert, NID_basic_constraints, "CA:FALSE");
        if (san)
            AddExt(out.cert, issuerCert, NID_subject_alt_name, san);
    }
    AddExt(out.cert, issuerCert, NID_subject_key_identifier, "hash");
    X509_sign(out.cert, issuer ? issuer->key : out.key, EVP_sha256());
}

inline void WritePem(const Cert& c, const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "w");
    PEM_write_X509(f, c.cert);
    std::fclose(f);
}

inline void WriteKeyPem(const Cert& c, const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "w");
    PEM_write_PrivateKey(f, c.key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

// A directory with a CA of the test's own and certificates from it.
struct Pki {
    std::filesystem::path dir;
    Cert ca;
    Cert otherCa;  // not trusted: certificates it issues have an unknown issuer
    std::string caFile;

    Pki()
    {
        char tmpl[] = "/tmp/orvanta-tls-XXXXXX";
        dir = mkdtemp(tmpl);
        MakeCert(ca, "Orvanta Test CA", nullptr, nullptr, true);
        MakeCert(otherCa, "Stranger CA", nullptr, nullptr, true);
        caFile = (dir / "ca.pem").string();
        WritePem(ca, caFile);
    }
    ~Pki()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// A server context presenting `cert`.
inline SSL_CTX* ServerContext(const Cert& cert)
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert.cert);
    SSL_CTX_use_PrivateKey(ctx, cert.key);
    return ctx;
}

// One accepted connection as the server sees it: plain lines first, TLS after Upgrade().
class Conn {
public:
    Conn(int fd, SSL_CTX* ctx) : fd_(fd), ctx_(ctx) {}
    ~Conn()
    {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        ::close(fd_);
    }
    bool Upgrade()
    {
        ssl_ = SSL_new(ctx_);
        SSL_set_fd(ssl_, fd_);
        return SSL_accept(ssl_) == 1;
    }
    bool Send(const std::string& data)
    {
        if (ssl_)
            return SSL_write(ssl_, data.data(), static_cast<int>(data.size())) == static_cast<int>(data.size());
        return ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
    }
    // One line with its CR LF taken off; false when the connection ended first.
    bool Line(std::string* line)
    {
        for (;;) {
            size_t p = buf_.find("\r\n");
            if (p != std::string::npos) {
                *line = buf_.substr(0, p);
                buf_.erase(0, p + 2);
                return true;
            }
            char chunk[4096];
            int n = ssl_ ? SSL_read(ssl_, chunk, sizeof chunk) : static_cast<int>(::recv(fd_, chunk, sizeof chunk, 0));
            if (n <= 0)
                return false;
            buf_.append(chunk, static_cast<size_t>(n));
        }
    }
    int fd() const { return fd_; }

private:
    int fd_;
    SSL_CTX* ctx_;
    SSL* ssl_ = nullptr;
    std::string buf_;
};

// Serves one connection after another with `handler` on its own thread until destroyed.
class Server {
public:
    Server(const Cert& cert, std::function<void(Conn&)> handler)
        : ctx_(ServerContext(cert)), handler_(std::move(handler))
    {
        // The server side writes with OpenSSL's own socket BIO; a client that hung up must
        // not end the test program.
        std::signal(SIGPIPE, SIG_IGN);
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0)
                    return;
                Conn conn(c, ctx_);
                handler_(conn);
            }
        });
    }
    ~Server()
    {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
        SSL_CTX_free(ctx_);
    }
    int port() const { return port_; }

private:
    SSL_CTX* ctx_;
    std::function<void(Conn&)> handler_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Sets $ORVANTA_CA_FILE for one test.
struct CaFileEnv {
    explicit CaFileEnv(const std::string& path) { setenv("ORVANTA_CA_FILE", path.c_str(), 1); }
    ~CaFileEnv() { unsetenv("ORVANTA_CA_FILE"); }
};

}  // namespace tlstest
