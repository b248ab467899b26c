#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>

#include "common/socket_results.h"

namespace platform {
class CTlsSession;
}

// A line-buffered TCP connection over IPv4. The receive buffer has a fixed capacity chosen
// per connection; ReadLine hands out one line at a time without its line end, in pieces when
// the line is longer than the caller's buffer. After each ReadLine, LastLineEnded() tells
// whether the text returned finished a line (its line end was consumed) or was only a piece
// of it, so a relay can pass long lines on exactly as they came.
//
// One thread reads at a time. Sends are serialised by a lock of their own, so two threads
// may write to the same connection without interleaving inside one SendLine or Write.
//
// Towards a real server every wait can be bounded (SetTimeouts): the connect, each receive and
// each send that blocks. A receive that runs out of time ends the connection: a reply that
// comes later would be taken for the answer to the next command. Connections without time-outs
// (the default, and the mail client's side) wait as long as it takes.
//
// A connection may run over TLS: from the start (ConnectTls) or from a point both sides agreed
// on (StartTls, after POP3 STLS or SMTP STARTTLS). Every reading and writing call then works
// on the decrypted stream as before; a reader and a writer in two threads still may overlap.
class CClientSocket {
public:
    // An unconnected socket whose receive buffer takes `capacity` bytes per fill.
    explicit CClientSocket(int capacity);
    // Wraps an accepted connection; it counts as connected.
    CClientSocket(int socket, const sockaddr_in& peer, int capacity);
    // The same for a peer of either family, as an IPv6 listener accepts them.
    CClientSocket(int socket, const sockaddr_storage& peer, int capacity);
    ~CClientSocket();

    CClientSocket(const CClientSocket&) = delete;
    CClientSocket& operator=(const CClientSocket&) = delete;

    // A ConnectResult: 1 when connected; -10 when no socket could be created; -20 when the host
    // could not be resolved or the connection was refused. A socket still open from before is closed first.
    int Connect(const char* host, int port);

    // Connect, then a TLS handshake at once (implicit TLS, POP3 on 995, SMTP on 465). 1 when
    // connected and verified; -10 and -20 as Connect; -30 when the handshake or the
    // certificate check failed (TlsError() says why; the connection is closed).
    int ConnectTls(const char* host, int port);
    // Turns the open connection into TLS, checking the certificate against `host` (the host
    // of the last Connect when null). The server must have said yes to the upgrade, and
    // nothing may be left unread: bytes that came before the handshake were not protected by
    // it, so they end the connection instead of being read as if they were. False when the
    // upgrade failed; the connection is then closed and TlsError() says why.
    bool StartTls(const char* host = nullptr);
    bool IsTls() const;
    // Why the last ConnectTls or StartTls failed, one line; empty after a success.
    const std::string& TlsError() const { return m_sTlsError; }
    // How long a TLS handshake may take in all.
    static constexpr int kTlsHandshakeMs = 30000;

    // Bounds for the next Connect (`connectMs`) and for every receive and blocked send
    // (`replyMs`), in milliseconds; 0 or less waits without bound. The reply bound applies at
    // once to an open connection too.
    void SetTimeouts(int connectMs, int replyMs);
    // Changes only the bound of each receive (0: none), for a reader that bounds its waits
    // itself for a while.
    void SetReceiveTimeout(int ms);
    // The last Connect or receive failed because its time ran out.
    bool TimedOut() const { return m_bTimedOut; }

    // The next line (or the next piece of a long line) into dest, at most size - 1 bytes and
    // terminated; trailing CRs before the LF are dropped, CRs inside the line stay. Returns
    // the number of bytes copied, or -1 when the peer closed the connection or the receive
    // failed (bytes of an unfinished line are then dropped).
    int ReadLine(char* dest, int size);

    // True when the text the last ReadLine returned ended its line; false for a piece cut to
    // the caller's size or to the receive buffer, whose rest comes with the next call.
    bool LastLineEnded() const { return m_bLastLineEnded; }

    // Raw bytes: first whatever the line reader already holds, otherwise one receive straight
    // into dest. Returns the number of bytes, 0 when the peer closed, -1 on error.
    int ReadBytes(char* dest, int size);

    // Copies up to `size` bytes the line reader holds without receiving; 0 when it holds none.
    int ReadBuffered(char* dest, int size);
    // Number of received bytes not yet handed out, decrypted TLS bytes included: when it is 0,
    // the next read waits on the socket.
    int Pending() const;

    // Sends `length` bytes when length > 0, then "\r\n". False when the send failed.
    bool SendLine(const char* text, int length);
    // Sends `length` bytes when length > 0, nothing else. False when the send failed.
    bool Write(const char* text, int length);

    // Shuts the connection down in both directions and closes it (when connected).
    void Close();
    // Shuts the connection down without closing the handle: wakes a thread blocked in a
    // receive on it; that thread then sees -1 and calls Close().
    void Shutdown();

    // True when the peer's address is 127.0.0.1 or ::1.
    bool IsLocalPeer() const;

    bool IsConnected() const { return m_bConnected; }
    int GetSocket() const { return m_hSocket; }
    const char* GetHost() const { return m_szHost; }
    int GetPort() const { return m_nPort; }
    int GetCapacity() const { return m_nCapacity; }

private:
    // One receive appended to the buffer: bytes received, 0 for an orderly close, -1 on error.
    int Receive();
    // One receive straight into dest, over TLS when it is on; the same results as Receive.
    int ReceiveInto(char* dest, int size);
    bool SendTls(const char* data, int length);
    // A receive ran out of time: the connection is shut down and TimedOut() set.
    void ReceiveTimedOut(int s);
    int ConnectSocket(int s, const sockaddr_in& addr);
    bool SendAll(const char* first, int firstLength, const char* second, int secondLength);

    int m_nCapacity;
    char* m_pBuffer;     // capacity + 100 bytes, terminated after the filled bytes
    int m_nReadPos = 0;  // read position <= filled length <= capacity
    int m_nFilled = 0;
    bool m_bLastLineEnded = false;

    // Atomic so that Shutdown() from another thread sees the current handle.
    std::atomic<int> m_hSocket{-1};
    sockaddr_in m_Peer{};
    in6_addr m_Peer6{};  // the peer instead of m_Peer when m_bPeer6
    bool m_bPeer6 = false;
    std::atomic<bool> m_bConnected{false};
    char m_szHost[100] = {};
    int m_nPort = 0;

    std::mutex m_SendLock;

    std::atomic<int> m_nConnectTimeoutMs{0};
    std::atomic<int> m_nReplyTimeoutMs{0};
    std::atomic<int> m_nReceiveTimeoutMs{0};
    std::atomic<bool> m_bTimedOut{false};

    // The TLS session once the connection runs over TLS. The lock keeps a reader and a writer
    // from using it at the same moment; its calls never block, so it is held only briefly.
    mutable std::mutex m_TlsLock;
    std::unique_ptr<platform::CTlsSession> m_pTls;
    std::atomic<bool> m_bTls{false};
    std::string m_sTlsError;
};
