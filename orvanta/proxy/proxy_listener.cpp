#include "orvanta/proxy/proxy_listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/client_socket.h"

CProxyListener::~CProxyListener() { Close(); }

int CProxyListener::Listen(const char* host, int port)
{
    host_ = host ? std::string(host).substr(0, 100) : std::string();
    port_ = port;
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return ListenResult::NoSocket;
    // Lets the port be taken again right after a stop while old connections linger in
    // TIME_WAIT; a port held by another listener still fails to bind.
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (port < 0 || port > 65535 || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(s);
        return ListenResult::BindFailed;
    }
    if (::listen(s, 50) != 0) {
        ::close(s);
        return ListenResult::ListenFailed;
    }
    socket_.store(s);
    listening_.store(true);
    return ListenResult::Listening;
}

std::unique_ptr<CClientSocket> CProxyListener::Accept(int* acceptedSocket)
{
    for (;;) {
        int s = socket_.load();
        if (s < 0 || !listening_.load())
            return nullptr;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int c = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (c < 0) {
            // A signal or a connection reset before it was taken is no reason to stop.
            if ((errno == EINTR || errno == ECONNABORTED) && listening_.load())
                continue;
            return nullptr;
        }
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // replies go out whole, at once
        if (acceptedSocket)
            *acceptedSocket = c;
        return std::make_unique<CClientSocket>(c, peer, kClientCapacity);
    }
}

void CProxyListener::Close()
{
    listening_.store(false);
    int s = socket_.exchange(-1);
    if (s >= 0) {
        ::shutdown(s, SHUT_RDWR);  // wakes accept() in the listener thread
        ::close(s);
    }
}
