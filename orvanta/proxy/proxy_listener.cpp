#include "orvanta/proxy/proxy_listener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/client_socket.h"
#include "orvanta/core/log.h"
#include "platform/peer_user.h"

CProxyListener::~CProxyListener() { Close(); }

int CProxyListener::Listen(const char* host, int port)
{
    host_ = host ? std::string(host).substr(0, 100) : std::string();
    port_ = port;
    return sockets_.Listen(port, CListenSockets::Scope::Loopback, 50);
}

std::unique_ptr<CClientSocket> CProxyListener::Accept(int* acceptedSocket)
{
    for (;;) {
        sockaddr_storage peer{};
        int c = sockets_.Accept(&peer);
        if (c < 0)
            return nullptr;
        // Every user of this machine reaches the loopback addresses; only this user's mail
        // client may log in to the user's servers through us.
        platform::PeerOwner owner = platform::FindPeerOwner(c);
        if (!owner.IsThisUser()) {
            ::close(c);
            orvanta::LogUtf8(platform::RefusedConnectionText(owner, "only this user's programs may use the proxy"));
            continue;
        }
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // replies go out whole, at once
        if (acceptedSocket)
            *acceptedSocket = c;
        return std::make_unique<CClientSocket>(c, peer, kClientCapacity);
    }
}

void CProxyListener::Close() { sockets_.Close(); }
