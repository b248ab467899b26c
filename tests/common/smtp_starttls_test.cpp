#include "common/smtp_starttls.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

#include "common/client_socket.h"
#include "common/smtp_reply.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tls_test_peer.h"

extern char** environ;

namespace {

int FreePort(const std::string& host)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

// aiosmtpd (tests/common/smtp_tls_peer.py) as a child process, until destroyed.
class AioSmtpd {
public:
    AioSmtpd(const std::string& host, int port, const char* mode, const std::string& cert, const std::string& key,
             const std::string& outdir)
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string script = std::string(ORVANTA_SOURCE_DIR) + "/tests/common/smtp_tls_peer.py";
        std::string portText = std::to_string(port);
        const char* argv[] = {"/usr/bin/python3", script.c_str(), host.c_str(),   portText.c_str(), mode,
                              cert.c_str(),       key.c_str(),    outdir.c_str(), nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        // Bounded wait for its "READY" line. The pipe stays open while the server runs: a
        // child writing into a closed pipe would die of it.
        stdout_ = out[0];
        pollfd p{stdout_, POLLIN, 0};
        std::string said;
        char buf[256];
        while (said.find("READY\n") == std::string::npos && ::poll(&p, 1, 20000) > 0) {
            ssize_t n = ::read(stdout_, buf, sizeof buf);
            if (n <= 0)
                break;
            said.append(buf, static_cast<size_t>(n));
        }
        ready_ = said.find("READY\n") != std::string::npos;
    }
    ~AioSmtpd()
    {
        if (stdin_ >= 0)
            ::close(stdin_);
        if (pid_ > 0) {
            bool ended = false;
            for (int i = 0; i < 100 && !ended; ++i) {
                ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
                if (!ended)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!ended) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }
    bool ready() const { return ready_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool ready_ = false;
};

std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// One command and its reply code.
int Command(CClientSocket& s, const std::string& line)
{
    std::string wire;
    int code = 0;
    if (!s.SendLine(line.data(), static_cast<int>(line.size())) || !smtptls::ReadReply(s, &wire, &code))
        return -1;
    return code;
}

class SmtpTls : public ::testing::Test {
protected:
    SmtpTls() { std::filesystem::create_directories(out); }
    // Certificate for `host`, key and certificate files for the server.
    void Certificate(const std::string& host)
    {
        tlstest::MakeCert(leaf, "localhost", ("DNS:localhost,IP:" + host).c_str(), &pki.ca, false);
        certFile = (pki.dir / "smtp.pem").string();
        keyFile = (pki.dir / "smtp.key").string();
        tlstest::WritePem(leaf, certFile);
        tlstest::WriteKeyPem(leaf, keyFile);
    }
    // Log-in and one message after a successful negotiation.
    void SendMail(CClientSocket& s)
    {
        EXPECT_EQ(Command(s, "AUTH PLAIN AGFsaWNlAHNlY3JldA=="), 235);
        EXPECT_EQ(Command(s, "MAIL FROM:<sender@example.org>"), 250);
        EXPECT_EQ(Command(s, "RCPT TO:<rcpt@example.org>"), 250);
        EXPECT_EQ(Command(s, "DATA"), 354);
        std::string text = "Subject: over TLS\r\n\r\nHello.\r\n..dot\r\n";
        ASSERT_TRUE(s.Write(text.data(), static_cast<int>(text.size())));
        EXPECT_EQ(Command(s, "."), 250);
        Command(s, "QUIT");
        s.Close();
        EXPECT_EQ(Slurp(out / "1.env"), "user alice\nfrom sender@example.org\nto rcpt@example.org\ntls True\n");
        EXPECT_NE(Slurp(out / "1.eml").find("Hello.\r\n.dot"), std::string::npos);
    }

    tlstest::Pki pki;
    tlstest::CaFileEnv env{pki.caFile};
    tlstest::Cert leaf;
    std::filesystem::path out = pki.dir / "out";
    std::string certFile, keyFile;
};

}  // namespace

TEST(SmtpStartTlsText, OfferAndRemovalOfTheStartTlsLine)
{
    EXPECT_TRUE(smtptls::OffersStartTls("250-mail.example.org\r\n250-starttls\r\n250 AUTH PLAIN\r\n"));
    EXPECT_TRUE(smtptls::OffersStartTls("250-mail.example.org\r\n250 STARTTLS\r\n"));
    EXPECT_FALSE(smtptls::OffersStartTls("250-mail.example.org\r\n250-X-STARTTLS\r\n250 STARTTLSX\r\n"));
    EXPECT_FALSE(smtptls::OffersStartTls("502 EHLO not here\r\n"));
    EXPECT_EQ(smtptls::WithoutStartTls("250-mail\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n"),
              "250-mail\r\n250 AUTH PLAIN\r\n");
    // The line left last ends the reply.
    EXPECT_EQ(smtptls::WithoutStartTls("250-mail\r\n250-SIZE 100\r\n250 STARTTLS\r\n"), "250-mail\r\n250 SIZE 100\r\n");
    EXPECT_EQ(smtptls::WithoutStartTls("250 mail\r\n"), "250 mail\r\n");
}

TEST(SmtpStartTlsText, ImplicitTlsPorts)
{
    unsetenv("ORVANTA_SMTP_IMPLICIT_TLS_PORT");
    EXPECT_TRUE(smtptls::IsImplicitTlsPort(465));
    EXPECT_FALSE(smtptls::IsImplicitTlsPort(25));
    EXPECT_FALSE(smtptls::IsImplicitTlsPort(587));
    // The override adds a port; 465 stays implicit, and a malformed value adds nothing.
    setenv("ORVANTA_SMTP_IMPLICIT_TLS_PORT", "2465", 1);
    EXPECT_TRUE(smtptls::IsImplicitTlsPort(2465));
    EXPECT_TRUE(smtptls::IsImplicitTlsPort(465));
    EXPECT_FALSE(smtptls::IsImplicitTlsPort(587));
    for (const char* bad : {"2465x", "", "0", "-1", "70000"}) {
        setenv("ORVANTA_SMTP_IMPLICIT_TLS_PORT", bad, 1);
        EXPECT_FALSE(smtptls::IsImplicitTlsPort(2465)) << bad;
        EXPECT_FALSE(smtptls::IsImplicitTlsPort(0)) << bad;
        EXPECT_TRUE(smtptls::IsImplicitTlsPort(465)) << bad;
    }
    unsetenv("ORVANTA_SMTP_IMPLICIT_TLS_PORT");
}

// A reply is read whole across any cut of the reads; one that never ends, in length or in
// lines, counts as broken instead of keeping the reader for ever.
TEST(SmtpReplyRead, WholeRepliesAndEndlessOnes)
{
    testing_peer::LoopbackServer server;
    std::string endless;
    for (int i = 0; i < smtpreply::kMaxReplyLines + 1; ++i)
        endless += "250-line " + std::to_string(i) + "\r\n";
    server.Serve([&](testing_peer::Peer& p) {
        p.SendAndPause("250-mail.exa");
        p.SendAndPause("mple.org\r\n250-SIZE 10\r\n25");
        p.Send("0 AUTH PLAIN\r\n354\r\n");
        p.Send(endless + "250 too late\r\n");
        p.RecvAll(2000);
    });
    CClientSocket s(64);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    std::string wire;
    int code = -1;
    ASSERT_TRUE(smtptls::ReadReply(s, &wire, &code));
    EXPECT_EQ(wire, "250-mail.example.org\r\n250-SIZE 10\r\n250 AUTH PLAIN\r\n");
    EXPECT_EQ(code, 250);
    ASSERT_TRUE(smtpreply::ReadReply(s, 16, nullptr, &code));  // the code alone ends a reply
    EXPECT_EQ(code, 354);
    EXPECT_FALSE(smtptls::ReadReply(s, &wire, &code));
    s.Close();
}

TEST_F(SmtpTls, StartTlsWithAioSmtpdThenAuthInsideTls)
{
    Certificate("127.0.0.1");
    int port = FreePort("127.0.0.1");
    AioSmtpd server("127.0.0.1", port, "starttls", certFile, keyFile, out.string());
    ASSERT_TRUE(server.ready());
    CClientSocket s(2048);
    ASSERT_EQ(smtptls::Connect(s, "127.0.0.1", port), 1);
    std::string wire, failure;
    int code = 0;
    ASSERT_TRUE(smtptls::ReadReply(s, &wire, &code));
    EXPECT_EQ(code, 220);
    ASSERT_EQ(smtptls::Negotiate(s, "EHLO client.example.org", true, &wire, &code, &failure), smtptls::kReady)
        << failure;
    EXPECT_TRUE(s.IsTls());
    EXPECT_EQ(code, 250);
    EXPECT_EQ(wire.find("STARTTLS"), std::string::npos) << wire;
    EXPECT_NE(wire.find("AUTH"), std::string::npos) << wire;  // offered only inside TLS
    SendMail(s);
}

TEST_F(SmtpTls, ImplicitTlsOn465WithAioSmtpd)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "binding port 465 needs root";
    // A loopback address of its own, so port 465 is free on it.
    std::mt19937 random(std::random_device{}());
    std::string host = "127." + std::to_string(1 + random() % 254) + "." + std::to_string(random() % 256) + "." +
                       std::to_string(1 + random() % 254);
    Certificate(host);
    AioSmtpd server(host, smtptls::kImplicitTlsPort, "implicit", certFile, keyFile, out.string());
    ASSERT_TRUE(server.ready());
    CClientSocket s(2048);
    ASSERT_EQ(smtptls::Connect(s, host.c_str(), smtptls::kImplicitTlsPort), 1) << s.TlsError();
    EXPECT_TRUE(s.IsTls());
    std::string wire, failure;
    int code = 0;
    ASSERT_TRUE(smtptls::ReadReply(s, &wire, &code));
    EXPECT_EQ(code, 220);
    ASSERT_EQ(smtptls::Negotiate(s, "EHLO client.example.org", true, &wire, &code, &failure), smtptls::kReady)
        << failure;
    EXPECT_NE(wire.find("AUTH"), std::string::npos) << wire;
    SendMail(s);
}

TEST_F(SmtpTls, RefusalsAndServersWithoutTls)
{
    Certificate("127.0.0.1");
    struct Case {
        const char* ehloReply;
        const char* startTlsReply;
        bool required;
        int result;
        const char* failure;
        std::vector<std::string> received;  // by the server, in order
        bool hangUp = false;                // the server closes right after its EHLO reply
    } cases[] = {
        {"250-mail\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n",
         "454 4.7.0 not now\r\n",
         false,
         smtptls::kTlsFailed,
         "the server offered STARTTLS but refused it: 454 4.7.0 not now",
         {"EHLO me", "STARTTLS"}},
        {"250-mail\r\n250 AUTH PLAIN\r\n", "", true, smtptls::kNoTls, "the server offers no TLS", {"EHLO me"}},
        {"250-mail\r\n250 AUTH PLAIN\r\n", "", false, smtptls::kReady, "", {"EHLO me", "NOOP"}},
        // A reply behind the 220, sent before TLS began, is never read as protected.
        {"250-mail\r\n250 STARTTLS\r\n",
         "220 go\r\n250 injected\r\n",
         false,
         smtptls::kTlsFailed,
         "the server sent more than its answer before TLS began",
         {"EHLO me", "STARTTLS"}},
        // Half a reply, then nothing: whether TLS was on offer is unknown, so nothing more is sent.
        {"250-mail\r\n250-STARTTLS\r\n",
         "",
         false,
         smtptls::kBroken,
         "the server went away after EHLO",
         {"EHLO me"},
         true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> received;
        {
            tlstest::Server server(leaf, [&](tlstest::Conn& conn) {
                conn.Send("220 scripted\r\n");
                std::string line;
                while (conn.Line(&line)) {
                    received.push_back(line);
                    if (line == "STARTTLS") {
                        conn.Send(c.startTlsReply);
                    } else if (line.rfind("EHLO", 0) == 0) {
                        conn.Send(c.ehloReply);
                        if (c.hangUp)
                            return;
                    } else {
                        conn.Send("250 ok\r\n");
                    }
                }
            });
            CClientSocket s(2048);
            ASSERT_EQ(smtptls::Connect(s, "127.0.0.1", server.port()), 1);
            std::string wire, failure;
            int code = 0;
            ASSERT_TRUE(smtptls::ReadReply(s, &wire, &code));
            EXPECT_EQ(smtptls::Negotiate(s, "EHLO me", c.required, &wire, &code, &failure), c.result) << c.ehloReply;
            EXPECT_EQ(failure, c.failure);
            EXPECT_EQ(s.IsConnected(), c.result == smtptls::kReady);
            if (c.result == smtptls::kReady) {
                EXPECT_EQ(wire, c.ehloReply);
                EXPECT_EQ(Command(s, "NOOP"), 250);
            }
            s.Close();
        }
        EXPECT_EQ(received, c.received) << c.ehloReply;
    }
}
