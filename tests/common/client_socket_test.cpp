#include "common/client_socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/loopback_server.h"

using testing_peer::LoopbackServer;
using testing_peer::Peer;

namespace {

// Reads one whole line, joining its pieces; "" and false at the end of the connection.
bool ReadWhole(CClientSocket& s, std::string* line, int size = 2048)
{
    line->clear();
    std::vector<char> buf(static_cast<size_t>(size));
    for (;;) {
        int n = s.ReadLine(buf.data(), size);
        if (n < 0)
            return false;
        line->append(buf.data(), static_cast<size_t>(n));
        if (s.LastLineEnded())
            return true;
    }
}

}  // namespace

TEST(ClientSocket, LineEndsAndEmptyLinesAcrossReceives)
{
    LoopbackServer server;
    server.Serve([](Peer& p) {
        p.SendAndPause("\r\n");  // empty line at the very start of the buffer
        p.SendAndPause("abc\r\nab");
        p.SendAndPause("c\n");  // a line that crosses two receives
        p.SendAndPause("abc\r\r\n");
        p.SendAndPause("a\rb\r\n\r\nlast");  // CR inside a line stays; empty line; unfinished
    });
    CClientSocket s(40960);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    EXPECT_TRUE(s.IsConnected());
    EXPECT_EQ(s.GetPort(), server.port());
    EXPECT_STREQ(s.GetHost(), "127.0.0.1");
    char buf[100];
    const char* expected[] = {"", "abc", "abc", "abc", "a\rb", ""};
    for (const char* want : expected) {
        int n = s.ReadLine(buf, sizeof buf);
        ASSERT_EQ(n, static_cast<int>(strlen(want))) << want;
        EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), want);
        EXPECT_TRUE(s.LastLineEnded());
    }
    // The peer closes after "last" without a line end: the end of the connection.
    EXPECT_EQ(s.ReadLine(buf, sizeof buf), -1);
    EXPECT_FALSE(s.LastLineEnded());
    EXPECT_EQ(s.ReadLine(buf, sizeof buf), -1);
}

TEST(ClientSocket, LongLineComesBackInPieces)
{
    LoopbackServer server;
    std::string line(3000, 'x');
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char>('a' + i % 26);
    server.Serve([&](Peer& p) {
        p.Send(line + "\r\nnext\r\n");
        p.RecvAll(2000);
    });
    CClientSocket s(40960);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    std::vector<char> buf(2048);
    ASSERT_EQ(s.ReadLine(buf.data(), 2048), 2047);
    EXPECT_FALSE(s.LastLineEnded());
    EXPECT_EQ(std::string(buf.data()), line.substr(0, 2047));
    ASSERT_EQ(s.ReadLine(buf.data(), 2048), 953);
    EXPECT_TRUE(s.LastLineEnded());
    EXPECT_EQ(std::string(buf.data()), line.substr(2047));
    ASSERT_EQ(s.ReadLine(buf.data(), 2048), 4);
    EXPECT_STREQ(buf.data(), "next");
    // A line of exactly size - 1 bytes is whole.
    s.Close();
}

TEST(ClientSocket, LineFillingTheWholeBufferIsHandedOutWithoutEnd)
{
    // Capacity 16: a 40-byte line never fits; it comes in buffer-sized pieces.
    LoopbackServer server;
    std::string line = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    server.Serve([&](Peer& p) {
        p.Send(line + "\r\nok\r\n");
        p.RecvAll(2000);
    });
    CClientSocket s(16);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    char buf[100];
    std::string joined;
    int pieces = 0;
    while (true) {
        int n = s.ReadLine(buf, sizeof buf);
        ASSERT_GE(n, 0);
        ASSERT_LE(n, 16);
        joined.append(buf, static_cast<size_t>(n));
        ++pieces;
        if (s.LastLineEnded())
            break;
        ASSERT_LT(pieces, 10);
    }
    EXPECT_EQ(joined, line);
    EXPECT_GE(pieces, 3);
    ASSERT_EQ(s.ReadLine(buf, sizeof buf), 2);
    EXPECT_STREQ(buf, "ok");
}

// Whatever the capacity, the caller's size and the way the stream is cut into receives, the
// pieces and LastLineEnded() give back the stream exactly (every line end is CR LF).
TEST(ClientSocket, PiecesRebuildTheStreamExactly)
{
    std::mt19937 rng(12345);
    for (int capacity : {2, 3, 7, 16, 100, 4096}) {
        for (int size : {2, 5, 64, 5000}) {
            std::string stream;
            for (int i = 0; i < 60; ++i) {
                size_t len = rng() % 300;
                std::string content;
                for (size_t k = 0; k < len; ++k) {
                    unsigned r = rng() % 40;
                    content += r == 0 ? '\r' : static_cast<char>('a' + r % 26);
                }
                while (!content.empty() && content.back() == '\r')
                    content.back() = 'z';
                stream += content + "\r\n";
            }
            LoopbackServer server;
            server.Serve([&](Peer& p) {
                std::mt19937 cut(static_cast<unsigned>(capacity * 31 + size));
                size_t pos = 0;
                int sends = 0;
                while (pos < stream.size()) {
                    size_t n = std::min<size_t>(1 + cut() % 700, stream.size() - pos);
                    p.Send(stream.substr(pos, n));
                    pos += n;
                    if (++sends % 8 == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                p.RecvAll(3000);
            });
            CClientSocket s(capacity);
            ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
            std::vector<char> buf(static_cast<size_t>(size));
            std::string rebuilt;
            for (int guard = 0; rebuilt.size() < stream.size() && guard < 200000; ++guard) {
                int n = s.ReadLine(buf.data(), size);
                ASSERT_GE(n, 0) << "capacity " << capacity << " size " << size;
                ASSERT_LT(n, size);
                rebuilt.append(buf.data(), static_cast<size_t>(n));
                if (s.LastLineEnded())
                    rebuilt += "\r\n";
            }
            s.Close();
            ASSERT_EQ(rebuilt, stream) << "capacity " << capacity << " size " << size;
        }
    }
}

TEST(ClientSocket, ReadBytesServesBufferedBytesFirst)
{
    LoopbackServer server;
    server.Serve([](Peer& p) {
        p.SendAndPause("line\r\nraw-bytes");
        p.Send("more");
        p.RecvAll(2000);
    });
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    char buf[100];
    ASSERT_EQ(s.ReadLine(buf, sizeof buf), 4);
    EXPECT_EQ(s.Pending(), 9);
    char raw[100] = {};
    ASSERT_EQ(s.ReadBytes(raw, 5), 5);
    EXPECT_EQ(std::string(raw, 5), "raw-b");
    ASSERT_EQ(s.ReadBuffered(raw, sizeof raw), 4);
    EXPECT_EQ(std::string(raw, 4), "ytes");
    EXPECT_EQ(s.ReadBuffered(raw, sizeof raw), 0);
    int n = s.ReadBytes(raw, sizeof raw);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::string(raw, 4), "more");
}

TEST(ClientSocket, SendLineAndWrite)
{
    LoopbackServer server;
    std::string got;
    server.Serve([&](Peer& p) { got = p.RecvAll(3000); });
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    EXPECT_TRUE(s.SendLine("USER alice", 10));
    EXPECT_TRUE(s.SendLine("ignored", 0));  // length 0: only the line end
    EXPECT_TRUE(s.Write("raw", 3));
    EXPECT_TRUE(s.Write("none", 0));
    EXPECT_TRUE(s.SendLine("PASS x", 4));  // only the given length
    s.Close();
    EXPECT_FALSE(s.IsConnected());
    s.Close();  // twice is harmless
    server.Join();
    EXPECT_EQ(got, "USER alice\r\n\r\nrawPASS\r\n");
    EXPECT_FALSE(s.SendLine("late", 4));  // a closed connection reports the failure
}

TEST(ClientSocket, WritesFromTwoThreadsNeverInterleave)
{
    LoopbackServer server;
    std::string got;
    server.Serve([&](Peer& p) { got = p.RecvAll(10000); });
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    const std::string a(5000, 'a'), b(7000, 'b');
    auto writer = [&s](const std::string& text) {
        for (int i = 0; i < 200; ++i)
            s.SendLine(text.data(), static_cast<int>(text.size()));
    };
    std::thread t1(writer, a), t2(writer, b);
    t1.join();
    t2.join();
    s.Close();
    server.Join();
    int as = 0, bs = 0;
    size_t pos = 0;
    while (pos < got.size()) {
        size_t end = got.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = got.substr(pos, end - pos);
        if (line == a)
            ++as;
        else if (line == b)
            ++bs;
        else
            FAIL() << "interleaved line of " << line.size() << " bytes";
        pos = end + 2;
    }
    EXPECT_EQ(as, 200);
    EXPECT_EQ(bs, 200);
}

TEST(ClientSocket, ConnectFailures)
{
    CClientSocket s(1000);
    // A port nobody listens on: bound but not listening, so the connection is refused.
    int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);
    EXPECT_EQ(s.Connect("127.0.0.1", ntohs(addr.sin_port)), -20);
    EXPECT_FALSE(s.IsConnected());
    ::close(blocker);

    EXPECT_EQ(s.Connect("nonexistent.invalid", 110), -20);
    EXPECT_EQ(s.Connect("", 110), -20);
    EXPECT_EQ(s.Connect(nullptr, 110), -20);
    char buf[10];
    EXPECT_EQ(s.ReadLine(buf, sizeof buf), -1);

    // Out of descriptors: the socket cannot be created. In a child, so the limit stays there.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit none{0, 0};
        setrlimit(RLIMIT_NOFILE, &none);
        CClientSocket t(100);
        _exit(t.Connect("127.0.0.1", 1) == -10 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ClientSocket, ConnectsByNameAndReconnects)
{
    LoopbackServer server;
    server.Serve([](Peer& p) {
        p.Send("+OK first\r\nleft over\r\n");
        p.RecvAll(2000);
    });
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("localhost", server.port()), 1);
    std::string line;
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "+OK first");
    // A second Connect drops the old connection and any bytes it left.
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    server.Serve([](Peer& p) {
        p.Send("+OK second\r\n");
        p.RecvAll(2000);
    });
    ASSERT_TRUE(ReadWhole(s, &line));
    EXPECT_EQ(line, "+OK second");
}

TEST(ClientSocket, AcceptedConnectionsAndLocalPeer)
{
    LoopbackServer server;
    // From 127.0.0.1.
    {
        CClientSocket client(100);
        ASSERT_EQ(client.Connect("127.0.0.1", server.port()), 1);
        sockaddr_in peer{};
        int c = server.AcceptOne(5000, &peer);
        ASSERT_GE(c, 0);
        CClientSocket accepted(c, peer, 40960);
        EXPECT_TRUE(accepted.IsConnected());
        EXPECT_TRUE(accepted.IsLocalPeer());
        EXPECT_TRUE(client.SendLine("hello", 5));
        char buf[50];
        EXPECT_EQ(accepted.ReadLine(buf, sizeof buf), 5);
        EXPECT_STREQ(buf, "hello");
    }
    // From another loopback address: not the local peer of the local-only option.
    int raw = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    ASSERT_EQ(::bind(raw, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(server.port()));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    ASSERT_EQ(::connect(raw, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    sockaddr_in peer{};
    int c = server.AcceptOne(5000, &peer);
    ASSERT_GE(c, 0);
    CClientSocket accepted(c, peer, 100);
    EXPECT_FALSE(accepted.IsLocalPeer());
    accepted.Close();
    char byte;
    EXPECT_EQ(::recv(raw, &byte, 1, 0), 0);
    ::close(raw);

    // The owner going away closes the connection: the other side sees the end.
    CClientSocket client(100);
    ASSERT_EQ(client.Connect("127.0.0.1", server.port()), 1);
    c = server.AcceptOne(5000, &peer);
    ASSERT_GE(c, 0);
    {
        CClientSocket gone(c, peer, 100);
    }
    EXPECT_EQ(client.ReadLine(&byte, 1), -1);
}

TEST(ClientSocket, ShutdownWakesABlockedReader)
{
    LoopbackServer server;
    server.Serve([](Peer& p) { p.RecvAll(5000); });
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    std::thread waker([&s] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        s.Shutdown();
    });
    char buf[10];
    EXPECT_EQ(s.ReadLine(buf, sizeof buf), -1);
    waker.join();
    s.Close();
}

TEST(ClientSocket, CloseWakesASendBlockedOnAPeerThatDoesNotRead)
{
    LoopbackServer server;
    int peer = -1;
    CClientSocket s(1000);
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), 1);
    peer = server.AcceptOne(5000);
    ASSERT_GE(peer, 0);
    std::string big(32 << 20, 'x');  // far more than the socket buffers hold
    bool sent = true;
    std::thread writer([&] { sent = s.Write(big.data(), static_cast<int>(big.size())); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    s.Close();
    writer.join();
    EXPECT_FALSE(sent);
    EXPECT_FALSE(s.IsConnected());
    ::close(peer);
}
