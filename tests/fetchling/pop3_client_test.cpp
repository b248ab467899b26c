#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetchling/fetchling.h"
#include "tests/common/loopback_server.h"

using testing_peer::LoopbackServer;
using testing_peer::Peer;

namespace {

// Plays a POP3 server: each step waits for a command and answers it. A step with an empty
// `expect` answers without waiting (the greeting).
struct Step {
    std::string expect;
    std::string reply;
};

// The commands the script received, for checks after the client is done.
struct Script {
    std::vector<Step> steps;
    std::vector<std::string> received;
    std::string trailing;  // what arrived after the last step
};

void Play(LoopbackServer& server, Script& script)
{
    server.Serve([&script](Peer& p) {
        for (const Step& step : script.steps) {
            if (!step.expect.empty()) {
                bool ok = false;
                std::string line = p.RecvLine(&ok);
                if (!ok)
                    return;
                script.received.push_back(line);
            }
            p.Send(step.reply);
        }
        script.trailing = p.RecvAll(1000);
    });
}

class Pop3ClientTest : public ::testing::Test {
protected:
    void Connect()
    {
        account = std::make_unique<CPop3Account>("/tmp", "mailhost", "127.0.0.1", "alice", "secret", server.port());
        ASSERT_EQ(client.Connect(account.get()), 1);
    }
    std::string ReadLine()
    {
        char buf[3000];
        int n = client.ReadLine(buf, sizeof buf);
        return n < 0 ? std::string("<closed>") : std::string(buf, static_cast<size_t>(n));
    }

    // Declared first so it outlives the server thread that plays it (joined by ~server).
    Script script;
    LoopbackServer server;
    std::unique_ptr<CPop3Account> account;
    CPop3Client client;
};

}  // namespace

TEST_F(Pop3ClientTest, LoginSucceedsAndConnectTwiceChangesNothing)
{
    script.steps = {{"", "+OK ready\r\n"}, {"USER alice", "+OK\r\n"}, {"PASS secret", "+OK logged in\r\n"}};
    Play(server, script);
    Connect();
    EXPECT_TRUE(client.IsConnect());
    EXPECT_EQ(client.GetAccount(), account.get());
    EXPECT_STREQ(client.getID(), "alice");
    EXPECT_STREQ(client.getPwd(), "secret");

    CPop3Account other("/tmp", "other", "127.0.0.1", "bob", "", 1);
    EXPECT_EQ(client.Connect(&other), 0);
    EXPECT_EQ(client.GetAccount(), account.get());
    EXPECT_STREQ(client.getID(), "alice");

    EXPECT_EQ(client.Login(), 1);
    client.QuitClose();
    EXPECT_FALSE(client.IsConnect());
    server.Join();
    EXPECT_EQ(script.received, (std::vector<std::string>{"USER alice", "PASS secret"}));
    EXPECT_EQ(script.trailing, "QUIT\r\n");
}

TEST_F(Pop3ClientTest, LoginFailures)
{
    script.steps = {{"", "-ERR go away\r\n"}};
    Play(server, script);
    Connect();
    EXPECT_EQ(client.Login(), 0);
    client.Close();
    server.Join();

    script = Script{};
    script.steps = {{"", "+OK\r\n"}, {"USER alice", "-ERR no such user\r\n"}};
    Play(server, script);
    Connect();
    EXPECT_EQ(client.Login(), -20);
    EXPECT_STREQ(client.GetPop3Command()->GetLastError(), " no such user");
    client.Close();
    server.Join();

    script = Script{};
    script.steps = {{"", "+OK\r\n"}, {"USER alice", "+OK\r\n"}, {"PASS secret", "-ERR mailbox locked\r\n"}};
    Play(server, script);
    Connect();
    EXPECT_EQ(client.Login(), -30);
    EXPECT_STREQ(client.GetPop3Command()->GetLastError(), " mailbox locked");
    client.Close();
}

TEST_F(Pop3ClientTest, LongUserNamesAreKeptWhole)
{
    std::string user = "a.very.long.mailbox.name.for.someone@subdomain.example-provider.co.kr";
    ASSERT_GT(user.size(), 29u);
    script.steps = {{"", "+OK\r\n"}, {"USER " + user, "+OK\r\n"}, {"PASS pw", "+OK\r\n"}};
    Play(server, script);
    CPop3Account acc("/tmp", "mailhost", "127.0.0.1", user.c_str(), "pw", server.port());
    EXPECT_STREQ(acc.GetUser(), user.c_str());
    ASSERT_EQ(client.Connect(&acc), 1);
    EXPECT_EQ(client.Login(), 1);
    client.Close();
    server.Join();
    EXPECT_EQ(script.received[0], "USER " + user);
}

TEST_F(Pop3ClientTest, ConnectFailuresReturnMinusTen)
{
    int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);
    CPop3Account refused("/tmp", "x", "127.0.0.1", "u", "", ntohs(addr.sin_port));
    EXPECT_EQ(client.Connect(&refused), -10);
    EXPECT_FALSE(client.IsConnect());
    ::close(blocker);
    CPop3Account unknown("/tmp", "x", "nonexistent.invalid", "u", "", 110);
    EXPECT_EQ(client.Connect(&unknown), -10);
    EXPECT_EQ(client.Connect(nullptr), -10);
    EXPECT_FALSE(client.IsConnect());
}

TEST_F(Pop3ClientTest, ListAndUidlFillTheMessageList)
{
    std::string longUid(150, 'u');
    script.steps = {{"", "+OK\r\n"},
                    {"LIST", "+OK 3 messages\r\n1 100\r\n2 200\r\n3 1200\r\n.\r\n"},
                    {"UIDL", "+OK\r\n1 uid-one\r\n2 " + longUid + "\r\n9 unknown\r\n3 \"quoted uid\"\r\n.\r\n"},
                    {"NOOP", "+OK\r\n"},
                    // Parentheses and quotes inside a UID: each UID stays whole and its own.
                    {"UIDL", "+OK\r\n1 a(x)\r\n2 b(x)\r\n3 c\"d\r\n.\r\n"}};
    Play(server, script);
    Connect();
    ASSERT_EQ(ReadLine(), "+OK");
    CPop3TranCommand* cmd = client.GetPop3Command();
    ASSERT_TRUE(cmd->List());
    ASSERT_TRUE(cmd->Uidl());
    EXPECT_TRUE(cmd->Noop());
    CPop3Mesg* list = cmd->GetMesgList();
    ASSERT_EQ(list->Size(), 3);
    list->Reset();
    ASSERT_TRUE(list->GetNextMesg());
    EXPECT_EQ(list->GetMesgID(), 1);
    EXPECT_EQ(list->GetMesgOctet(), 100);
    EXPECT_STREQ(list->GetMesgUID(), "uid-one");
    ASSERT_TRUE(list->GetNextMesg());
    EXPECT_EQ(list->GetMesgOctet(), 200);
    EXPECT_EQ(std::string(list->GetMesgUID()), longUid.substr(0, 99));
    ASSERT_TRUE(list->GetNextMesg());
    EXPECT_EQ(list->GetMesgID(), 3);
    EXPECT_EQ(list->GetMesgOctet(), 1200);
    EXPECT_STREQ(list->GetMesgUID(), "\"quoted uid\"");
    EXPECT_FALSE(list->GetNextMesg());
    EXPECT_FALSE(list->GetNextMesg());
    EXPECT_EQ(list->GetMesgID(), 0);  // past the end: nothing, no crash
    EXPECT_STREQ(list->GetMesgUID(), "");
    ASSERT_TRUE(cmd->Uidl());
    std::vector<std::string> uids;
    list->GetUIDList(&uids);
    EXPECT_EQ(uids, (std::vector<std::string>{"a(x)", "b(x)", "c\"d"}));
    client.Close();
}

TEST_F(Pop3ClientTest, ListingStopsAtANonNumericSizeAndReadsPastTheRest)
{
    script.steps = {{"", "+OK\r\n"}, {"LIST", "+OK\r\n1 100\r\n3 abc\r\n4 400\r\n.\r\n"}, {"LIST", "-ERR not now\r\n"}};
    Play(server, script);
    Connect();
    ReadLine();
    CPop3TranCommand* cmd = client.GetPop3Command();
    ASSERT_TRUE(cmd->List());
    EXPECT_EQ(cmd->GetMesgList()->Size(), 1);
    EXPECT_TRUE(cmd->GetMesgList()->IsExist(1));
    EXPECT_FALSE(cmd->GetMesgList()->IsExist(4));
    EXPECT_FALSE(cmd->ListingCut());
    // The rest of the listing was read past: the next reply is the next command's.
    EXPECT_FALSE(cmd->List());
    EXPECT_STREQ(cmd->GetLastError(), " not now");
    EXPECT_EQ(cmd->GetMesgList()->Size(), 1);  // a refused LIST keeps the old list
    client.Close();
}

TEST_F(Pop3ClientTest, SingleWordListingLines)
{
    script.steps = {
        {"", "+OK\r\n"}, {"LIST", "+OK\r\n1 100\r\n2\r\n3 300\r\n.\r\n"}, {"UIDL", "+OK\r\n1 a\r\n2\r\n3 c\r\n.\r\n"}};
    Play(server, script);
    Connect();
    ReadLine();
    CPop3TranCommand* cmd = client.GetPop3Command();
    ASSERT_TRUE(cmd->List());
    ASSERT_TRUE(cmd->Uidl());
    std::vector<std::string> uids;
    cmd->GetMesgList()->GetUIDList(&uids);
    EXPECT_EQ(uids, (std::vector<std::string>{"a", "", "c"}));
    client.Close();
}

TEST_F(Pop3ClientTest, OverlongStatusLineDoesNotSpillIntoTheListing)
{
    // The rest of a status line beyond 299 bytes must not be taken for a listing line.
    std::string status = "+OK " + std::string(400, ' ') + "7 777";
    script.steps = {{"", "+OK\r\n"}, {"LIST", status + "\r\n1 10\r\n.\r\n"}};
    Play(server, script);
    Connect();
    ReadLine();
    CPop3TranCommand* cmd = client.GetPop3Command();
    ASSERT_TRUE(cmd->List());
    EXPECT_EQ(cmd->GetMesgList()->Size(), 1);
    EXPECT_FALSE(cmd->GetMesgList()->IsExist(7));
    client.Close();
}

TEST_F(Pop3ClientTest, CommandsThatOnlySendLeaveTheReply)
{
    script.steps = {{"", "+OK\r\n"},
                    {"STAT", "+OK 2 320\r\n"},
                    {"LIST 2", "+OK 2 220\r\n"},
                    {"UIDL 2", "+OK 2 abc\r\n"},
                    {"RETR 2", "+OK 220 octets\r\nSubject: x\r\n\r\n..dotted\r\n.\r\n"},
                    {"RETR 9", "-ERR no such message\r\n"},
                    {"TOP 2 0", "+OK\r\nSubject: x\r\n.\r\n"},
                    {"DELE 2", "-ERR already deleted\r\n"},
                    {"RSET", "+OK\r\n"},
                    {"QUIT", "+OK bye\r\n"}};
    Play(server, script);
    Connect();
    ReadLine();
    CPop3TranCommand* cmd = client.GetPop3Command();
    int count = -1;
    long octets = -1;
    EXPECT_TRUE(cmd->Stat(count, octets));
    EXPECT_EQ(count, -1);
    EXPECT_EQ(ReadLine(), "+OK 2 320");
    int id = -1;
    EXPECT_TRUE(cmd->List(2, id, octets));
    EXPECT_EQ(ReadLine(), "+OK 2 220");
    EXPECT_TRUE(cmd->Uidl(2));
    EXPECT_EQ(ReadLine(), "+OK 2 abc");
    EXPECT_TRUE(cmd->Retr(2));
    EXPECT_EQ(ReadLine(), "Subject: x");
    EXPECT_EQ(ReadLine(), "");
    EXPECT_EQ(ReadLine(), "..dotted");
    EXPECT_EQ(ReadLine(), ".");
    EXPECT_FALSE(cmd->Retr(9));
    EXPECT_STREQ(cmd->GetLastError(), " no such message");
    EXPECT_TRUE(cmd->Top(2, 0));
    EXPECT_EQ(ReadLine(), "Subject: x");
    EXPECT_EQ(ReadLine(), ".");
    EXPECT_TRUE(cmd->Dele(2));
    EXPECT_STREQ(cmd->GetLastError(), " already deleted");
    EXPECT_TRUE(cmd->Rset());
    EXPECT_TRUE(cmd->Quit());
    EXPECT_EQ(ReadLine(), "<closed>");
    client.Close();
    server.Join();
    EXPECT_EQ(script.received.size(), 9u);
}

TEST_F(Pop3ClientTest, ServerClosingInTheMiddleOfAListing)
{
    script.steps = {{"", "+OK\r\n"}, {"LIST", "+OK\r\n1 100\r\n2 2"}};
    Play(server, script);
    Connect();
    ReadLine();
    // The script stops in the middle of a listing line and closes the connection.
    CPop3TranCommand* cmd = client.GetPop3Command();
    EXPECT_FALSE(cmd->List());  // a partial list is no list of the mailbox
    EXPECT_TRUE(cmd->ListingCut());
    EXPECT_EQ(cmd->GetMesgList()->Size(), 1);
    EXPECT_FALSE(cmd->Uidl());
    EXPECT_FALSE(cmd->ListingCut());  // refused (no connection), not cut
    EXPECT_EQ(client.ReadLine(nullptr, 0), -1);
    client.Close();
}

TEST_F(Pop3ClientTest, LongMessageLinesAreReportedAsPieces)
{
    std::string body(5000, 'h');
    script.steps = {{"", "+OK\r\n"}, {"RETR 1", "+OK\r\n" + body + "\r\n.\r\n"}};
    Play(server, script);
    Connect();
    ReadLine();
    ASSERT_TRUE(client.GetPop3Command()->Retr(1));
    std::string rebuilt;
    char buf[2048];
    for (int guard = 0; guard < 100; ++guard) {
        int n = client.ReadLine(buf, sizeof buf);
        ASSERT_GE(n, 0);
        std::string piece(buf, static_cast<size_t>(n));
        if (piece == "." && client.LastLineEnded() && (rebuilt.empty() || rebuilt.back() == '\n'))
            break;
        rebuilt += piece;
        if (client.LastLineEnded())
            rebuilt += "\r\n";
    }
    EXPECT_EQ(rebuilt, body + "\r\n");
    client.Close();
}
