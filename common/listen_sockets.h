#pragma once

#include <atomic>
#include <sys/socket.h>

#include "common/socket_results.h"

// The listening sockets of one local server: one TCP port on the loopback addresses
// (127.0.0.1, and ::1 where the machine has it) or on every address (0.0.0.0 and [::]).
// The mail client reaches the servers as "localhost", which may resolve to ::1 first, and
// nobody on the network may reach them unless the user asked for it.
class CListenSockets {
public:
    enum class Scope { Loopback, EveryAddress };

    CListenSockets() = default;
    ~CListenSockets() { Close(); }
    CListenSockets(const CListenSockets&) = delete;
    CListenSockets& operator=(const CListenSockets&) = delete;

    // A ListenResult: 1 listening; -10 no socket; -30 the port cannot be bound (out of range,
    // not permitted, or in use on either family: a port another program holds on 0.0.0.0 or
    // [::] counts as taken); -40 listen failed. Without IPv6, or without ::1, IPv4 alone.
    // Port 0 takes a free port, the same on both families.
    int Listen(int port, Scope scope, int backlog);
    // Waits for a connection on any of the sockets: the accepted descriptor (blocking,
    // close-on-exec) with the peer's address, or -1 once the sockets are closed or accepting
    // fails for good.
    int Accept(sockaddr_storage* peer);
    // Stops listening; wakes a thread blocked in Accept.
    void Close();

    bool IsListening() const { return listening_.load(); }
    int Port() const { return port_; }  // the bound port
    bool HasIPv6() const { return sockets_[1].load() >= 0; }

private:
    std::atomic<int> sockets_[2] = {-1, -1};  // IPv4, IPv6
    std::atomic<bool> listening_{false};
    int port_ = 0;
};
