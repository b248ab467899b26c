#pragma once

// A port for a test's own server on the loopback addresses. The kernel's choice (bind to port
// 0) comes from the range it also takes the local ports of outgoing connections from, so with
// tests running side by side another test's client can hold it, on 127.0.0.1 or on ::1, by
// the time the server binds. A port below that range, free on both addresses, is not taken
// that way.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace testing_peer {

// Whether a listening socket could take `port` on `family`'s loopback address; an address the
// machine does not have counts as free.
inline bool LoopbackPortFree(int family, int port)
{
    int s = ::socket(family, SOCK_STREAM, 0);
    if (s < 0)
        return family == AF_INET6;
    int rc;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        int on = 1;
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    const bool free = rc == 0 || (family == AF_INET6 && errno == EADDRNOTAVAIL);
    ::close(s);
    return free;
}

inline int FreeLoopbackPort()
{
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> below(20000, 32000);  // the kernel's own range starts at 32768
    for (int attempt = 0; attempt < 500; ++attempt) {
        int port = below(random);
        if (LoopbackPortFree(AF_INET, port) && LoopbackPortFree(AF_INET6, port))
            return port;
    }
    return 0;
}

}  // namespace testing_peer
