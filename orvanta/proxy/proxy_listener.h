#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/socket_results.h"

class CClientSocket;

// The listening socket of a proxy: one TCP port on every local address.
class CProxyListener {
public:
    // Receive-buffer capacity of every accepted connection.
    static constexpr int kClientCapacity = 40960;

    CProxyListener() = default;
    ~CProxyListener();
    CProxyListener(const CProxyListener&) = delete;
    CProxyListener& operator=(const CProxyListener&) = delete;

    // A ListenResult: 1 on success; -10: no socket, -30: the port cannot be bound, -40: listen failed.
    // The host name is only kept.
    int Listen(const char* host, int port);
    // Waits for a connection; null when accepting fails, which is how a closed listening
    // socket ends the listener thread. `acceptedSocket` (optional) receives the new socket's
    // descriptor so the proxy can interrupt a blocked read from another thread.
    std::unique_ptr<CClientSocket> Accept(int* acceptedSocket = nullptr);
    // Stops listening; wakes a thread blocked in Accept.
    void Close();

    bool IsListening() const { return listening_.load(); }
    int Port() const { return port_; }
    const std::string& Host() const { return host_; }

private:
    std::string host_;
    int port_ = 0;
    std::atomic<int> socket_{-1};
    std::atomic<bool> listening_{false};
};
