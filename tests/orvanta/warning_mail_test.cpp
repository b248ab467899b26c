#include "orvanta/pipeline/warning_mail.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "../common/loopback_server.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/pipeline/spam_notices.h"
#include "platform/codepage.h"

using namespace orvanta::pipeline;
using testing_peer::LoopbackServer;
using testing_peer::Peer;

namespace {

const std::string kSubject = platform::Utf8ToCp949("[Orvanta] 스팸메일을 발송하지 마세요.");

TEST(WarningMessage, HeadersEmptyLineAndDotStuffedText)
{
    std::string text = ".first\r\nmiddle\r\n.\r\n..two\r\nlast";
    EXPECT_EQ(WarningMessage("spam@bad.example", "me@home.example", text),
              "FROM: me@home.example\r\nTo: spam@bad.example\r\nSUBJECT: " + kSubject +
                  "\r\n\r\n..first\r\nmiddle\r\n..\r\n...two\r\nlast\r\n");
    EXPECT_EQ(WarningMessage("a@b", "c@d", ""), "FROM: c@d\r\nTo: a@b\r\nSUBJECT: " + kSubject + "\r\n\r\n\r\n");
}

// Plays a server that answers with `replies` in turn (the greeting first) and records every
// line it receives until QUIT or a time-out.
struct ScriptedServer {
    LoopbackServer server;
    std::vector<std::string> seen;

    void Play(std::vector<std::string> replies)
    {
        server.Serve([this, replies](Peer& peer) {
            size_t next = 0;
            peer.Send(replies[next++]);
            bool inText = false;
            for (;;) {
                bool ok = false;
                std::string line = peer.RecvLine(&ok, 2000);
                if (!ok)
                    return;
                seen.push_back(line);
                if (inText && line != ".")
                    continue;
                inText = false;
                if (line == "DATA")
                    inText = replies[next].rfind("354", 0) == 0;
                if (next < replies.size())
                    peer.Send(replies[next++]);
                if (line == "QUIT")
                    return;
            }
        });
    }
};

TEST(WarningMail, DialogueWaitsForEveryReply)
{
    ScriptedServer s;
    s.Play({"220-welcome\r\n220 mail.example\r\n", "250-mail.example\r\n250 8BITMIME\r\n", "250 hi\r\n",
            "250 sender ok\r\n", "250 rcpt ok\r\n", "354 send\r\n", "250 queued\r\n", "221 bye\r\n"});
    EXPECT_TRUE(SendWarningMailTo("127.0.0.1", s.server.port(), "spam@bad.example", "me@home.example",
                                  "stop it\r\n.\r\nplease"));
    s.server.Join();
    // The EHLO asks for STARTTLS; without it the dialogue goes on in plain text.
    std::vector<std::string> expected = {"EHLO localhost",
                                         "HELO localhost",
                                         "MAIL FROM: <me@home.example>",
                                         "RCPT TO: <spam@bad.example>",
                                         "DATA",
                                         "FROM: me@home.example",
                                         "To: spam@bad.example",
                                         "SUBJECT: " + kSubject,
                                         "",
                                         "stop it",
                                         "..",
                                         "please",
                                         ".",
                                         "QUIT"};
    EXPECT_EQ(s.seen, expected);
}

TEST(WarningMail, RefusedRecipientEndsBeforeData)
{
    ScriptedServer s;
    s.Play({"220 mail.example\r\n", "250 mail.example\r\n", "250 hi\r\n", "250 sender ok\r\n", "550 no such user\r\n",
            "250 x\r\n", "250 x\r\n"});
    EXPECT_FALSE(SendWarningMailTo("127.0.0.1", s.server.port(), "spam@bad.example", "me@home.example", "text"));
    s.server.Join();
    std::vector<std::string> expected = {"EHLO localhost", "HELO localhost", "MAIL FROM: <me@home.example>",
                                         "RCPT TO: <spam@bad.example>"};
    EXPECT_EQ(s.seen, expected);
}

TEST(WarningMail, RefusedGreetingSendsNothing)
{
    ScriptedServer s;
    s.Play({"554 go away\r\n"});
    EXPECT_FALSE(SendWarningMailTo("127.0.0.1", s.server.port(), "spam@bad.example", "me@home.example", "text"));
    s.server.Join();
    EXPECT_TRUE(s.seen.empty());
}

TEST(WarningMail, NothingWithoutAServerOneDomainOrAnUnusableAddress)
{
    auto registry = std::filesystem::temp_directory_path() / ("warning_mail_" + std::to_string(::getpid()) + ".db");
    std::filesystem::remove(registry);
    setenv("ORVANTA_REGISTRY", registry.c_str(), 1);
    orvanta::BuildSmtpAccountTable();  // no account
    WarningTexts()[0] = "text";
    EXPECT_FALSE(SendWarningMail("spam@bad.example", "me@home.example", 0));
    EXPECT_FALSE(SendWarningMail("other@home.example", "me@home.example", 0));
    EXPECT_FALSE(SendWarningMail("spam@bad.example\r\nRCPT TO:<x@y>", "me@home.example", 0));
    EXPECT_FALSE(SendWarningMail("", "me@home.example", 0));
    EXPECT_FALSE(SendWarningMail("spam@bad.example", "me@home.example", 3));
    std::filesystem::remove(registry);
}

}  // namespace
