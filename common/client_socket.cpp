#include "common/client_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/tls.h"

namespace {

// Room beyond the capacity so the buffer can always be terminated after the filled bytes.
constexpr int kSlack = 100;

bool ResolveIPv4(const char* host, in_addr* out)
{
    if (inet_pton(AF_INET, host, out) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    *out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// poll(2) on one descriptor for at most `ms` milliseconds (-1: no bound), carried on across
// signals with the time that is left: 1 ready, 0 out of time, -1 failed.
int PollOne(int s, short events, int ms)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    pollfd p{s, events, 0};
    for (;;) {
        int wait = -1;
        if (ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        int rc = ::poll(&p, 1, wait);
        if (rc > 0)
            return 1;
        if (rc == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// The kernel bounds each blocking receive and send itself, so a read that finds its bytes waiting
// costs one call as it did without a bound.
void SetSocketTimeout(int s, int option, int ms)
{
    timeval tv{};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    ::setsockopt(s, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

CClientSocket::CClientSocket(int capacity)
    : m_nCapacity(std::max(capacity, 2)), m_pBuffer(new char[m_nCapacity + kSlack])
{
    m_pBuffer[0] = '\0';
}

CClientSocket::CClientSocket(int socket, const sockaddr_in& peer, int capacity) : CClientSocket(capacity)
{
    m_hSocket = socket;
    m_Peer = peer;
    m_bConnected = socket >= 0;
}

CClientSocket::CClientSocket(int socket, const sockaddr_storage& peer, int capacity) : CClientSocket(capacity)
{
    m_hSocket = socket;
    if (peer.ss_family == AF_INET6) {
        m_Peer6 = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
        m_bPeer6 = true;
    } else if (peer.ss_family == AF_INET) {
        m_Peer = reinterpret_cast<const sockaddr_in&>(peer);
    }
    m_bConnected = socket >= 0;
}

CClientSocket::~CClientSocket()
{
    // A connection still open when its owner goes away would leak the handle.
    Close();
    delete[] m_pBuffer;
}

int CClientSocket::Connect(const char* host, int port)
{
    Close();
    m_bTimedOut = false;
    m_nReadPos = m_nFilled = 0;
    m_pBuffer[0] = '\0';
    m_bLastLineEnded = false;
    if (host) {
        size_t n = strnlen(host, sizeof m_szHost - 1);
        memcpy(m_szHost, host, n);
        m_szHost[n] = '\0';
    } else {
        m_szHost[0] = '\0';
    }
    m_nPort = port;

    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return ConnectResult::NoSocket;

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (!host || !*host || port < 0 || port > 65535 || !ResolveIPv4(host, &addr.sin_addr)) {
        ::close(s);
        return ConnectResult::NoAddress;
    }
    if (ConnectSocket(s, addr) < 0) {
        ::close(s);
        return ConnectResult::NoAddress;
    }
    m_nReceiveTimeoutMs = m_nReplyTimeoutMs.load();
    SetSocketTimeout(s, SO_RCVTIMEO, m_nReceiveTimeoutMs);
    SetSocketTimeout(s, SO_SNDTIMEO, m_nReplyTimeoutMs);
    m_hSocket = s;
    m_Peer = addr;
    m_bConnected = true;
    return ConnectResult::Connected;
}

int CClientSocket::ConnectSocket(int s, const sockaddr_in& addr)
{
    const sockaddr* to = reinterpret_cast<const sockaddr*>(&addr);
    const int limit = m_nConnectTimeoutMs;
    int rc;
    if (limit <= 0) {
        do
            rc = ::connect(s, to, sizeof addr);
        while (rc < 0 && errno == EINTR);
        return rc < 0 ? -1 : 0;
    }
    // Without a bound a host that drops the connection request keeps the caller two minutes
    // and more: the request goes out without blocking and the wait for it is bounded.
    int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    rc = ::connect(s, to, sizeof addr);
    if (rc < 0 && (errno == EINPROGRESS || errno == EINTR)) {
        int ready = PollOne(s, POLLOUT, limit);
        int error = 0;
        socklen_t length = sizeof error;
        if (ready == 0)
            m_bTimedOut = true;
        rc = ready > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0 ? 0 : -1;
    }
    if (rc == 0 && ::fcntl(s, F_SETFL, flags) < 0)
        rc = -1;
    return rc < 0 ? -1 : 0;
}

void CClientSocket::SetTimeouts(int connectMs, int replyMs)
{
    m_nConnectTimeoutMs = connectMs;
    m_nReplyTimeoutMs = replyMs;
    int s = m_hSocket.load();
    if (s >= 0)
        SetSocketTimeout(s, SO_SNDTIMEO, replyMs);
    SetReceiveTimeout(replyMs);
}

void CClientSocket::SetReceiveTimeout(int ms)
{
    m_nReceiveTimeoutMs = ms;
    int s = m_hSocket.load();
    if (s >= 0)
        SetSocketTimeout(s, SO_RCVTIMEO, ms);
}

void CClientSocket::ReceiveTimedOut(int s)
{
    // Whatever the peer sends later must not be read as the reply to a later command.
    m_bTimedOut = true;
    ::shutdown(s, SHUT_RDWR);
}

int CClientSocket::ConnectTls(const char* host, int port)
{
    int rc = Connect(host, port);
    if (rc != ConnectResult::Connected)
        return rc;
    return StartTls(host) ? ConnectResult::Connected : ConnectResult::TlsFailed;
}

bool CClientSocket::StartTls(const char* host)
{
    m_sTlsError.clear();
    std::string name = host ? host : m_szHost;
    if (!m_bConnected || m_hSocket < 0) {
        m_sTlsError = "not connected";
        return false;
    }
    if (m_bTls) {
        m_sTlsError = "TLS is already on";
        Close();
        return false;
    }
    if (Pending() > 0) {
        // Bytes read before the handshake could have been put there by anyone on the way.
        m_sTlsError = "the server sent more than its answer before TLS began";
        Close();
        return false;
    }
    std::unique_ptr<platform::CTlsSession> session =
        platform::CTlsSession::Handshake(m_hSocket, name, kTlsHandshakeMs, &m_sTlsError);
    if (!session) {
        Close();
        return false;
    }
    std::lock_guard guard(m_TlsLock);
    m_pTls = std::move(session);
    m_bTls = true;
    return true;
}

bool CClientSocket::IsTls() const { return m_bTls; }

int CClientSocket::Receive()
{
    if (m_nReadPos >= m_nCapacity - 1 || m_nFilled >= m_nCapacity) {
        int unread = m_nFilled - m_nReadPos;
        memmove(m_pBuffer, m_pBuffer + m_nReadPos, static_cast<size_t>(unread));
        m_nReadPos = 0;
        m_nFilled = unread;
        m_pBuffer[m_nFilled] = '\0';
    }
    int got = ReceiveInto(m_pBuffer + m_nFilled, m_nCapacity - m_nFilled);
    if (got <= 0)
        return got;
    m_nFilled += got;
    m_pBuffer[m_nFilled] = '\0';
    return got;
}

int CClientSocket::ReceiveInto(char* dest, int size)
{
    if (!m_bTls) {
        int s = m_hSocket.load();
        if (s < 0)
            return -1;
        ssize_t got;
        do {
            got = ::recv(s, dest, static_cast<size_t>(size), 0);
        } while (got < 0 && errno == EINTR);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && m_nReceiveTimeoutMs > 0)
            ReceiveTimedOut(s);
        return got < 0 ? -1 : static_cast<int>(got);
    }
    for (;;) {
        int s = m_hSocket.load();
        int got;
        {
            std::lock_guard guard(m_TlsLock);
            if (!m_pTls || s < 0)
                return -1;
            got = m_pTls->Read(dest, size);
        }
        if (got > 0) {
            // A TLS record holds at most 16 KB: take the further records already received,
            // so a large reader gets as much per call as from a plain socket.
            while (got < size) {
                std::lock_guard guard(m_TlsLock);
                if (!m_pTls || m_pTls->Pending() == 0)
                    break;
                int more = m_pTls->Read(dest + got, size - got);
                if (more <= 0)
                    break;
                got += more;
            }
            return got;
        }
        if (got == platform::CTlsSession::kClosed)
            return 0;
        if (got == platform::CTlsSession::kError)
            return -1;
        // Waited for without the lock, so a writer in another thread goes on meanwhile.
        const int limit = m_nReceiveTimeoutMs;
        if (limit <= 0) {
            if (!platform::WaitSocket(s, got, -1))
                return -1;
            continue;
        }
        int ready = PollOne(s, got == platform::CTlsSession::kWantWrite ? POLLOUT : POLLIN, limit);
        if (ready == 0)
            ReceiveTimedOut(s);
        if (ready <= 0)
            return -1;
    }
}

int CClientSocket::ReadLine(char* dest, int size)
{
    if (!dest || size < 1)
        return -1;
    for (;;) {
        char* start = m_pBuffer + m_nReadPos;
        int unread = m_nFilled - m_nReadPos;
        char* lf = static_cast<char*>(memchr(start, '\n', static_cast<size_t>(unread)));
        int content;
        if (lf) {
            // The line ends at the last byte before the LF that is not a CR.
            char* end = lf;
            while (end > start && end[-1] == '\r')
                --end;
            content = static_cast<int>(end - start);
        } else if (m_nReadPos == 0 && m_nFilled >= m_nCapacity) {
            // A full buffer without a line end is handed out as it is. CRs at its very end stay
            // behind while there is other text: they may belong to a CR LF still on its way,
            // and handing them out now would turn "x\r\n" into "x\r" + "\r\n" in a relay.
            content = unread;
            while (content > 0 && start[content - 1] == '\r')
                --content;
            if (content == 0)
                content = unread;
        } else {
            if (Receive() <= 0) {
                m_nReadPos = m_nFilled = 0;
                m_pBuffer[0] = '\0';
                m_bLastLineEnded = false;
                dest[0] = '\0';
                return -1;
            }
            continue;
        }

        int copy = std::min(content, size - 1);
        memcpy(dest, start, static_cast<size_t>(copy));
        dest[copy] = '\0';
        if (lf && copy == content) {
            m_nReadPos = static_cast<int>(lf - m_pBuffer) + 1;
            m_bLastLineEnded = true;
        } else {
            m_nReadPos += copy;
            m_bLastLineEnded = false;
        }
        return copy;
    }
}

int CClientSocket::ReadBuffered(char* dest, int size)
{
    if (!dest || size < 1)
        return 0;
    int n = std::min(size, m_nFilled - m_nReadPos);
    memcpy(dest, m_pBuffer + m_nReadPos, static_cast<size_t>(n));
    m_nReadPos += n;
    if (m_nReadPos == m_nFilled) {
        m_nReadPos = m_nFilled = 0;
        m_pBuffer[0] = '\0';
    }
    return n;
}

int CClientSocket::ReadBytes(char* dest, int size)
{
    if (!dest || size < 1)
        return -1;
    // Bytes the line reader already received must not be skipped.
    int n = ReadBuffered(dest, size);
    if (n > 0)
        return n;
    return ReceiveInto(dest, size);
}

int CClientSocket::Pending() const
{
    int pending = m_nFilled - m_nReadPos;
    if (m_bTls) {
        std::lock_guard guard(m_TlsLock);
        if (m_pTls)
            pending += m_pTls->Pending();
    }
    return pending;
}

bool CClientSocket::SendAll(const char* first, int firstLength, const char* second, int secondLength)
{
    std::lock_guard guard(m_SendLock);
    if (m_hSocket < 0)
        return false;
    if (m_bTls) {
        // A command and its line end go out in one TLS record, not two.
        if (firstLength > 0 && secondLength > 0 && firstLength + secondLength <= 16384) {
            char joined[16384];
            memcpy(joined, first, static_cast<size_t>(firstLength));
            memcpy(joined + firstLength, second, static_cast<size_t>(secondLength));
            return SendTls(joined, firstLength + secondLength);
        }
        return (firstLength <= 0 || SendTls(first, firstLength)) &&
               (secondLength <= 0 || SendTls(second, secondLength));
    }
    iovec parts[2];
    int count = 0;
    if (firstLength > 0)
        parts[count++] = {const_cast<char*>(first), static_cast<size_t>(firstLength)};
    if (secondLength > 0)
        parts[count++] = {const_cast<char*>(second), static_cast<size_t>(secondLength)};
    iovec* next = parts;
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = next;
        msg.msg_iovlen = static_cast<size_t>(count);
        // MSG_NOSIGNAL: a peer that went away gives an error here, not SIGPIPE for the process.
        ssize_t sent = ::sendmsg(m_hSocket, &msg, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        size_t left = static_cast<size_t>(sent);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

bool CClientSocket::SendTls(const char* data, int length)
{
    while (length > 0) {
        int s = m_hSocket.load();
        int sent;
        {
            std::lock_guard guard(m_TlsLock);
            if (!m_pTls || s < 0)
                return false;
            sent = m_pTls->Write(data, length);
        }
        if (sent > 0) {
            data += sent;
            length -= sent;
            continue;
        }
        if (sent == platform::CTlsSession::kError)
            return false;
        const int limit = m_nReplyTimeoutMs;
        if (!platform::WaitSocket(s, sent, limit > 0 ? limit : -1))
            return false;
    }
    return true;
}

bool CClientSocket::SendLine(const char* text, int length) { return SendAll(text, text ? length : 0, "\r\n", 2); }

bool CClientSocket::Write(const char* text, int length)
{
    if (!text || length <= 0)
        return true;
    return SendAll(text, length, nullptr, 0);
}

void CClientSocket::Close()
{
    if (m_bTls) {
        // The closing alert tells the server the session ended on purpose; it cannot be sent
        // once the socket is shut down.
        std::lock_guard guard(m_TlsLock);
        if (m_pTls)
            m_pTls->Close();
    }
    // Shut down first: a send blocked on a peer that stopped reading holds the send lock, and
    // this wakes it with an error so the lock comes free.
    int current = m_hSocket.load();
    if (current >= 0)
        ::shutdown(current, SHUT_RDWR);
    std::lock_guard guard(m_SendLock);
    if (!m_bConnected)
        return;
    int s = m_hSocket.exchange(-1);
    m_bConnected = false;
    {
        std::lock_guard tls(m_TlsLock);
        m_pTls.reset();
        m_bTls = false;
    }
    if (s >= 0) {
        ::shutdown(s, SHUT_RDWR);
        ::close(s);
    }
}

void CClientSocket::Shutdown()
{
    int s = m_hSocket.load();
    if (s >= 0)
        ::shutdown(s, SHUT_RDWR);
}

bool CClientSocket::IsLocalPeer() const
{
    if (m_bPeer6)
        return IN6_IS_ADDR_LOOPBACK(&m_Peer6);
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &m_Peer.sin_addr, text, sizeof text))
        return false;
    return strcmp(text, "127.0.0.1") == 0;
}
