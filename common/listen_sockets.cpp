#include "common/listen_sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

int NewSocket(int family)
{
    int s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0)
        return -1;
    // Lets the port be taken again right after a stop while old connections linger in
    // TIME_WAIT; a port another socket listens on still fails to bind.
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6)
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);  // IPv4 has a socket of its own
    return s;
}

int BoundPort(int s)
{
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return -1;
    return ntohs(addr.sin_port);
}

}  // namespace

int CListenSockets::Listen(int port, Scope scope, int backlog)
{
    Close();
    if (port < 0 || port > 65535)
        return ListenResult::BindFailed;
    const bool loopback = scope == Scope::Loopback;
    // With port 0 the kernel picks the IPv4 port, and the IPv6 socket must take the same one,
    // which another program may hold there: then a few other ports.
    for (int attempt = 0; attempt < (port == 0 ? 8 : 1); ++attempt) {
        int v4 = NewSocket(AF_INET);
        if (v4 < 0)
            return ListenResult::NoSocket;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
        a.sin_port = htons(static_cast<uint16_t>(port));
        int bound = ::bind(v4, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? BoundPort(v4) : -1;
        if (bound < 0) {
            ::close(v4);
            return ListenResult::BindFailed;
        }

        int v6 = NewSocket(AF_INET6);
        if (v6 < 0 && errno != EAFNOSUPPORT) {
            ::close(v4);
            return ListenResult::NoSocket;
        }
        if (v6 >= 0) {
            sockaddr_in6 b{};
            b.sin6_family = AF_INET6;
            b.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
            b.sin6_port = htons(static_cast<uint16_t>(bound));
            if (::bind(v6, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0) {
                int error = errno;
                ::close(v6);
                v6 = -1;
                // No ::1 here (IPv6 switched off): IPv4 alone. A port held on IPv6 fails like
                // one held on IPv4: a client that tries ::1 first would reach someone else.
                if (error != EADDRNOTAVAIL && error != EAFNOSUPPORT) {
                    ::close(v4);
                    if (port == 0 && error == EADDRINUSE)
                        continue;
                    return ListenResult::BindFailed;
                }
            }
        }
        if (::listen(v4, backlog) != 0 || (v6 >= 0 && ::listen(v6, backlog) != 0)) {
            ::close(v4);
            if (v6 >= 0)
                ::close(v6);
            return ListenResult::ListenFailed;
        }
        port_ = bound;
        sockets_[0].store(v4);
        sockets_[1].store(v6);
        listening_.store(true);
        return ListenResult::Listening;
    }
    return ListenResult::BindFailed;
}

int CListenSockets::Accept(sockaddr_storage* peer)
{
    for (;;) {
        pollfd ready[2] = {{sockets_[0].load(), POLLIN, 0}, {sockets_[1].load(), POLLIN, 0}};
        if (!listening_.load() || ready[0].fd < 0)
            return -1;
        // A socket shut down by Close wakes the poll (POLLHUP), a closed one gives POLLNVAL.
        if (::poll(ready, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        for (const pollfd& one : ready) {
            if (one.fd < 0 || one.revents == 0)
                continue;
            if (!listening_.load())
                return -1;
            socklen_t length = sizeof *peer;
            int c = ::accept4(one.fd, reinterpret_cast<sockaddr*>(peer), &length, SOCK_CLOEXEC);
            if (c >= 0)
                return c;
            // Taken back before we took it (a reset), or a signal: no reason to stop.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                return -1;
        }
    }
}

void CListenSockets::Close()
{
    listening_.store(false);
    for (auto& socket : sockets_) {
        int s = socket.exchange(-1);
        if (s >= 0) {
            ::shutdown(s, SHUT_RDWR);  // wakes the poll in Accept; close alone would not
            ::close(s);
        }
    }
}
