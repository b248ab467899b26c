#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/socket_results.h"

class CClientSocket;
class CDebug;
class CPop3Account;
class CPop3TranCommand;

// The results of CPop3Client::NegotiateTls.
struct TlsResult {
    enum : int {
        Secured = 1,          // over TLS now, or plain text because none is offered and none is required
        ServerGone = -10,     // the server went away
        UpgradeFailed = -30,  // TLS was offered, but STLS or the certificate check failed
        NotOffered = -40,     // no TLS offered and TLS_REQUIRED is 1
    };
    static constexpr const char* Text(int result)
    {
        switch (result) {
        case Secured: return "secured";
        case ServerGone: return "the server went away";
        case UpgradeFailed: return "TLS failed";
        case NotOffered: return "the server offers no TLS";
        default: return "unknown TLS result";
        }
    }
};

// A connection to a real POP3 server for one account. Connect() does not read the greeting;
// the caller reads it (ReadLine) and either logs in itself or calls Login().
//
// One thread uses the object at a time; only ShutdownConnection() may be called from another
// thread, to wake a reader blocked on the server.
class CPop3Client {
public:
    static constexpr int kBufferCapacity = 50000;

    explicit CPop3Client(CDebug* debug);
    CPop3Client();
    ~CPop3Client();

    CPop3Client(const CPop3Client&) = delete;
    CPop3Client& operator=(const CPop3Client&) = delete;

    // No effect; callers pair them around a connection.
    void Pop3Init() {}
    void Pop3UnInit() {}

    // The port where the server speaks TLS from the first byte.
    static constexpr int kImplicitTlsPort = 995;

    // Bounds for every wait on the server, in milliseconds (0 or less: none): the connect, and
    // each receive and blocked send (see CClientSocket::SetTimeouts). They hold for every
    // command of this library and for every read of a caller, so none of them can wait forever
    // on a server that has stopped answering.
    void SetTimeouts(int connectMs, int replyMs);
    // The connection ended, or could not be made, because the server did not answer in time.
    bool TimedOut() const;

    // A ConnectResult: 1 when connected, -10 when the socket could not be created or the server could not be
    // reached, 0 (and nothing changes) when already connected. On port 995 the connection is
    // TLS from the start: -30 when its handshake or certificate check failed (TlsFailure()
    // says why; the connection is closed).
    int Connect(CPop3Account* account);

    // After the greeting, on a connection that is not TLS yet: asks CAPA and upgrades with
    // STLS when the server offers it. A TlsResult: 1 when the connection now runs over TLS, or when the
    // server offers no TLS and `tlsRequired` is false (plain text, as before); -30 when TLS
    // was offered but the upgrade or the certificate check failed, -40 when no TLS is offered
    // and `tlsRequired` is true, -10 when the server went away. On every result but 1 the
    // connection is closed: once TLS is offered, nothing is sent in plain text any more.
    int NegotiateTls(bool tlsRequired);
    bool IsTls() const;
    // Whether NegotiateTls's CAPA listing named PIPELINING and the connection stayed as it was
    // (a listing from before STLS no longer counts): commands may then go out before the
    // replies to earlier ones have arrived.
    bool OffersPipelining() const { return m_bPipelining; }
    // Why the last Connect or NegotiateTls gave up on TLS, one line; empty otherwise.
    const std::string& TlsFailure() const { return m_sTlsFailure; }
    bool IsConnect() const { return m_bConnect; }

    // One line from the server without its line end (see CClientSocket::ReadLine); -1 when
    // the connection ended.
    int ReadLine(char* dest, int size);
    // Whether the last ReadLine returned the end of a line or only a piece of a longer one.
    bool LastLineEnded() const;
    // Raw bytes from the server.
    int Read(char* dest, long size);
    // Sends the text and "\r\n".
    void SendLine(const char* text);
    // Received bytes not yet read.
    int Pending() const;

    void Close() { CloseSocket(); }
    void CloseSocket();
    // QUIT, then Close().
    void QuitClose();
    // Shuts the connection down without closing it; safe from another thread.
    void ShutdownConnection();

    // USER/PASS exchange after the greeting: 1, or 0 / -20 / -30 (see CPop3TranCommand).
    int Login();

    void SetID(const char* id);
    void SetPwd(const char* pwd);
    char* getID() { return m_szID; }
    char* getPwd() { return m_szPwd; }

    CPop3TranCommand* GetPop3Command() { return m_pCommand.get(); }
    CPop3Account* GetAccount() { return m_pAccount; }
    CClientSocket* GetConnection() { return m_pSocket.get(); }

    // Takes one report text; reports are not shown anywhere.
    void DebugMesg(const char* mesg);

private:
    [[maybe_unused]] CDebug* m_pDebug = nullptr;  // not owned, not called
    CPop3Account* m_pAccount = nullptr;           // not owned
    std::unique_ptr<CClientSocket> m_pSocket;
    char m_szServer[100] = {};
    int m_nPort = 0;
    char m_szID[100] = {};  // 99 characters: full e-mail addresses fit
    char m_szPwd[100] = {};
    std::unique_ptr<CPop3TranCommand> m_pCommand;
    std::atomic<bool> m_bConnect{false};
    bool m_bPipelining = false;
    std::string m_sTlsFailure;
};
