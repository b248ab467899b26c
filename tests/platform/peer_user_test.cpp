#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/peer_user.h"
#include "tests/common/local_peers.h"

using platform::PeerOwner;
using namespace testing_peer;

namespace {

// Both ways of looking up: the kernel's socket diagnostics (with /proc behind them) and /proc.
struct Lookup {
    const char* name;
    PeerOwner (*find)(int);
};
const Lookup kLookups[] = {{"socket diagnostics", platform::FindPeerOwner}, {"/proc", platform::FindPeerOwnerInProc}};

}  // namespace

// Our own connections over IPv4, IPv6 and a dual-stack socket (an IPv6 client reaching an
// IPv4 listener as ::ffff:127.0.0.1, listed among the IPv6 sockets): found, and this user's.
TEST(PeerUser, OwnConnectionsAreFoundAsThisUser)
{
    struct Case {
        const char *listen, *connect, *seenAs;
    };
    std::vector<Case> cases = {{"127.0.0.1", "127.0.0.1", "127.0.0.1"}};
    if (HasIPv6Loopback())
        cases.insert(cases.end(), {{"::1", "::1", "[::1]"}, {"127.0.0.1", "::ffff:127.0.0.1", "127.0.0.1"}});
    else
        std::printf("no ::1 on this machine: IPv4 only\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connect);
        int port = 0, client = -1;
        int listener = ListenOn(c.listen, &port);
        ASSERT_EQ(ConnectTo(c.connect, port, &client), 0);
        int accepted = AcceptWithin(listener, 5000);
        ASSERT_GE(accepted, 0);
        for (const Lookup& lookup : kLookups) {
            SCOPED_TRACE(lookup.name);
            PeerOwner owner = lookup.find(accepted);
            EXPECT_TRUE(owner.IsThisUser()) << owner.found << " user " << owner.uid;
            EXPECT_EQ(owner.localPort, port);
            EXPECT_EQ(owner.peer, std::string(c.seenAs) + ":" + std::to_string(PortOf(client)));
        }
        ::close(accepted);
        ::close(client);
        ::close(listener);
    }
}

// A client of another user is found as that user; once it is gone, its closed socket (held
// by no process, listed as user 0 in TIME_WAIT) is taken for nobody's, root's least of all.
TEST(PeerUser, AnotherUsersConnectionIsNotThisUsers)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a client of another user needs root to start (the test runs as uid " << geteuid() << ")";
    std::vector<const char*> addresses = {"127.0.0.1"};
    if (HasIPv6Loopback())
        addresses.push_back("::1");
    for (const char* address : addresses) {
        SCOPED_TRACE(address);
        int port = 0;
        int listener = ListenOn(address, &port);
        OtherUserClient nobody;
        ASSERT_TRUE(nobody.Start(address, port));
        int accepted = AcceptWithin(listener, 10000);
        ASSERT_GE(accepted, 0);
        for (const Lookup& lookup : kLookups) {
            SCOPED_TRACE(lookup.name);
            PeerOwner owner = lookup.find(accepted);
            EXPECT_TRUE(owner.found);
            EXPECT_EQ(owner.uid, kNobody);
            EXPECT_FALSE(owner.IsThisUser());
            std::string line = platform::RefusedConnectionText(owner, "why");
            EXPECT_NE(line.find("port " + std::to_string(port) + " from " + owner.peer + " (user 65534): why"),
                      std::string::npos)
                << line;
        }
        EXPECT_EQ(nobody.Finish(), 0);
        for (const Lookup& lookup : kLookups) {
            SCOPED_TRACE(lookup.name);
            PeerOwner gone = lookup.find(accepted);
            for (int i = 0; i < 50 && gone.found; ++i) {
                ::usleep(20000);
                gone = lookup.find(accepted);
            }
            EXPECT_FALSE(gone.found) << "user " << gone.uid;
        }
        ::close(accepted);
        ::close(listener);
    }
}
