#pragma once

// Test helpers for the local servers' access checks: addresses of either family, a client
// connection made by another user of this machine, and this machine's addresses.
#include <arpa/inet.h>
#include <cerrno>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_peer {

constexpr uid_t kNobody = 65534;  // Debian's "nobody"

// "127.0.0.1", "::1" and the like with a port, as the socket calls take them.
struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;

    Address(const char* text, int port)
    {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(static_cast<uint16_t>(port));
            length = sizeof *v4;
        } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(static_cast<uint16_t>(port));
            length = sizeof *v6;
        }
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }
};

inline int PortOf(int s)
{
    sockaddr_in6 a{};  // sin_port lies where sin6_port does
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin6_port);
}

// A socket listening on `address` and *port (0: the kernel's choice, written back), or -1.
inline int ListenOn(const char* address, int* port, bool v6Only = false)
{
    Address a(address, *port);
    int s = ::socket(a.family(), SOCK_STREAM, 0);
    int on = 1;
    if (v6Only)
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(s, a.get(), a.length) != 0 || ::listen(s, 4) != 0) {
        ::close(s);
        return -1;
    }
    *port = PortOf(s);
    return s;
}

inline int AcceptWithin(int listener, int ms)
{
    pollfd p{listener, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
}

// 0 when connected (the socket in *out, when given), else the errno of connect.
inline int ConnectTo(const char* address, int port, int* out = nullptr)
{
    Address a(address, port);
    int s = ::socket(a.family(), SOCK_STREAM, 0);
    int rc = ::connect(s, a.get(), a.length) == 0 ? 0 : errno;
    if (rc == 0 && out)
        *out = s;
    else
        ::close(s);
    return rc;
}

// Whether ::1 can be bound here (IPv6 present and not switched off on lo).
inline bool HasIPv6Loopback()
{
    int port = 0;
    int s = ListenOn("::1", &port);
    ::close(s);
    return s >= 0;
}

// An IPv4 address of an interface of this machine outside 127.0.0.0/8, or "".
inline std::string NonLoopbackAddress()
{
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return "";
    std::string found;
    char text[INET_ADDRSTRLEN];
    for (ifaddrs* i = all; i && found.empty(); i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP) &&
            !(i->ifa_flags & IFF_LOOPBACK) &&
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text))
            found = text;
    ::freeifaddrs(all);
    return found;
}

// A TCP client of user `uid` in a child process, connected until Finish. Needs root.
class OtherUserClient {
public:
    static constexpr int kClosedByServer = 10;

    ~OtherUserClient() { Finish(); }

    // True once the child is connected (its connection waits in the listener's queue).
    bool Start(const char* address, int port, uid_t uid = kNobody)
    {
        int hold[2], ready[2];
        if (geteuid() != 0 || ::pipe(hold) != 0 || ::pipe(ready) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(hold[1]);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
                ::_exit(3);
            int s = -1;
            if (ConnectTo(address, port, &s) != 0 || ::write(ready[1], "c", 1) != 1)
                ::_exit(4);
            // Until Finish (0), or until the server closes the connection.
            pollfd watch[2] = {{hold[0], POLLIN, 0}, {s, POLLIN, 0}};
            while (::poll(watch, 2, -1) < 0 && errno == EINTR) {
            }
            char byte;
            ::_exit(watch[1].revents && ::recv(s, &byte, 1, 0) <= 0 ? kClosedByServer : 0);
        }
        ::close(hold[0]);
        ::close(ready[1]);
        hold_ = hold[1];
        pollfd wait{ready[0], POLLIN, 0};
        char byte = 0;
        bool connected = pid_ > 0 && ::poll(&wait, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        return connected;
    }

    // The child's exit status: 0 still connected, kClosedByServer, 3 or 4 when it could not
    // become the user or connect; -1 when none ran.
    int Finish()
    {
        if (pid_ <= 0)
            return -1;
        ::close(hold_);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int hold_ = -1;
};

}  // namespace testing_peer
