#include "common/client_socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/tls_test_peer.h"

namespace {

bool ReadWhole(CClientSocket& s, std::string* line)
{
    line->clear();
    char buf[2048];
    for (;;) {
        int n = s.ReadLine(buf, sizeof buf);
        if (n < 0)
            return false;
        line->append(buf, static_cast<size_t>(n));
        if (s.LastLineEnded())
            return true;
    }
}

// Echoes every line over TLS until "bye".
void EchoTls(tlstest::Conn& c)
{
    if (!c.Upgrade())
        return;
    std::string line;
    while (c.Line(&line) && line != "bye")
        c.Send("echo " + line + "\r\n");
}

// Plays a POP3 server's upgrade: greeting, then TLS after "STLS", then echoes.
void StlsServer(tlstest::Conn& c)
{
    c.Send("+OK ready\r\n");
    std::string line;
    if (!c.Line(&line) || line != "STLS")
        return;
    c.Send("+OK Begin TLS negotiation now.\r\n");
    EchoTls(c);
}

class ClientSocketTls : public ::testing::Test {
protected:
    ClientSocketTls() { tlstest::MakeCert(leaf, "localhost", "DNS:localhost,IP:127.0.0.1", &pki.ca, false); }
    tlstest::Pki pki;
    tlstest::CaFileEnv env{pki.caFile};
    tlstest::Cert leaf;
};

}  // namespace

TEST_F(ClientSocketTls, ImplicitTlsCarriesLinesPiecesAndRawBytes)
{
    tlstest::Server server(leaf, EchoTls);
    CClientSocket s(64);
    ASSERT_EQ(s.ConnectTls("localhost", server.port()), 1) << s.TlsError();
    EXPECT_TRUE(s.IsTls());
    EXPECT_TRUE(s.TlsError().empty());
    std::string line;
    ASSERT_TRUE(s.SendLine("one", 3));
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "echo one");
    // A line longer than the buffer comes in pieces, as over plain TCP.
    std::string longLine(300, 'z');
    ASSERT_TRUE(s.SendLine(longLine.data(), static_cast<int>(longLine.size())));
    char piece[2048];
    int n = s.ReadLine(piece, sizeof piece);
    EXPECT_EQ(n, 64);
    EXPECT_FALSE(s.LastLineEnded());
    std::string rest;
    ASSERT_TRUE(ReadWhole(s, &rest));
    EXPECT_EQ(std::string(piece, 64) + rest, "echo " + longLine);

    // Decrypted bytes the session holds count as pending: a reader that polls the socket
    // only when nothing is pending must not wait for bytes already here.
    ASSERT_TRUE(s.SendLine("0123456789012345678901234567890123456789", 40));
    char raw[8];
    ASSERT_EQ(s.ReadBytes(raw, sizeof raw), 8);
    std::string gathered(raw, 8);
    while (s.Pending() > 0) {
        int got = s.ReadBytes(raw, sizeof raw);
        ASSERT_GT(got, 0);
        gathered.append(raw, static_cast<size_t>(got));
    }
    EXPECT_EQ(gathered, "echo 0123456789012345678901234567890123456789\r\n");
    s.SendLine("bye", 3);
    EXPECT_EQ(s.ReadLine(piece, sizeof piece), -1);
    s.Close();
    EXPECT_FALSE(s.IsTls());
}

TEST_F(ClientSocketTls, UpgradeOnAnOpenConnectionAndConnectAgainInPlainText)
{
    tlstest::Server server(leaf, StlsServer);
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    std::string line;
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "+OK ready");
    EXPECT_FALSE(s.IsTls());
    s.SendLine("STLS", 4);
    ASSERT_TRUE(ReadWhole(s, &line));
    ASSERT_EQ(line.rfind("+OK", 0), 0u);
    // The name checked is the connected host's, here an address.
    ASSERT_TRUE(s.StartTls()) << s.TlsError();
    s.SendLine("USER alice", 10);
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "echo USER alice");
    s.SendLine("bye", 3);

    // The same object connects again without TLS.
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    EXPECT_FALSE(s.IsTls());
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "+OK ready");
    s.Close();
}

TEST_F(ClientSocketTls, BytesSentBeforeTheHandshakeEndTheConnection)
{
    // A server (or someone on the way) that puts a line behind its "+OK": read after the
    // upgrade, it would pass for protected text.
    tlstest::Server server(leaf, [](tlstest::Conn& c) {
        c.Send("+OK ready\r\n");
        std::string line;
        if (!c.Line(&line))
            return;
        c.Send("+OK go ahead\r\n+OK injected\r\n");
        c.Line(&line);
    });
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("localhost", server.port()), 1);
    std::string line;
    ASSERT_TRUE(ReadWhole(s, &line));
    s.SendLine("STLS", 4);
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "+OK go ahead");
    EXPECT_FALSE(s.StartTls());
    EXPECT_NE(s.TlsError().find("before TLS began"), std::string::npos) << s.TlsError();
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(s.SendLine("USER alice", 10));
}

TEST_F(ClientSocketTls, RefusedCertificatesCloseTheConnection)
{
    tlstest::Cert stranger, otherName;
    tlstest::MakeCert(stranger, "localhost", "DNS:localhost", &pki.otherCa, false);
    tlstest::MakeCert(otherName, "mail.example.org", "DNS:mail.example.org", &pki.ca, false);
    {
        tlstest::Server server(otherName, EchoTls);
        CClientSocket s(1000);
        EXPECT_EQ(s.ConnectTls("localhost", server.port()), -30);
        EXPECT_NE(s.TlsError().find("wrong name"), std::string::npos) << s.TlsError();
        EXPECT_FALSE(s.IsConnected());
    }
    {
        tlstest::Server server(stranger, EchoTls);
        CClientSocket s(1000);
        EXPECT_EQ(s.ConnectTls("localhost", server.port()), -30);
        EXPECT_NE(s.TlsError().find("issuer unknown"), std::string::npos) << s.TlsError();
        EXPECT_FALSE(s.IsConnected());
        EXPECT_FALSE(s.IsTls());
    }
    CClientSocket s(1000);
    EXPECT_EQ(s.ConnectTls("127.0.0.1", 1), -20);
}

TEST_F(ClientSocketTls, ReaderAndWriterThreadsShareTheSessionAndShutdownWakesTheReader)
{
    tlstest::Server server(leaf, EchoTls);
    CClientSocket s(2048);
    ASSERT_EQ(s.ConnectTls("localhost", server.port()), 1) << s.TlsError();
    constexpr int kLines = 500;
    std::vector<std::string> got;
    std::thread reader([&] {
        std::string line;
        while (static_cast<int>(got.size()) < kLines && ReadWhole(s, &line))
            got.push_back(line);
        // Blocks now until Shutdown() from the other thread.
        char c[10];
        got.push_back(s.ReadLine(c, sizeof c) == -1 ? "woken" : "data");
    });
    // Two writers at once, while the reader sits in its TLS reads.
    auto write = [&](const char* tag) {
        for (int i = 0; i < kLines / 2; ++i) {
            std::string line = std::string(tag) + std::to_string(i) + std::string(200, '.');
            ASSERT_TRUE(s.SendLine(line.data(), static_cast<int>(line.size())));
        }
    };
    std::thread w1(write, "a"), w2(write, "b");
    w1.join();
    w2.join();
    for (int i = 0; i < 200 && static_cast<int>(got.size()) < kLines; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s.Shutdown();
    reader.join();
    ASSERT_EQ(got.size(), static_cast<size_t>(kLines + 1));
    EXPECT_EQ(got.back(), "woken");
    int a = 0, b = 0;
    for (int i = 0; i < kLines; ++i) {
        ASSERT_EQ(got[i].rfind("echo ", 0), 0u) << got[i];
        ASSERT_EQ(got[i].size(), 5 + 1 + std::to_string(got[i][5] == 'a' ? a : b).size() + 200) << got[i];
        EXPECT_EQ(got[i].substr(6, got[i].size() - 206), std::to_string(got[i][5] == 'a' ? a++ : b++));
    }
    s.Close();
}
