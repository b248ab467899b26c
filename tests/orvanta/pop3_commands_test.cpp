#include <gtest/gtest.h>

#include <string>

#include "orvanta/proxy/pop3_commands.h"
#include "orvanta/proxy/proxy_mesg.h"

using namespace pop3proxy;

namespace {

// Five messages on the server; the examination took out 2 and 4.
ProxyMesgList ThreeOfFive()
{
    return {MakeProxyMesg(1, 100, "uid-1"), MakeProxyMesg(3, 300, "uid-3"), MakeProxyMesg(5, 500, "uid-5")};
}

TEST(LoginLine, UserServerAndPort)
{
    LoginTarget t;
    ASSERT_TRUE(ParseLoginLine("USER user1#mailhost#995", &t));
    EXPECT_EQ(t.user, "user1");
    EXPECT_EQ(t.server, "mailhost");
    EXPECT_EQ(t.port, 995);

    ASSERT_TRUE(ParseLoginLine("user   user1#mailhost", &t));
    EXPECT_EQ(t.server, "mailhost");
    EXPECT_EQ(t.port, 110);

    // Empty pieces between '#' do not count, like words between spaces.
    ASSERT_TRUE(ParseLoginLine("USER me@example.org##127.0.0.1#11110 extra", &t));
    EXPECT_EQ(t.user, "me@example.org");
    EXPECT_EQ(t.server, "127.0.0.1");
    EXPECT_EQ(t.port, 11110);
}

TEST(LoginLine, RefusedLines)
{
    LoginTarget t;
    EXPECT_FALSE(ParseLoginLine("USER user1", &t));  // no server
    EXPECT_FALSE(ParseLoginLine("USER user1#", &t));
    EXPECT_FALSE(ParseLoginLine("USER", &t));
    EXPECT_FALSE(ParseLoginLine("APOP user1#host abc", &t));
    EXPECT_FALSE(ParseLoginLine("", &t));
    EXPECT_FALSE(ParseLoginLine("USERX a#b", &t));
    // A line of 500 bytes or more has no words.
    EXPECT_FALSE(ParseLoginLine("USER a#b " + std::string(491, 'x'), &t));
    EXPECT_TRUE(ParseLoginLine("USER a#b " + std::string(490, 'x'), &t));
    // Names longer than the 99 bytes the session keeps are refused, not cut.
    EXPECT_FALSE(ParseLoginLine("USER " + std::string(100, 'u') + "#host", &t));
    EXPECT_TRUE(ParseLoginLine("USER " + std::string(99, 'u') + "#host", &t));
    EXPECT_FALSE(ParseLoginLine("USER u#" + std::string(100, 'h'), &t));
}

TEST(LoginLine, CapabilitiesBeforeTheLogIn)
{
    EXPECT_TRUE(IsCapaLine("CAPA"));
    EXPECT_TRUE(IsCapaLine("capa "));
    EXPECT_FALSE(IsCapaLine("CAPA x"));
    EXPECT_FALSE(IsCapaLine("CAPABILITY"));
    EXPECT_FALSE(IsCapaLine("USER a#b"));
    EXPECT_EQ(std::string(kCapaReply), "+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n");
}

TEST(LoginLine, AuthAndStlsBeforeTheLogInAreRefused)
{
    EXPECT_STREQ(ReplyBeforeLogin("CAPA"), kCapaReply);
    EXPECT_STREQ(ReplyBeforeLogin("AUTH"), "-ERR\r\n");
    EXPECT_STREQ(ReplyBeforeLogin("auth PLAIN dXNlcgB1c2VyAHB3"), "-ERR\r\n");
    EXPECT_STREQ(ReplyBeforeLogin("STLS"), "-ERR\r\n");
    EXPECT_STREQ(ReplyBeforeLogin("stls "), "-ERR\r\n");
    // Anything else is not answered: the session still ends on it without a reply.
    for (const char* line : {"USER a#b", "NOOP", "STLSX", "STLS now", "AUTHX", "APOP a b", "", "QUIT"})
        EXPECT_EQ(ReplyBeforeLogin(line), nullptr) << line;
}

TEST(Words, SplitAtSpacesOnly)
{
    EXPECT_EQ(SplitWords("  a  b\tc "), (std::vector<std::string>{"a", "b\tc"}));
    EXPECT_TRUE(SplitWords("").empty());
    EXPECT_TRUE(SplitWords(std::string(500, 'a')).empty());
    EXPECT_EQ(SplitWords(std::string(499, 'a')).size(), 1u);
}

TEST(Translate, LocalAnswers)
{
    ProxyMesgList list = ThreeOfFive();
    CommandAction stat = TranslateCommand("STAT", list);
    ASSERT_EQ(stat.kind, CommandAction::Reply);
    EXPECT_EQ(stat.replyLines, (std::vector<std::string>{"+OK 3 900"}));

    CommandAction listing = TranslateCommand("list", list);
    ASSERT_EQ(listing.kind, CommandAction::Reply);
    EXPECT_EQ(listing.replyLines, (std::vector<std::string>{"+OK", "1 100", "2 300", "3 500", "."}));

    CommandAction uidl = TranslateCommand("uidl", list);
    ASSERT_EQ(uidl.kind, CommandAction::Reply);
    EXPECT_EQ(uidl.replyLines, (std::vector<std::string>{"+OK", "1 uid-1", "2 uid-3", "3 uid-5", "."}));

    CommandAction empty = TranslateCommand("LIST", {});
    EXPECT_EQ(empty.replyLines, (std::vector<std::string>{"+OK", "."}));
    EXPECT_EQ(TranslateCommand("STAT", {}).replyLines, (std::vector<std::string>{"+OK 0 0"}));
}

TEST(Translate, NumbersBecomeServerNumbers)
{
    ProxyMesgList list = ThreeOfFive();
    auto out = [&](const char* line) { return TranslateCommand(line, list).text; };
    EXPECT_EQ(out("RETR 2"), "RETR 3");
    EXPECT_EQ(out("retr 3"), "retr 5");
    EXPECT_EQ(out("RETR 9"), "RETR 0");
    EXPECT_EQ(out("RETR 0"), "RETR 0");
    EXPECT_EQ(out("RETR -1"), "RETR 0");
    EXPECT_EQ(out("DELE 1"), "DELE 1");
    EXPECT_EQ(out("LIST 2"), "LIST 3");
    EXPECT_EQ(out("UIDL 3"), "UIDL 5");
    EXPECT_EQ(out("TOP 2 10"), "TOP 3 10");
    EXPECT_EQ(out("TOP 2"), "TOP 3");
    EXPECT_EQ(out("TOP 2 0"), "TOP 3 0");
    EXPECT_EQ(out("TOP 2 -4"), "TOP 3");
    EXPECT_EQ(out("RETR x"), "RETR 0");
    // One space and no number: forwarded unchanged, so the server lists its own messages.
    CommandAction listSpace = TranslateCommand("LIST ", list);
    EXPECT_EQ(listSpace.kind, CommandAction::Forward);
    EXPECT_EQ(listSpace.text, "LIST ");
    EXPECT_EQ(out("TOP"), "TOP");
}

TEST(Translate, ForwardedCommands)
{
    ProxyMesgList list = ThreeOfFive();
    EXPECT_EQ(TranslateCommand("PASS secret", list).kind, CommandAction::Pass);
    EXPECT_EQ(TranslateCommand("PASS secret", list).text, "PASS secret");
    EXPECT_EQ(TranslateCommand("quit", list).kind, CommandAction::Quit);
    for (const char* line : {"NOOP", "RSET", "USER other", "APOP a b", "CAPA", "AB", "", "DELE"}) {
        CommandAction a = TranslateCommand(line, list);
        EXPECT_EQ(a.kind, CommandAction::Forward) << line;
        EXPECT_EQ(a.text, line);
    }
}

// What the client gets for `server` when the filter sees it in pieces of `step` bytes.
std::string Filtered(CapaReplyFilter& filter, const std::string& server, size_t step)
{
    std::string out;
    for (size_t i = 0; i < server.size(); i += step)
        filter.Pass(std::string_view(server).substr(i, step), out);
    return out;
}

TEST(CapaReply, PipeliningIsTakenOutOfTheAnswerOnly)
{
    const std::string capa = "+OK\r\nTOP\r\nPIPELINING\r\nUIDL\r\n.\r\n";
    const std::string after = "+OK 2 octets\r\nPIPELINING\r\n.\r\n";  // a message that says it
    for (size_t step : {1u, 2u, 5u, 1000u}) {
        CapaReplyFilter filter;
        EXPECT_EQ(Filtered(filter, after, step), after) << "nothing asked: untouched";
        filter.Expect();
        EXPECT_FALSE(filter.Idle());
        EXPECT_EQ(Filtered(filter, capa + after, step), "+OK\r\nTOP\r\nUIDL\r\n.\r\n" + after) << step;
        EXPECT_TRUE(filter.Idle());
    }
}

TEST(CapaReply, RefusalsRepeatsAndAServerThatStops)
{
    CapaReplyFilter filter;
    filter.Expect(2);
    EXPECT_EQ(Filtered(filter, "-ERR no\r\n+OK\r\npipelining \r\nUSER\r\n.\r\n+OK\r\n", 3),
              "-ERR no\r\n+OK\r\nUSER\r\n.\r\n+OK\r\n");
    EXPECT_TRUE(filter.Idle());

    filter.Expect();
    std::string out = Filtered(filter, "+OK\r\nTOP\r\nUID", 4);
    EXPECT_EQ(out, "+OK\r\nTOP\r\n");
    filter.Finish(out);
    EXPECT_EQ(out, "+OK\r\nTOP\r\nUID");
    EXPECT_TRUE(filter.Idle());
}

TEST(ProxyMesg, ServerNumberAndUidBounds)
{
    ProxyMesgList list = ThreeOfFive();
    EXPECT_EQ(ServerNumber(list, 0), 0);
    EXPECT_EQ(ServerNumber(list, 1), 1);
    EXPECT_EQ(ServerNumber(list, 3), 5);
    EXPECT_EQ(ServerNumber(list, 4), 0);
    EXPECT_EQ(ServerNumber({}, 1), 0);
    PROXY_MESG m = MakeProxyMesg(7, 42, std::string(150, 'u').c_str());
    EXPECT_EQ(std::string(m.uid), std::string(99, 'u'));
    EXPECT_STREQ(MakeProxyMesg(1, 1, nullptr).uid, "");
    static_assert(sizeof(PROXY_MESG::uid) == 100);
}

}  // namespace
