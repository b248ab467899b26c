#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "common/client_socket.h"
#include "orvanta/proxy/pop3_proxy.h"
#include "orvanta/proxy/proxy_listener.h"

namespace {

// A port nobody listens on right now, and a socket that holds one.
int BoundSocket(int* port) {
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

int FreePort() {
    int port = 0;
    ::close(BoundSocket(&port));
    return port;
}

std::string ReadLine(CClientSocket& s) {
    char buf[2048];
    int n = s.ReadLine(buf, sizeof buf);
    return n < 0 ? std::string("<closed>") : std::string(buf, n);
}

TEST(ProxyListener, ResultsForAPortInUse) {
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

TEST(Pop3Proxy, StartStopAndRestart) {
    CPop3Proxy proxy(nullptr);
    int port = FreePort();
    ASSERT_TRUE(proxy.InitSockets());
    ASSERT_TRUE(proxy.Start("localhost", port));
    EXPECT_TRUE(proxy.IsRunning());
    EXPECT_FALSE(proxy.Start("localhost", port));   // already running
    EXPECT_EQ(proxy.LastListenResult(), 0);

    CPop3Proxy other(nullptr);
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

TEST(Pop3Proxy, FirstLineWithoutServerClosesWithoutReply) {
    CPop3Proxy proxy(nullptr);
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
    for (int i = 0; i < 100 && proxy.IsServing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(proxy.IsServing());
}

TEST(Pop3Proxy, TerminateCutsASessionInProgress) {
    CPop3Proxy proxy(nullptr);
    int port = FreePort();
    ASSERT_TRUE(proxy.Start("localhost", port));
    CClientSocket client(4096);
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
    EXPECT_EQ(ReadLine(client), "+OK Orvanta POP3-Proxy Server ready.");
    for (int i = 0; i < 100 && !proxy.IsServing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(proxy.IsServing());
    auto t0 = std::chrono::steady_clock::now();
    proxy.Terminate();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(ReadLine(client), "<closed>");
}

}  // namespace
