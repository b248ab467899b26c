#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "orvanta/proxy/proxy_base.h"
#include "orvanta/proxy/proxy_mesg.h"
#include "orvanta/proxy/reply_tracker.h"

class CClientSocket;
class CDebug;
class CPop3Account;
class CPop3Client;

// The local POP3 server the mail client is pointed at. The client logs in as
// "user#server[#port]"; the proxy connects to that server, relays the log-in, examines the
// new mail when the server accepts the password, and from then on answers STAT, LIST and
// UIDL from its own list and renumbers the messages in every command it relays.
class CPop3Proxy : public CProxyBase {
public:
    // The mail examination, run on the relay thread when the server says "+OK" to PASS and
    // before the client hears of it: from there to the saved UID history it is the
    // examiner's. `examine` fills `list` with the messages offered to the client and returns
    // 1, or 0 when it failed (the client then gets "-ERR"). Without one every log-in fails so.
    //
    // The deletions it sends take effect only when a QUIT reaches the server. Before the proxy
    // sends that QUIT, `beforeCommit` makes what the deletions rely on durable (the stored
    // copies); false means they must not be committed, and the session ends without QUIT.
    // `committed` follows the server's "+OK" to the QUIT, unless the client sent RSET in between
    // (which takes the deletions back). Both run only in a session whose mail was examined.
    struct Examiner {
        using Examine = std::function<int(CPop3Client& client, ProxyMesgList& list)>;
        Examiner() = default;
        template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Examiner> &&
                                                          std::is_invocable_r_v<int, F&, CPop3Client&, ProxyMesgList&>>>
        Examiner(F f) : examine(std::move(f))
        {
        }
        int operator()(CPop3Client& client, ProxyMesgList& list) const { return examine ? examine(client, list) : 0; }

        Examine examine;
        std::function<bool()> beforeCommit;
        std::function<void()> committed;
    };

    CPop3Proxy(platform::HWND mainWindow, Examiner examiner, CDebug* debugListener = nullptr);
    ~CPop3Proxy() override;

    // The data directory where the UID history files live (ends in '/').
    void SetDataDirectory(const std::string& directory);

    int ServerNumber(int n) const;

protected:
    void Session(CClientSocket& client, int clientSocket) override;
    void AbortSession() override;

private:
    void CommandLoop(CClientSocket& client);
    void RelayThread();
    // The server took the PASS: the examination runs, then the client gets "+OK" or "-ERR"
    // in place of the server's own "+OK".
    void AnswerPass();
    // A command for the server: its reply is awaited from now on.
    void SendCommand(const std::string& line);
    // Before a QUIT goes out: false when the examination's deletions must not be committed.
    bool CommitAllowed();
    // Runs beside the relay thread: when a reply the relay waits for has not come within the
    // reply time-out (counted from the command or the last byte received), ends the server
    // connection. The relay's own reads are unbounded, so a client may sit idle.
    void Watchdog();
    // Both threads write to the mail client; every write goes through here.
    void SendToClient(const char* data, size_t length);
    void SendLineToClient(const std::string& line);
    void SendToServer(const std::string& line);
    // Blocks while an examination runs, so no client command reaches the server in the
    // middle of it.
    void WaitForExamination();
    // Closes the server connection once, whichever thread gets there first.
    void CloseServer();
    bool WaitRelay(int ms);
    void JoinRelay();

    std::unique_ptr<CPop3Client> pop3_;
    std::shared_ptr<CPop3Account> account_;
    std::string dataDirectory_;
    Examiner examiner_;

    mutable std::mutex listLock_;
    ProxyMesgList list_;

    std::atomic<bool> passPending_{false};
    // The server has taken a PASS and the mail was examined: a later PASS is only relayed, and
    // the relay no longer reads line by line to catch the reply to one.
    std::atomic<bool> loggedIn_{false};
    // CAPA lines forwarded whose answers the relay thread has not started filtering yet.
    std::atomic<int> capaForwarded_{0};
    // This session's mail was examined: the examiner's commit steps apply to its QUIT.
    std::atomic<bool> examined_{false};
    // The client sent RSET after the examination: its deletions are no longer pending.
    std::atomic<bool> rsetSent_{false};
    // The server's replies still awaited; bounds for waiting on the server (0: none).
    pop3proxy::ReplyTracker replies_;
    int connectTimeoutMs_ = 0;
    int replyTimeoutMs_ = 0;
    bool replyTimedOut_ = false;  // the watchdog ended the session (guarded by stateLock_)

    std::mutex stateLock_;  // guards the fields below
    std::condition_variable stateChanged_;
    bool examining_ = false;
    bool relayDone_ = true;
    bool serverOpen_ = false;
    CClientSocket* client_ = nullptr;  // the session's client connection
    int clientSocket_ = -1;

    std::mutex clientWriteLock_;
    std::thread relay_;
    std::thread watchdog_;
};
