#pragma once

#include <memory>
#include <string>

namespace platform {

// A TLS client session on a connected TCP socket. The server's certificate is checked against
// the system's trust store, plus the file named by $ORVANTA_CA_FILE when it is set, and
// against the host name (or IP address) the caller asked for.
//
// The socket stays the caller's: the session neither closes it nor outlives it. Handshake()
// switches the socket to non-blocking mode; after that Read and Write never block, and the
// caller waits for the socket itself (WantRead / WantWrite say which way). One SSL object must
// not be used by two threads at once, so a caller that reads and writes from different
// threads serialises the calls; since none of them blocks, that lock is never held long.
class CTlsSession {
public:
    // Results of Read and Write besides a byte count.
    static constexpr int kClosed = 0;      // the peer ended the session
    static constexpr int kError = -1;      // the connection is broken
    static constexpr int kWantRead = -2;   // retry once the socket is readable
    static constexpr int kWantWrite = -3;  // retry once the socket is writable

    // Handshake as a client on `socket`, waiting at most `timeoutMs` in all. Null on failure,
    // with a one-line reason in *error ("certificate expired", "certificate is not for
    // mail.example.org", "certificate issuer unknown", ...).
    static std::unique_ptr<CTlsSession> Handshake(int socket, const std::string& host, int timeoutMs,
                                                  std::string* error);
    ~CTlsSession();

    CTlsSession(const CTlsSession&) = delete;
    CTlsSession& operator=(const CTlsSession&) = delete;

    // Up to `size` decrypted bytes; kClosed, kError, kWantRead or kWantWrite.
    int Read(char* dest, int size);
    // Some of the bytes (at least one) or kError, kWantRead, kWantWrite.
    int Write(const char* data, int size);
    // Decrypted bytes ready for Read without touching the socket; at least 1 while received
    // bytes wait to be decrypted. 0 means the next Read needs the socket.
    int Pending() const;
    // Sends the closing alert once, without waiting for the peer's.
    void Close();

    // The protocol and cipher agreed on, e.g. "TLSv1.3 TLS_AES_256_GCM_SHA384".
    std::string Description() const;

private:
    struct Impl;
    explicit CTlsSession(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_pImpl;
};

// Waits until `socket` is readable (want == CTlsSession::kWantRead) or writable; false on a
// timeout (timeoutMs >= 0) or an error. A socket shut down counts as ready.
bool WaitSocket(int socket, int want, int timeoutMs);

}  // namespace platform
