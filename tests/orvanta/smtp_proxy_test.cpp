#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <chrono>
#include <string>
#include <thread>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

#include "../common/loopback_server.h"
#include "common/client_socket.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/settings.h"
#include "orvanta/proxy/smtp_proxy.h"
#include "common/smtp_reply.h"
#include "platform/registry.h"
#include "tests/common/free_port.h"

using orvanta::IntSetting;
using orvanta::StringSetting;
using testing_peer::LoopbackServer;
using testing_peer::Peer;

namespace {

int FreePort() { return testing_peer::FreeLoopbackPort(); }

TEST(SmtpReply, FinalLines)
{
    EXPECT_TRUE(smtpreply::IsFinalLine("250 ok"));
    EXPECT_TRUE(smtpreply::IsFinalLine("250"));  // the code alone ends a reply too
    EXPECT_FALSE(smtpreply::IsFinalLine("250-SIZE"));
    EXPECT_FALSE(smtpreply::IsFinalLine("25"));
    EXPECT_FALSE(smtpreply::IsFinalLine("abc"));
    EXPECT_FALSE(smtpreply::IsFinalLine(""));
    EXPECT_TRUE(smtpreply::IsPositive(250));
    EXPECT_TRUE(smtpreply::IsPositive(354));
    EXPECT_FALSE(smtpreply::IsPositive(421));
    EXPECT_FALSE(smtpreply::IsPositive(0));
}

TEST(SmtpProxySender, AddressOfMailFrom)
{
    EXPECT_EQ(smtpproxy::SenderAddress("MAIL FROM:<kim@example.org>"), "kim@example.org");
    EXPECT_EQ(smtpproxy::SenderAddress("mail from: <kim@example.org> SIZE=100 BODY=8BITMIME"), "kim@example.org");
    EXPECT_EQ(smtpproxy::SenderAddress("MAIL FROM: kim@example.org"), "kim@example.org");
    EXPECT_EQ(smtpproxy::SenderAddress("MAIL FROM:kim@example.org SIZE=5"), "kim@example.org");
    EXPECT_EQ(smtpproxy::SenderAddress("MAIL FROM:<>"), "");
    EXPECT_EQ(smtpproxy::SenderAddress("MAIL FROM:<kim@example.org"), "kim@example.org");
    // Only 150 bytes of the argument count.
    std::string longLine = "MAIL FROM:<" + std::string(300, 'a') + "@example.org>";
    EXPECT_EQ(smtpproxy::SenderAddress(longLine), std::string(148, 'a'));
}

TEST(SmtpProxyEhlo, CapabilitiesTheRelayCannotCarryAreLeftOut)
{
    EXPECT_EQ(smtpproxy::RelayableEhloReply("250-a.example\r\n250-SIZE 10\r\n250 STARTTLS\r\n"),
              "250-a.example\r\n250 SIZE 10\r\n");
    EXPECT_EQ(smtpproxy::RelayableEhloReply("250 a.example\r\n"), "250 a.example\r\n");
    EXPECT_EQ(smtpproxy::RelayableEhloReply("250-starttls.example\r\n250-chunking\r\n250-BINARYMIME\r\n250 HELP\r\n"),
              "250-starttls.example\r\n250 HELP\r\n");
}

// A proxy on a free port, a registry of its own with two accounts whose outgoing server is
// the scripted peer, and a plain client connection.
class SmtpProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_ = std::filesystem::temp_directory_path() / ("smtp_proxy_" + std::to_string(::getpid()) + ".db");
        std::filesystem::remove(registry_);
        setenv("ORVANTA_REGISTRY", registry_.c_str(), 1);
        orvanta::ResetSettings();
        port_ = FreePort();
        ASSERT_TRUE(proxy_.Start("localhost", port_));
    }
    void TearDown() override
    {
        proxy_.Terminate();
        std::filesystem::remove(registry_);
    }

    void Account(const char* key, const char* email, int port)
    {
        std::string path = std::string("Software\\Microsoft\\Internet Account Manager\\Accounts\\") + key;
        platform::HKEY k = nullptr;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &k), platform::ERROR_SUCCESS);
        auto text = [&](const char* name, const char* value) {
            platform::RegSetValueEx(k, name, platform::REG_SZ, reinterpret_cast<const unsigned char*>(value),
                                    static_cast<platform::DWORD>(std::strlen(value) + 1));
        };
        text("POP3 USER Name", "user");
        text("SMTP Email Address", email);
        text("SMTP SERVER", "127.0.0.1");
        platform::DWORD p = static_cast<platform::DWORD>(port);
        platform::RegSetValueEx(k, "SMTP Port", platform::REG_DWORD, reinterpret_cast<const unsigned char*>(&p), 4);
        platform::RegCloseKey(k);
        orvanta::BuildSmtpAccountTable();
    }

    // The client's side: connects and reads the greeting.
    void Connect()
    {
        ASSERT_EQ(client_.Connect("127.0.0.1", port_), 1);
        EXPECT_EQ(Line(), "220 Orvanta ESMTP Proxy Server... by pellix");
    }
    std::string Line()
    {
        std::string line;
        char buf[1024];
        for (;;) {
            int n = client_.ReadLine(buf, sizeof buf);
            if (n < 0)
                return "<closed>";
            line.append(buf, static_cast<size_t>(n));
            if (client_.LastLineEnded())
                return line;
        }
    }
    void Send(const std::string& line) { client_.SendLine(line.data(), static_cast<int>(line.size())); }

    std::filesystem::path registry_;
    CSmtpProxy proxy_{nullptr};
    CClientSocket client_{65536};
    int port_ = 0;
};

TEST_F(SmtpProxyTest, HeloWayReplaysGreetingAndMailFromAndRelaysLongReplyLines)
{
    LoopbackServer server;
    Account("00000001", "one@example.org", server.port());
    std::string longText(3000, 'x');
    std::string ehloSeen, heloSeen, mailSeen, rcptSeen;
    server.Serve([&](Peer& peer) {
        peer.Send("220-first greeting line\r\n220 second\r\n");
        // The proxy asks for STARTTLS with an EHLO of the client's name; none is offered here.
        ehloSeen = peer.RecvLine();
        peer.Send("250-real.example\r\n250 8BITMIME\r\n");
        heloSeen = peer.RecvLine();
        peer.Send("250 hello\r\n");
        mailSeen = peer.RecvLine();
        peer.Send("250-" + longText + "\r\n250\r\n");
        rcptSeen = peer.RecvLine();
        peer.Send("250 recipient ok\r\n");
        if (peer.RecvLine() == "QUIT")
            peer.Send("221 bye\r\n");
    });
    Connect();
    Send("HELO my.host");
    EXPECT_EQ(Line(), "250 Bang ga ! Orvanta ESMTP Proxy Server... by pellix");
    Send("MAIL FROM:<one@example.org> SIZE=10");
    EXPECT_EQ(Line(), "250-" + longText);  // whole, not cut at 2047 bytes
    EXPECT_EQ(Line(), "250");
    Send("RCPT TO:<a@b.example>");
    EXPECT_EQ(Line(), "250 recipient ok");
    Send("QUIT");
    EXPECT_EQ(Line(), "221 bye");
    EXPECT_EQ(Line(), "<closed>");
    server.Join();
    EXPECT_EQ(ehloSeen, "EHLO my.host");
    EXPECT_EQ(heloSeen, "HELO my.host");
    EXPECT_EQ(mailSeen, "MAIL FROM:<one@example.org> SIZE=10");
    EXPECT_EQ(rcptSeen, "RCPT TO:<a@b.example>");
}

TEST_F(SmtpProxyTest, MailFromWithoutAnyAccountEndsTheSession)
{
    orvanta::BuildSmtpAccountTable();  // the empty registry: no account
    Connect();
    Send("HELO my.host");
    EXPECT_EQ(Line().substr(0, 4), "250 ");
    Send("MAIL FROM:<one@example.org>");
    EXPECT_EQ(Line(), "<closed>");
}

TEST_F(SmtpProxyTest, EhloCancelledInTheChoiceEndsTheSession)
{
    LoopbackServer server;
    Account("00000001", "one@example.org", server.port());
    int asked = 0;
    proxy_.SetServerChooser([&] {
        ++asked;
        return false;
    });
    orvanta::SetSetting(StringSetting::SelectSmtpServer, "127.0.0.1");
    orvanta::SetSetting(IntSetting::SelectSmtpPort, server.port());
    Connect();
    Send("EHLO my.host");
    EXPECT_EQ(Line(), "<closed>");
    EXPECT_EQ(asked, 1);
    EXPECT_LT(server.AcceptOne(200), 0);  // no server was contacted
}

TEST_F(SmtpProxyTest, EhloTakesTheChoiceAndRelaysTheServersReply)
{
    LoopbackServer server;
    Account("00000001", "one@example.org", server.port());
    std::string ehloSeen;
    server.Serve([&](Peer& peer) {
        peer.Send("220 real server\r\n");
        ehloSeen = peer.RecvLine();
        // A STARTTLS offered here would be taken up by the proxy itself (see the TLS tests).
        peer.Send("250-real.example\r\n250-AUTH LOGIN\r\n250-8BITMIME\r\n250 CHUNKING\r\n");
        peer.RecvLine();  // the client's close ends the session; nothing more comes
    });
    Connect();
    Send("EHLO my.host");
    // What a line relay cannot carry is not offered.
    EXPECT_EQ(Line(), "250-real.example");
    EXPECT_EQ(Line(), "250-AUTH LOGIN");
    EXPECT_EQ(Line(), "250 8BITMIME");
    Send("STARTTLS");
    EXPECT_EQ(Line(), "454 4.7.0 TLS not available through this proxy");
    client_.Close();
    server.Join();
    proxy_.Terminate();
    EXPECT_EQ(ehloSeen, "EHLO my.host");
    // The stand-in for the dialog stored the first account as the choice.
    EXPECT_EQ(orvanta::GetSetting(StringSetting::SelectSmtpServer), "127.0.0.1");
    EXPECT_EQ(orvanta::GetSetting(IntSetting::SelectSmtpPort), server.port());
    EXPECT_EQ(orvanta::GetSetting(IntSetting::SelectSmtpAlways), 0);
}

TEST_F(SmtpProxyTest, RememberedServerIsUsedWithoutAskingAndKeptAfterAMail)
{
    LoopbackServer server;
    proxy_.SetServerChooser([] {
        ADD_FAILURE() << "asked although the choice is remembered";
        return false;
    });
    orvanta::SetSetting(StringSetting::SelectSmtpServer, "127.0.0.1");
    orvanta::SetSetting(IntSetting::SelectSmtpPort, server.port());
    orvanta::SetSetting(IntSetting::SelectSmtpAlways, 1);
    std::string text;
    server.Serve([&](Peer& peer) {
        peer.Send("220 real\r\n");
        peer.RecvLine();
        peer.Send("250 real\r\n");
        for (const char* reply : {"250 sender\r\n", "250 rcpt\r\n", "354 go on\r\n"}) {
            peer.RecvLine();
            peer.Send(reply);
        }
        for (;;) {
            bool ok = false;
            std::string line = peer.RecvLine(&ok);
            if (!ok || line == ".")
                break;
            text += line + "\n";
        }
        peer.Send("250 queued\r\n");
        peer.RecvLine();
        peer.Send("221 bye\r\n");
    });
    Connect();
    Send("EHLO my.host");
    EXPECT_EQ(Line(), "250 real");
    Send("MAIL FROM:<x@y>");
    EXPECT_EQ(Line(), "250 sender");
    Send("RCPT TO:<z@w>");
    EXPECT_EQ(Line(), "250 rcpt");
    Send("DATA");
    EXPECT_EQ(Line(), "354 go on");
    // Commands inside the text get no reply of their own: the next reply is the message's.
    client_.Write("QUIT\r\nHELO x\r\n..dot\r\n.\r\n", 24);
    EXPECT_EQ(Line(), "250 queued");
    Send("QUIT");
    EXPECT_EQ(Line(), "221 bye");
    server.Join();
    EXPECT_EQ(text, "QUIT\nHELO x\n..dot\n");
    EXPECT_EQ(Line(), "<closed>");
    proxy_.Terminate();  // the session has ended once the proxy is down
    EXPECT_EQ(orvanta::GetSetting(IntSetting::SelectSmtpAlways), 1);
}

TEST_F(SmtpProxyTest, OnlyDotCrLfAfterCrLfEndsTheTextAsAStrictServerReadsIt)
{
    LoopbackServer server;
    orvanta::SetSetting(StringSetting::SelectSmtpServer, "127.0.0.1");
    orvanta::SetSetting(IntSetting::SelectSmtpPort, server.port());
    orvanta::SetSetting(IntSetting::SelectSmtpAlways, 1);
    std::string text;
    bool whole = false;
    server.Serve([&](Peer& peer) {
        peer.Send("220 real\r\n");
        for (const char* reply : {"250 real\r\n", "250 sender\r\n", "250 rcpt\r\n", "354 go on\r\n"}) {
            peer.RecvLine();
            peer.Send(reply);
        }
        text = peer.RecvUntil("\r\n.\r\n", &whole);
        peer.Send("250 queued\r\n");
        peer.RecvLine();
        peer.Send("221 bye\r\n");
    });
    Connect();
    for (const char* command : {"EHLO my.host", "MAIL FROM:<x@y>", "RCPT TO:<z@w>", "DATA"}) {
        Send(command);
        Line();
    }
    // Near misses of the end, some split across writes, then a dot line of a million CRs
    // (held back whole, it once grew without bound): all of it is message text.
    const std::string crs = "." + std::string(1000000, '\r') + "\n";
    const std::vector<std::string> pieces = {"a\r\n.\r\r\n", "b\n", ".\r\n", "c\r\n.", "\n",
                                             "d\r\n.",       "\r",  "x\r\n", crs,      "e\r\n.\r\n"};
    std::string sent;
    for (const std::string& piece : pieces) {
        client_.Write(piece.data(), static_cast<int>(piece.size()));
        sent += piece;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(Line(), "250 queued");
    Send("QUIT");
    EXPECT_EQ(Line(), "221 bye");
    server.Join();
    EXPECT_TRUE(whole);
    EXPECT_EQ(text.size(), sent.size());
    EXPECT_TRUE(text == sent);
}

TEST_F(SmtpProxyTest, ServerThatDropsMidReplyEndsTheSession)
{
    LoopbackServer server;
    orvanta::SetSetting(StringSetting::SelectSmtpServer, "127.0.0.1");
    orvanta::SetSetting(IntSetting::SelectSmtpPort, server.port());
    orvanta::SetSetting(IntSetting::SelectSmtpAlways, 1);
    server.Serve([&](Peer& peer) {
        peer.Send("220 real\r\n");
        peer.RecvLine();
        peer.Send("250-half a reply\r\n");
        peer.Close();
    });
    Connect();
    Send("EHLO my.host");
    EXPECT_EQ(Line(), "250-half a reply");
    EXPECT_EQ(Line(), "<closed>");
    server.Join();
    proxy_.Terminate();
    EXPECT_EQ(orvanta::GetSetting(IntSetting::SelectSmtpAlways), 0);  // no mail went out
}

}  // namespace
