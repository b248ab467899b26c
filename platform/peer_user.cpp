#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {
namespace {

// One end of a connection, every address held as IPv6 (IPv4 as ::ffff:a.b.c.d).
struct Endpoint {
    unsigned char address[16] = {};
    bool v4 = false;
    uint16_t port = 0;
};

bool ReadEndpoint(const sockaddr_storage& from, Endpoint* end)
{
    if (from.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(from);
        end->address[10] = end->address[11] = 0xff;
        memcpy(end->address + 12, &in.sin_addr, 4);
        end->v4 = true;
        end->port = ntohs(in.sin_port);
        return true;
    }
    if (from.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(from);
        memcpy(end->address, &in6.sin6_addr, 16);
        end->v4 = IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr);
        end->port = ntohs(in6.sin6_port);
        return true;
    }
    return false;
}

std::string Text(const Endpoint& end)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (end.v4)
        inet_ntop(AF_INET, end.address + 12, text, sizeof text);
    else
        inet_ntop(AF_INET6, end.address, text, sizeof text);
    std::string port = std::to_string(end.port);
    return end.v4 ? std::string(text) + ":" + port : "[" + std::string(text) + "]:" + port;
}

// An end as the kernel writes it in /proc/net/tcp and tcp6: each 32-bit word of the address
// as the hex of its value in memory, then ":" and the port in hex. The IPv4 table takes the
// last word alone.
std::string KernelForm(const Endpoint& end, bool v4Table)
{
    std::string text;
    char word[9];
    for (int i = v4Table ? 12 : 0; i < 16; i += 4) {
        uint32_t value;
        memcpy(&value, end.address + i, 4);
        snprintf(word, sizeof word, "%08X", value);
        text += word;
    }
    snprintf(word, sizeof word, ":%04X", end.port);
    return text + word;
}

// The owner of the socket listed with `local` as its own end and `remote` as the other.
bool FindInTable(const char* table, const std::string& local, const std::string& remote, uid_t* uid)
{
    FILE* f = fopen(table, "re");
    if (!f)
        return false;
    bool found = false;
    char line[512];
    while (!found && fgets(line, sizeof line, f)) {
        // "sl local remote st tx:rx tr:when retrnsmt uid timeout inode ..."; the header line
        // matches nothing.
        char first[64], second[64];
        unsigned long owner = 0, inode = 0;
        if (sscanf(line, "%*s %63s %63s %*s %*s %*s %*s %lu %*s %lu", first, second, &owner, &inode) != 4)
            continue;
        // A socket that no process holds any more (closed, in TIME_WAIT) has no inode, and a
        // TIME_WAIT one is listed as user 0: its owner is gone either way.
        if (local == first && remote == second && inode != 0) {
            *uid = static_cast<uid_t>(owner);
            found = true;
        }
    }
    fclose(f);
    return found;
}

bool FindInProc(const Endpoint& peer, const Endpoint& local, uid_t* uid)
{
    // The peer's socket has the peer's end as its own. An IPv4 peer may still hold an IPv6
    // socket (a dual-stack client connecting to ::ffff:127.0.0.1), listed in the IPv6 table.
    if (peer.v4 && local.v4 && FindInTable("/proc/net/tcp", KernelForm(peer, true), KernelForm(local, true), uid))
        return true;
    return FindInTable("/proc/net/tcp6", KernelForm(peer, false), KernelForm(local, false), uid);
}

// Asks the kernel's socket diagnostics for the one socket whose own end is the peer's: exact
// and quick whatever the number of sockets, where the tables above are read whole. 1 found,
// 0 there is none, -1 no answer (the kernel has no TCP diagnostics).
int AskKernel(const Endpoint& peer, const Endpoint& local, uid_t* uid)
{
    int s = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (s < 0)
        return -1;
    timeval bound{1, 0};  // the answer comes at once; never hang an accept thread on it
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST;
    inet_diag_req_v2& r = ask.request;
    // An IPv4 lookup finds a dual-stack IPv6 socket on an IPv4 connection as well.
    const bool v4 = peer.v4 && local.v4;
    r.sdiag_family = v4 ? AF_INET : AF_INET6;
    r.sdiag_protocol = IPPROTO_TCP;
    r.idiag_states = ~0u;
    r.id.idiag_sport = htons(peer.port);
    r.id.idiag_dport = htons(local.port);
    memcpy(r.id.idiag_src, v4 ? peer.address + 12 : peer.address, v4 ? 4 : 16);
    memcpy(r.id.idiag_dst, v4 ? local.address + 12 : local.address, v4 ? 4 : 16);
    r.id.idiag_cookie[0] = r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    int result = -1;
    if (::sendto(s, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
        static_cast<ssize_t>(sizeof ask)) {
        alignas(nlmsghdr) char answer[8192];
        ssize_t n;
        while ((n = ::recv(s, answer, sizeof answer, 0)) < 0 && errno == EINTR) {
        }
        const auto* h = reinterpret_cast<const nlmsghdr*>(answer);
        if (n > 0 && NLMSG_OK(h, static_cast<unsigned>(n))) {
            if (h->nlmsg_type == NLMSG_ERROR) {
                const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                result = error->error == -ENOENT ? 0 : -1;
            } else if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY && h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
                // Without the peer's socket the lookup may name a listener on that port; a
                // socket without an inode is held by no process any more (closed, TIME_WAIT).
                bool peers = m->idiag_state != TCP_LISTEN && m->idiag_inode != 0 &&
                             m->id.idiag_sport == r.id.idiag_sport && m->id.idiag_dport == r.id.idiag_dport;
                if (peers)
                    *uid = m->idiag_uid;
                result = peers ? 1 : 0;
            }
        }
    }
    ::close(s);
    return result;
}

// The two ends of a connected socket; false when it has none.
bool ReadEnds(int connectedSocket, PeerOwner* owner, Endpoint* peer, Endpoint* local)
{
    sockaddr_storage ours{}, theirs{};
    socklen_t ourLength = sizeof ours, theirLength = sizeof theirs;
    if (getsockname(connectedSocket, reinterpret_cast<sockaddr*>(&ours), &ourLength) != 0 ||
        getpeername(connectedSocket, reinterpret_cast<sockaddr*>(&theirs), &theirLength) != 0 ||
        !ReadEndpoint(ours, local) || !ReadEndpoint(theirs, peer))
        return false;
    owner->peer = Text(*peer);
    owner->localPort = local->port;
    return true;
}

}  // namespace

bool PeerOwner::IsThisUser() const { return found && uid == geteuid(); }

PeerOwner FindPeerOwner(int connectedSocket)
{
    PeerOwner owner;
    Endpoint peer, local;
    if (!ReadEnds(connectedSocket, &owner, &peer, &local))
        return owner;
    int asked = AskKernel(peer, local, &owner.uid);
    owner.found = asked == 1 || (asked < 0 && FindInProc(peer, local, &owner.uid));
    return owner;
}

PeerOwner FindPeerOwnerInProc(int connectedSocket)
{
    PeerOwner owner;
    Endpoint peer, local;
    if (ReadEnds(connectedSocket, &owner, &peer, &local))
        owner.found = FindInProc(peer, local, &owner.uid);
    return owner;
}

std::string RefusedConnectionText(const PeerOwner& owner, const std::string& reason)
{
    std::string who = owner.found ? "user " + std::to_string(owner.uid) : "owner unknown";
    return "Refused a connection to port " + std::to_string(owner.localPort) + " from " +
           (owner.peer.empty() ? std::string("an unknown peer") : owner.peer) + " (" + who + "): " + reason;
}

}  // namespace platform
