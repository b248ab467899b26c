#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "orvanta/proxy/proxy_base.h"
#include "orvanta/proxy/proxy_mesg.h"

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
    // The mail examination run on the server's "+OK" to PASS: fills `list` with the messages
    // offered to the client, returns 1 on success, 0 on failure (the client then gets "-ERR").
    using Examiner = std::function<int(CPop3Client& client, ProxyMesgList& list)>;

    CPop3Proxy(platform::HWND mainWindow, CDebug* debugListener = nullptr);
    ~CPop3Proxy() override;

    // The data directory where the UID history files live (ends in '/').
    void SetDataDirectory(const std::string& directory);
    // Replaces the examination (the filtering pipeline installs its own).
    void SetExaminer(Examiner examiner);

    int ServerNumber(int n) const;
    // A copy of the local list (tests, the user interface).
    ProxyMesgList LocalList() const;

protected:
    void Session(CClientSocket& client, int clientSocket) override;
    void AbortSession() override;

private:
    void CommandLoop(CClientSocket& client);
    void RelayThread();
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
    // the relay no longer waits for the server before each read to catch one.
    std::atomic<bool> loggedIn_{false};
    // CAPA lines forwarded whose answers the relay thread has not started filtering yet.
    std::atomic<int> capaForwarded_{0};

    std::mutex stateLock_;            // guards the fields below
    std::condition_variable stateChanged_;
    bool examining_ = false;
    bool relayDone_ = true;
    bool serverOpen_ = false;
    CClientSocket* client_ = nullptr; // the session's client connection
    int clientSocket_ = -1;

    std::mutex clientWriteLock_;
    std::thread relay_;
};

// The examination without judging: LIST, UIDL, load the history, prune it to the messages
// still on the server, offer every message and record every non-empty UID. The caller saves
// the history.
int ExamineWithoutJudging(CPop3Client& client, ProxyMesgList& list);
