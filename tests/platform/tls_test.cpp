#include "platform/tls.h"

#include <gtest/gtest.h>

#include "tests/common/tls_test_peer.h"

using platform::CTlsSession;

namespace {

int ConnectTo(int port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// Blocking helpers over the non-blocking session.
bool WriteAll(int fd, CTlsSession& tls, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        int n = tls.Write(data.data() + done, static_cast<int>(data.size() - done));
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == CTlsSession::kError || !platform::WaitSocket(fd, n, 5000)) {
            return false;
        }
    }
    return true;
}

std::string ReadUntil(int fd, CTlsSession& tls, const std::string& end)
{
    std::string got;
    char chunk[4096];
    while (got.find(end) == std::string::npos) {
        int n = tls.Read(chunk, sizeof chunk);
        if (n > 0) {
            got.append(chunk, static_cast<size_t>(n));
        } else if (n == CTlsSession::kClosed || n == CTlsSession::kError || !platform::WaitSocket(fd, n, 5000)) {
            break;
        }
    }
    return got;
}

// An echo server over implicit TLS: every line comes back with "echo " before it.
void Echo(tlstest::Conn& c)
{
    if (!c.Upgrade())
        return;
    std::string line;
    while (c.Line(&line)) {
        if (line == "bye")
            return;
        c.Send("echo " + line + "\r\n");
    }
}

struct Handshaken {
    int fd = -1;
    std::unique_ptr<CTlsSession> tls;
    std::string error;
    ~Handshaken()
    {
        tls.reset();
        if (fd >= 0)
            ::close(fd);
    }
};

void Handshake(Handshaken& h, int port, const std::string& host, int timeoutMs = 5000)
{
    h.fd = ConnectTo(port);
    ASSERT_GE(h.fd, 0);
    h.tls = CTlsSession::Handshake(h.fd, host, timeoutMs, &h.error);
}

class TlsSessionTest : public ::testing::Test {
protected:
    tlstest::Pki pki;
    tlstest::CaFileEnv env{pki.caFile};
};

}  // namespace

TEST_F(TlsSessionTest, VerifiedSessionCarriesDataBothWays)
{
    tlstest::Cert leaf;
    tlstest::MakeCert(leaf, "localhost", "DNS:localhost,IP:127.0.0.1", &pki.ca, false);
    tlstest::Server server(leaf, Echo);
    for (const char* host : {"localhost", "127.0.0.1"}) {
        Handshaken h;
        Handshake(h, server.port(), host);
        ASSERT_TRUE(h.tls) << host << ": " << h.error;
        EXPECT_EQ(h.tls->Description().rfind("TLSv1.", 0), 0u) << h.tls->Description();
        // More than one TLS record each way.
        std::string big(100000, 'x');
        ASSERT_TRUE(WriteAll(h.fd, *h.tls, "hello\r\n" + big + "\r\n"));
        std::string got = ReadUntil(h.fd, *h.tls, big + "\r\n");
        EXPECT_EQ(got, "echo hello\r\necho " + big + "\r\n");
        ASSERT_TRUE(WriteAll(h.fd, *h.tls, "bye\r\n"));
        // The server's closing alert reads as an orderly end.
        char c;
        int n;
        while ((n = h.tls->Read(&c, 1)) == CTlsSession::kWantRead && platform::WaitSocket(h.fd, n, 5000)) {
        }
        EXPECT_EQ(n, CTlsSession::kClosed);
    }
}

TEST_F(TlsSessionTest, CertificateFaultsAreRefusedWithTheirReason)
{
    tlstest::Cert wrongName, stranger, expired, notYet, dnsOnly;
    tlstest::MakeCert(wrongName, "mail.example.org", "DNS:mail.example.org", &pki.ca, false);
    tlstest::MakeCert(stranger, "localhost", "DNS:localhost", &pki.otherCa, false);
    tlstest::MakeCert(expired, "localhost", "DNS:localhost", &pki.ca, false, -30, -1);
    tlstest::MakeCert(notYet, "localhost", "DNS:localhost", &pki.ca, false, 2, 30);
    tlstest::MakeCert(dnsOnly, "localhost", "DNS:localhost", &pki.ca, false);
    struct Case {
        const tlstest::Cert* cert;
        const char* host;
        const char* reason;
    } cases[] = {
        {&wrongName, "localhost", "wrong name: the certificate is not for localhost"},
        {&stranger, "localhost", "certificate issuer unknown"},
        {&expired, "localhost", "certificate expired"},
        {&notYet, "localhost", "certificate not valid yet"},
        // An address is checked against the address entries, not against a name.
        {&dnsOnly, "127.0.0.1", "wrong name: the certificate is not for 127.0.0.1"},
        // A name that only ends like the certificate's is no match.
        {&wrongName, "example.org", "wrong name"},
    };
    for (const Case& c : cases) {
        tlstest::Server server(*c.cert, Echo);
        Handshaken h;
        Handshake(h, server.port(), c.host);
        EXPECT_FALSE(h.tls) << c.reason;
        EXPECT_NE(h.error.find(c.reason), std::string::npos) << "got: " << h.error << "; want: " << c.reason;
    }
}

TEST(TlsTrust, OwnCaIsUnknownWithoutTheExtraAnchorAndAMissingAnchorFileIsNamed)
{
    tlstest::Pki pki;
    tlstest::Cert leaf;
    tlstest::MakeCert(leaf, "localhost", "DNS:localhost", &pki.ca, false);
    tlstest::Server server(leaf, Echo);
    unsetenv("ORVANTA_CA_FILE");
    {
        Handshaken h;
        Handshake(h, server.port(), "localhost");
        EXPECT_FALSE(h.tls);
        EXPECT_NE(h.error.find("issuer unknown"), std::string::npos) << h.error;
    }
    {
        tlstest::CaFileEnv env(pki.caFile);
        Handshaken h;
        Handshake(h, server.port(), "localhost");
        EXPECT_TRUE(h.tls) << h.error;
    }
    {
        tlstest::CaFileEnv env((pki.dir / "missing.pem").string());
        Handshaken h;
        Handshake(h, server.port(), "localhost");
        EXPECT_FALSE(h.tls);
        EXPECT_NE(h.error.find("missing.pem"), std::string::npos) << h.error;
    }
}

TEST_F(TlsSessionTest, ServersThatDoNotSpeakTlsEndTheHandshakeInTime)
{
    tlstest::Cert leaf;
    tlstest::MakeCert(leaf, "localhost", "DNS:localhost", &pki.ca, false);
    {
        // Answers the client's hello with a plain POP3 line.
        tlstest::Server server(leaf, [](tlstest::Conn& c) {
            c.Send("+OK plain\r\n");
            std::string line;
            c.Line(&line);
        });
        Handshaken h;
        Handshake(h, server.port(), "localhost");
        EXPECT_FALSE(h.tls);
        EXPECT_NE(h.error.find("TLS handshake failed"), std::string::npos) << h.error;
    }
    {
        tlstest::Server server(leaf, [](tlstest::Conn&) {});  // closes at once
        Handshaken h;
        Handshake(h, server.port(), "localhost");
        EXPECT_FALSE(h.tls);
        EXPECT_FALSE(h.error.empty());
    }
    {
        // Says nothing: the handshake gives up after its time.
        tlstest::Server server(leaf, [](tlstest::Conn& c) {
            char b[100];
            while (::recv(c.fd(), b, sizeof b, 0) > 0) {
            }
        });
        Handshaken h;
        auto start = std::chrono::steady_clock::now();
        h.fd = ConnectTo(server.port());
        h.tls = CTlsSession::Handshake(h.fd, "localhost", 300, &h.error);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(h.tls);
        EXPECT_NE(h.error.find("no TLS answer"), std::string::npos) << h.error;
        EXPECT_LT(took, std::chrono::seconds(3));
        ::shutdown(h.fd, SHUT_RDWR);  // lets the server's thread go
    }
    std::string error;
    EXPECT_FALSE(CTlsSession::Handshake(-1, "localhost", 100, &error));
}
