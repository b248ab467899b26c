#pragma once

#include <memory>
#include <string>

#include "common/listen_sockets.h"
#include "common/socket_results.h"

class CClientSocket;

// The listening sockets of a proxy: one TCP port on 127.0.0.1 and ::1. Nobody on the network
// may use the proxies: the SMTP proxy would relay through the user's real server, the POP3
// proxy would open connections to any host and port from this machine.
class CProxyListener {
public:
    // Receive-buffer capacity of every accepted connection.
    static constexpr int kClientCapacity = 40960;

    CProxyListener() = default;
    ~CProxyListener();
    CProxyListener(const CProxyListener&) = delete;
    CProxyListener& operator=(const CProxyListener&) = delete;

    // A ListenResult: 1 on success; -10: no socket, -30: the port cannot be bound (on 127.0.0.1,
    // or on ::1 where the machine has it), -40: listen failed. The host name is only kept.
    int Listen(const char* host, int port);
    // Waits for a connection from a program of the user this program runs as; any other
    // connection is closed at once with a log line. Null when accepting fails, which is how a
    // closed listening socket ends the listener thread. `acceptedSocket` (optional) receives the new socket's
    // descriptor so the proxy can interrupt a blocked read from another thread.
    std::unique_ptr<CClientSocket> Accept(int* acceptedSocket = nullptr);
    // Stops listening; wakes a thread blocked in Accept.
    void Close();

    bool IsListening() const { return sockets_.IsListening(); }
    int Port() const { return port_; }
    const std::string& Host() const { return host_; }

private:
    std::string host_;
    int port_ = 0;
    CListenSockets sockets_;
};
