#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>
#include <unistd.h>

#include "common/client_socket.h"
#include "fetchling/fetchling.h"
#include "orvanta/pipeline/examination.h"
#include "orvanta/proxy/pop3_proxy.h"
#include "orvanta/proxy/proxy_listener.h"
#include "tests/common/free_port.h"

namespace {

// A port nobody listens on right now, and a socket that holds one.
int BoundSocket(int* port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

// The examination without filters: every message offered, every UID recorded.
CPop3Proxy::Examiner OfferEverything()
{
    static orvanta::pipeline::Examination examination({});
    return examination.Examiner();
}

int FreePort() { return testing_peer::FreeLoopbackPort(); }

std::string ReadLine(CClientSocket& s)
{
    char buf[2048];
    int n = s.ReadLine(buf, sizeof buf);
    return n < 0 ? std::string("<closed>") : std::string(buf, n);
}

TEST(ProxyListener, ResultsForAPortInUse)
{
    int port = 0;
    int holder = BoundSocket(&port);
    ASSERT_EQ(::listen(holder, 1), 0);
    CProxyListener listener;
    EXPECT_EQ(listener.Listen("localhost", port), -30);
    EXPECT_FALSE(listener.IsListening());
    EXPECT_EQ(listener.Listen("localhost", 70000), -30);
    ::close(holder);
    EXPECT_EQ(listener.Listen("localhost", port), 1);
    EXPECT_TRUE(listener.IsListening());
    EXPECT_EQ(listener.Host(), "localhost");
    listener.Close();
    EXPECT_FALSE(listener.IsListening());
    EXPECT_EQ(listener.Accept(), nullptr);
}

TEST(Pop3Proxy, StartStopAndRestart)
{
    CPop3Proxy proxy(nullptr, OfferEverything());
    int port = FreePort();
    ASSERT_TRUE(proxy.InitSockets());
    ASSERT_TRUE(proxy.Start("localhost", port));
    EXPECT_TRUE(proxy.IsRunning());
    EXPECT_FALSE(proxy.Start("localhost", port));  // already running
    EXPECT_EQ(proxy.LastListenResult(), 0);

    CPop3Proxy other(nullptr, OfferEverything());
    EXPECT_FALSE(other.Start("localhost", port));
    EXPECT_EQ(other.LastListenResult(), -30);
    EXPECT_FALSE(other.IsRunning());

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(proxy.StopAndWait());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(proxy.IsRunning());
    // The same port again right away, with a connection served in between.
    ASSERT_TRUE(proxy.Start("localhost", port));
    CClientSocket client(4096);
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
    EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
    proxy.Stop();
    EXPECT_FALSE(proxy.IsRunning());
}

TEST(Pop3Proxy, FirstLineWithoutServerClosesWithoutReply)
{
    CPop3Proxy proxy(nullptr, OfferEverything());
    int port = FreePort();
    ASSERT_TRUE(proxy.Start("localhost", port));
    for (const char* line : {"USER user1", "NOOP", "USER a#127.0.0.1#1"}) {
        CClientSocket client(4096);
        ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
        EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
        client.SendLine(line, static_cast<int>(std::strlen(line)));
        EXPECT_EQ(ReadLine(client), "<closed>") << line;
        client.Close();
    }
    EXPECT_TRUE(proxy.IsRunning());
    for (int i = 0; i < 100 && proxy.IsServing(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(proxy.IsServing());
}

TEST(Pop3Proxy, TerminateCutsASessionInProgress)
{
    CPop3Proxy proxy(nullptr, OfferEverything());
    int port = FreePort();
    ASSERT_TRUE(proxy.Start("localhost", port));
    CClientSocket client(4096);
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
    EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
    for (int i = 0; i < 100 && !proxy.IsServing(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(proxy.IsServing());
    auto t0 = std::chrono::steady_clock::now();
    proxy.Terminate();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(ReadLine(client), "<closed>");
}

// A scripted POP3 server for one session: five messages; every command after the
// examination is recorded and answered with "+OK".
class FakeServer {
public:
    FakeServer()
    {
        listen_ = BoundSocket(&port_);
        ::listen(listen_, 1);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeServer()
    {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    int Port() const { return port_; }
    std::vector<std::string> Commands()
    {
        std::lock_guard guard(lock_);
        return commands_;
    }

private:
    void Serve()
    {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int c = ::accept(listen_, reinterpret_cast<sockaddr*>(&peer), &len);
        if (c < 0)
            return;
        CClientSocket s(c, peer, 4096);
        auto send = [&](const std::string& text) { s.Write(text.data(), static_cast<int>(text.size())); };
        send("+OK fake\r\n");
        bool loggedIn = false;
        for (;;) {
            std::string line = ReadLine(s);
            if (line == "<closed>")
                break;
            if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0) {
                loggedIn = loggedIn || line.rfind("PASS", 0) == 0;
                send("+OK\r\n");
            } else if (line == "CAPA" && !loggedIn) {
                // The proxy asks before it logs in, to learn whether TLS is on offer.
                send("+OK\r\nUSER\r\nUIDL\r\n.\r\n");
            } else if (line == "LIST") {
                send("+OK\r\n1 10\r\n2 20\r\n3 30\r\n4 40\r\n5 50\r\n.\r\n");
            } else if (line == "UIDL") {
                send("+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n4 u4\r\n5 u5\r\n.\r\n");
            } else {
                {
                    std::lock_guard guard(lock_);
                    commands_.push_back(line);
                }
                send(line == "QUIT" ? "+OK bye\r\n" : "+OK " + line + "\r\n");
                if (line == "QUIT")
                    break;
            }
        }
        s.Close();
    }

    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::string> commands_;
};

// Clients that ask for capabilities and try AUTH or STLS first still log in; the eleventh such
// line ends the session without a reply.
TEST(Pop3Proxy, CapaAuthAndStlsBeforeUser)
{
    CPop3Proxy proxy(nullptr, OfferEverything());
    int port = FreePort();
    ASSERT_TRUE(proxy.Start("localhost", port));
    {
        CClientSocket client(4096);
        ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
        EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
        auto ask = [&](const std::string& line) {
            client.SendLine(line.data(), static_cast<int>(line.size()));
            return ReadLine(client);
        };
        EXPECT_EQ(ask("CAPA"), "+OK");
        EXPECT_EQ(ReadLine(client), "USER");
        EXPECT_EQ(ReadLine(client), "UIDL");
        EXPECT_EQ(ReadLine(client), "TOP");
        EXPECT_EQ(ReadLine(client), ".");
        EXPECT_EQ(ask("STLS"), "-ERR");
        EXPECT_EQ(ask("AUTH PLAIN"), "-ERR");
        EXPECT_EQ(ask("auth"), "-ERR");
        // The log-in line is still read: one naming no server ends the session silently.
        EXPECT_EQ(ask("USER nobody"), "<closed>");
    }
    {
        CClientSocket client(4096);
        ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
        EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
        for (int i = 0; i < 10; ++i) {
            const std::string line = i % 2 ? "STLS" : "AUTH";
            client.SendLine(line.data(), static_cast<int>(line.size()));
            EXPECT_EQ(ReadLine(client), "-ERR") << i;
        }
        client.SendLine("STLS", 4);
        EXPECT_EQ(ReadLine(client), "<closed>");
    }
    {
        // A real log-in after them, through to the server.
        FakeServer server;
        std::string dir = ::testing::TempDir() + "proxy-capa-" + std::to_string(getpid()) + "/";
        std::filesystem::create_directories(dir);
        proxy.SetDataDirectory(dir);
        CClientSocket client(4096);
        ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
        EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
        auto ask = [&](const std::string& line) {
            client.SendLine(line.data(), static_cast<int>(line.size()));
            return ReadLine(client);
        };
        EXPECT_EQ(ask("AUTH"), "-ERR");
        EXPECT_EQ(ask("STLS"), "-ERR");
        EXPECT_EQ(ask("USER u1#127.0.0.1#" + std::to_string(server.Port())), "+OK");
        EXPECT_EQ(ask("PASS secret"), "+OK");
        // After the log-in CAPA goes to the server like any other command.
        EXPECT_EQ(ask("CAPA"), "+OK CAPA");
        EXPECT_EQ(ask("QUIT"), "+OK bye");
        EXPECT_EQ(ReadLine(client), "<closed>");
        proxy.Terminate();
        EXPECT_EQ(server.Commands(), (std::vector<std::string>{"CAPA", "QUIT"}));
        std::filesystem::remove_all(dir);
    }
}

TEST(Pop3Proxy, RenumbersAfterAnExaminationTookMessagesOut)
{
    FakeServer server;
    std::string dir = ::testing::TempDir() + "proxy-renumber-" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(dir);
    // The examination takes out messages 2 and 4 of 5, as the filters would.
    CPop3Proxy::Examiner offer = OfferEverything();
    CPop3Proxy proxy(nullptr, [offer](CPop3Client& client, ProxyMesgList& list) {
        int result = offer(client, list);
        std::erase_if(list, [](const PROXY_MESG& m) { return m.number == 2 || m.number == 4; });
        return result;
    });
    proxy.SetDataDirectory(dir);
    int port = FreePort();
    ASSERT_TRUE(proxy.Start("localhost", port));

    CClientSocket client(4096);
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
    auto ask = [&](const std::string& line) {
        client.SendLine(line.data(), static_cast<int>(line.size()));
        return ReadLine(client);
    };
    EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
    EXPECT_EQ(ask("USER u1#127.0.0.1#" + std::to_string(server.Port())), "+OK");
    EXPECT_EQ(ask("PASS secret"), "+OK");
    EXPECT_EQ(ask("STAT"), "+OK 3 90");
    EXPECT_EQ(ask("LIST"), "+OK");
    EXPECT_EQ(ReadLine(client), "1 10");
    EXPECT_EQ(ReadLine(client), "2 30");
    EXPECT_EQ(ReadLine(client), "3 50");
    EXPECT_EQ(ReadLine(client), ".");
    EXPECT_EQ(ask("uidl"), "+OK");
    EXPECT_EQ(ReadLine(client), "1 u1");
    EXPECT_EQ(ReadLine(client), "2 u3");
    EXPECT_EQ(ReadLine(client), "3 u5");
    EXPECT_EQ(ReadLine(client), ".");
    EXPECT_EQ(ask("RETR 2"), "+OK RETR 3");
    EXPECT_EQ(ask("TOP 2 10"), "+OK TOP 3 10");
    EXPECT_EQ(ask("TOP 3"), "+OK TOP 5");
    EXPECT_EQ(ask("RETR 9"), "+OK RETR 0");
    EXPECT_EQ(ask("DELE 3"), "+OK DELE 5");
    EXPECT_EQ(ask("UIDL 1"), "+OK UIDL 1");
    EXPECT_EQ(ask("LIST "), "+OK LIST ");
    EXPECT_EQ(ask("NOOP"), "+OK NOOP");
    EXPECT_EQ(ask("QUIT"), "+OK bye");
    EXPECT_EQ(ReadLine(client), "<closed>");
    EXPECT_EQ(proxy.ServerNumber(2), 3);
    EXPECT_EQ(proxy.ServerNumber(4), 0);

    // Every UID the examination saw is in the history, the ones taken out included.
    std::ifstream his(dir + "127.0.0.1.u1.his", std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(his)), std::istreambuf_iterator<char>());
    ASSERT_EQ(data.size(), 500u);
    EXPECT_STREQ(data.c_str() + 300, "u4");
    proxy.Terminate();
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"RETR 3", "TOP 3 10", "TOP 5", "RETR 0", "DELE 5", "UIDL 1",
                                                           "LIST ", "NOOP", "QUIT"}));
    std::filesystem::remove_all(dir);
}

// The replies the relay waits for (and so bounds) end where the server's stream says, however
// it is cut into receives: a listing at its "." line, a refusal at its status line.
TEST(ReplyTracker, RepliesEndWhereTheStreamSaysWhateverTheReceives)
{
    using pop3proxy::ReplyTracker;
    using Reply = ReplyTracker::Reply;
    EXPECT_EQ(ReplyTracker::ReplyTo("RETR 3"), Reply::Listing);
    EXPECT_EQ(ReplyTracker::ReplyTo("top 3 0"), Reply::Listing);
    EXPECT_EQ(ReplyTracker::ReplyTo("LIST "), Reply::Listing);
    EXPECT_EQ(ReplyTracker::ReplyTo("UIDL 2"), Reply::StatusLine);
    EXPECT_EQ(ReplyTracker::ReplyTo("DELE 2"), Reply::StatusLine);
    EXPECT_EQ(ReplyTracker::ReplyTo("quit"), Reply::Quit);

    // Every way of cutting one RETR reply into two receives.
    const std::string retr = "+OK 30 octets\r\nSubject: x\r\n\r\n..\r\n.x\r\nend\r\n.\r\n";
    for (size_t cut = 0; cut <= retr.size(); ++cut) {
        ReplyTracker t;
        t.Expect(Reply::Listing);
        t.Received(retr.data(), cut);
        EXPECT_EQ(t.Awaiting(), cut < retr.size()) << cut;
        t.Received(retr.data() + cut, retr.size() - cut);
        EXPECT_FALSE(t.Awaiting()) << cut;
    }
    // A stuffed "." line and a line ending in a dot do not end it.
    ReplyTracker t;
    t.Expect(Reply::Listing);
    t.Received("+OK\r\n..\r\n", 9);
    t.Received("a.\r\n", 4);
    EXPECT_TRUE(t.Awaiting());
    t.Received(".\r\n", 3);
    EXPECT_FALSE(t.Awaiting());

    // A client that sends ahead: three replies in one receive, the refused RETR one line only,
    // an empty listing after it; the last one still on its way.
    t.Expect(Reply::Listing);
    t.Expect(Reply::Listing);
    t.Expect(Reply::StatusLine);
    t.Expect(Reply::Quit);
    const std::string three = "-ERR no such message\r\n+OK\r\n.\r\n+OK\r\n";
    EXPECT_FALSE(t.Received(three.data(), three.size()));
    EXPECT_TRUE(t.Awaiting());
    EXPECT_TRUE(t.Received("+OK bye\r\n", 9));  // the QUIT's deletions are committed
    EXPECT_FALSE(t.Awaiting());

    ReplyTracker refused;
    refused.Expect(Reply::Quit);
    EXPECT_FALSE(refused.Received("-ERR some messages could not be deleted\r\n", 41));
    EXPECT_FALSE(refused.Awaiting());
}

}  // namespace
