// The proxies' listening sockets: which addresses they take and whom they let in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <sched.h>
#include <sys/ioctl.h>
#include <thread>
#include <vector>

#include "common/client_socket.h"
#include "orvanta/proxy/proxy_listener.h"
#include "tests/common/free_port.h"
#include "tests/common/local_peers.h"

using namespace testing_peer;

namespace {

int FreePort() { return testing_peer::FreeLoopbackPort(); }

std::future<std::unique_ptr<CClientSocket>> NextClient(CProxyListener& listener)
{
    return std::async(std::launch::async, [&listener] { return listener.Accept(); });
}

}  // namespace

// Clients of this user on 127.0.0.1 and ::1 are served; one of another user is closed at once
// and the next one served; the machine's other addresses are not listened on at all.
TEST(ProxyListener, ServesOnlyThisUsersClientsOnTheLoopbackAddresses)
{
    CProxyListener listener;
    int port = FreePort();
    ASSERT_EQ(listener.Listen("localhost", port), 1);
    std::vector<const char*> loopback = {"127.0.0.1"};
    if (HasIPv6Loopback())
        loopback.push_back("::1");
    else
        std::printf("no ::1 on this machine: 127.0.0.1 alone\n");
    if (geteuid() != 0)
        std::printf("not root: no client of another user\n");

    for (const char* address : loopback) {
        SCOPED_TRACE(address);
        auto next = NextClient(listener);
        OtherUserClient nobody;
        if (geteuid() == 0) {
            ASSERT_TRUE(nobody.Start(address, port));
        }
        int own = -1;
        ASSERT_EQ(ConnectTo(address, port, &own), 0);
        ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        std::unique_ptr<CClientSocket> client = next.get();
        ASSERT_TRUE(client);
        EXPECT_TRUE(client->IsLocalPeer());
        // The connection served is ours: what we send arrives.
        ASSERT_EQ(::send(own, "ok\r\n", 4, 0), 4);
        pollfd arrived{client->GetSocket(), POLLIN, 0};
        ASSERT_EQ(::poll(&arrived, 1, 5000), 1) << "the connection served is not ours";
        if (geteuid() == 0) {
            EXPECT_EQ(nobody.Finish(), OtherUserClient::kClosedByServer);
        }
        ::close(own);
    }

    std::string outside = NonLoopbackAddress();
    if (outside.empty())
        std::printf("no address besides loopback on this machine: not tried from outside\n");
    else
        EXPECT_EQ(ConnectTo(outside.c_str(), port), ECONNREFUSED) << outside;

    // Closing wakes the waiting Accept.
    auto last = NextClient(listener);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    listener.Close();
    ASSERT_EQ(last.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(last.get(), nullptr);
}

// A port another program holds where a client of "localhost" may go (0.0.0.0, ::1, or [::]
// for IPv6 alone) is in use for us too: -30, and nothing of ours stays bound.
TEST(ProxyListener, APortHeldOnAnyLoopbackFamilyIsInUse)
{
    struct Hold {
        const char* address;
        bool v6Only;
    };
    std::vector<Hold> holds = {{"0.0.0.0", false}};
    if (HasIPv6Loopback())
        holds.insert(holds.end(), {{"::1", false}, {"::", true}});
    for (const Hold& hold : holds) {
        SCOPED_TRACE(hold.address);
        int port = 0;
        int holder = ListenOn(hold.address, &port, hold.v6Only);
        ASSERT_GE(holder, 0);
        CProxyListener listener;
        EXPECT_EQ(listener.Listen("localhost", port), -30);
        EXPECT_FALSE(listener.IsListening());
        ::close(holder);
        int again = port;
        int other = ListenOn("127.0.0.1", &again);
        EXPECT_GE(other, 0) << "the failed attempt left the port bound";
        ::close(other);
        EXPECT_EQ(listener.Listen("localhost", port), 1);
    }
}

// Without ::1 (IPv6 switched off) the proxies still start, on 127.0.0.1 alone: played in a
// network namespace of a child process.
TEST(ProxyListener, WithoutIPv6TheLoopbackIPv4Alone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a network namespace needs root";
    pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(77);
        int disable = ::open("/proc/sys/net/ipv6/conf/lo/disable_ipv6", O_WRONLY);
        if (disable >= 0 && ::write(disable, "1", 1) != 1)
            ::_exit(77);
        ifreq up{};
        std::snprintf(up.ifr_name, sizeof up.ifr_name, "lo");
        int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (::ioctl(s, SIOCGIFFLAGS, &up) != 0 || (up.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &up)) != 0)
            ::_exit(77);
        if (HasIPv6Loopback())
            ::_exit(78);
        CProxyListener listener;
        if (listener.Listen("localhost", 4115) != 1)
            ::_exit(1);
        int own = -1;
        if (ConnectTo("127.0.0.1", 4115, &own) != 0)
            ::_exit(2);
        std::unique_ptr<CClientSocket> client = listener.Accept();
        ::_exit(client && client->IsLocalPeer() ? 0 : 3);
    }
    int status = 0;
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) >= 77)
        GTEST_SKIP() << "no network namespace without IPv6 could be made here (" << WEXITSTATUS(status) << ")";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: Listen failed, 2: no connection on 127.0.0.1, 3: not accepted";
}
