#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fetchling/fetchling.h"
#include "tests/common/tls_test_peer.h"

namespace {

// A POP3 server that answers CAPA with `capa` (a whole reply), STLS with `stls` and then, after
// "+OK", turns to TLS and answers USER. It records every line it gets.
struct Scripted {
    std::string capa;
    std::string stls = "+OK begin\r\n";
    std::vector<std::string> received;

    void operator()(tlstest::Conn& c)
    {
        c.Send("+OK ready\r\n");
        std::string line;
        while (c.Line(&line)) {
            received.push_back(line);
            if (line == "CAPA") {
                c.Send(capa);
            } else if (line == "STLS") {
                c.Send(stls);
                if (stls.rfind("+OK", 0) != 0 || !c.Upgrade())
                    return;
                received.push_back("<tls>");
            } else {
                c.Send("+OK\r\n");
            }
        }
    }
};

class Pop3TlsTest : public ::testing::Test {
protected:
    Pop3TlsTest() { tlstest::MakeCert(leaf, "localhost", "IP:127.0.0.1", &pki.ca, false); }

    // Connects, reads the greeting and negotiates; the result of NegotiateTls.
    int Negotiate(Scripted& script, bool required, const tlstest::Cert* cert = nullptr)
    {
        server = std::make_unique<tlstest::Server>(cert ? *cert : leaf, [&script](tlstest::Conn& c) { script(c); });
        account = std::make_unique<CPop3Account>("/tmp", "mailhost", "127.0.0.1", "alice", "", server->port());
        EXPECT_EQ(client.Connect(account.get()), 1);
        char greeting[100];
        EXPECT_GT(client.ReadLine(greeting, sizeof greeting), 0);
        return client.NegotiateTls(required);
    }
    // Ends the session so the scripted server's thread is done with `received`.
    void Finish()
    {
        client.Close();
        server.reset();
    }

    tlstest::Pki pki;
    tlstest::CaFileEnv env{pki.caFile};
    tlstest::Cert leaf;
    std::unique_ptr<tlstest::Server> server;
    std::unique_ptr<CPop3Account> account;
    CPop3Client client;
};

}  // namespace

TEST_F(Pop3TlsTest, StlsAmongLongAndLowerCaseCapabilitiesUpgrades)
{
    Scripted script;
    script.capa = "+OK Capability list follows\r\nTOP\r\nSASL " + std::string(3000, 'X') + "\r\nstls\r\nUIDL\r\n.\r\n";
    ASSERT_EQ(Negotiate(script, true), 1) << client.TlsFailure();
    EXPECT_TRUE(client.IsTls());
    client.SendLine("USER alice");
    char reply[100];
    ASSERT_GT(client.ReadLine(reply, sizeof reply), 0);
    EXPECT_STREQ(reply, "+OK");
    Finish();
    EXPECT_EQ(script.received, (std::vector<std::string>{"CAPA", "STLS", "<tls>", "USER alice"}));
}

TEST_F(Pop3TlsTest, WithoutAnOfferThePlainConnectionStaysUnlessTlsIsRequired)
{
    for (const char* capa : {"-ERR unknown command\r\n", "+OK\r\nUSER\r\nSTLSX\r\nX-STLS\r\n.\r\n"}) {
        {
            Scripted script;
            script.capa = capa;
            EXPECT_EQ(Negotiate(script, false), 1) << capa;
            EXPECT_FALSE(client.IsTls());
            EXPECT_TRUE(client.IsConnect());
            // The connection is in step: the next reply is the one to the next command.
            client.SendLine("NOOP");
            char reply[100];
            ASSERT_GT(client.ReadLine(reply, sizeof reply), 0);
            EXPECT_STREQ(reply, "+OK");
            Finish();
        }
        {
            Scripted script;
            script.capa = capa;
            EXPECT_EQ(Negotiate(script, true), -40) << capa;
            EXPECT_EQ(client.TlsFailure(), "the server offers no TLS");
            EXPECT_FALSE(client.IsConnect());
            Finish();
            EXPECT_EQ(script.received, std::vector<std::string>{"CAPA"});
        }
    }
}

TEST_F(Pop3TlsTest, AnOfferThatFailsClosesWithoutAnotherPlainCommand)
{
    {
        Scripted script;
        script.capa = "+OK\r\nSTLS\r\n.\r\n";
        script.stls = "-ERR TLS is broken today\r\n";
        EXPECT_EQ(Negotiate(script, false), -30);
        EXPECT_EQ(client.TlsFailure(), "the server offered STLS but refused it: -ERR TLS is broken today");
        EXPECT_FALSE(client.IsConnect());
        Finish();
        EXPECT_EQ(script.received, (std::vector<std::string>{"CAPA", "STLS"}));
    }
    {
        // The certificate names another host.
        tlstest::Cert other;
        tlstest::MakeCert(other, "mail.example.org", "DNS:mail.example.org", &pki.ca, false);
        Scripted script;
        script.capa = "+OK\r\nSTLS\r\n.\r\n";
        EXPECT_EQ(Negotiate(script, false, &other), -30);
        EXPECT_NE(client.TlsFailure().find("wrong name"), std::string::npos) << client.TlsFailure();
        EXPECT_FALSE(client.IsConnect());
        Finish();
        EXPECT_EQ(script.received, (std::vector<std::string>{"CAPA", "STLS"}));
    }
    {
        // A listing without its end is not read forever.
        Scripted script;
        script.capa = "+OK\r\n";
        for (int i = 0; i < 300; ++i)
            script.capa += "X-CAP" + std::to_string(i) + "\r\n";
        EXPECT_EQ(Negotiate(script, false), -10);
        EXPECT_FALSE(client.IsConnect());
        Finish();
    }
}
