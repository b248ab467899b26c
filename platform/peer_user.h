#pragma once

#include <string>
#include <sys/types.h>

// Who is at the other end of an accepted TCP connection. The local servers (the two proxies
// and the IMAP server) serve only the user who runs the program: on a machine with several
// users every one of them can reach 127.0.0.1, so the address alone says nothing.
//
// A peer on this machine has a socket of its own, with our two addresses swapped, and the
// kernel knows the user that created it: its socket diagnostics (netlink) name it for the one
// socket asked for, and /proc/net/tcp (IPv4) and /proc/net/tcp6 (IPv6, and IPv4 through a
// dual-stack socket) list it among all the others. A peer on another host has none.
namespace platform {

struct PeerOwner {
    std::string peer;    // the peer's address and port: "127.0.0.1:40312", "[::1]:40312"
    int localPort = 0;   // our side's port: which server it came to
    bool found = false;  // the peer's socket is on this machine
    uid_t uid = 0;       // the user it belongs to, when found

    // Found and of the user this program runs as.
    bool IsThisUser() const;
};

// Looks up the peer of a connected TCP socket through the socket diagnostics, or through
// /proc when the kernel has none. Nothing found (a peer on another host, one that is already
// gone, neither way available) leaves `found` false.
PeerOwner FindPeerOwner(int connectedSocket);
// The same through /proc alone.
PeerOwner FindPeerOwnerInProc(int connectedSocket);

// The log line for a connection refused for `reason`, naming the peer and its owner.
std::string RefusedConnectionText(const PeerOwner& owner, const std::string& reason);

}  // namespace platform
