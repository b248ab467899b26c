#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/listen_sockets.h"
#include "platform/window.h"

class CClientSocket;
class CDebug;
class CIMAPSession;

// The listening sockets of the IMAP server: 127.0.0.1 and ::1, or every address.
class CIMAPListener {
public:
    explicit CIMAPListener(int bufferSize) : m_nBufferSize(bufferSize) {}
    ~CIMAPListener() { Close(); }

    // 1 on success; -10 socket, -30 bind, -40 listen. Only the loopback addresses unless
    // `everyAddress`.
    int Listen(const char* name, int port, bool everyAddress = false);
    // The next accepted connection (receive buffer of the listener's size), or null once the
    // listener is closed or accept fails.
    CClientSocket* Accept();
    void Close();
    bool IsListen() const { return m_Sockets.IsListening(); }
    int GetPort() const { return m_Sockets.Port(); }  // the bound port (the real one when 0 was asked)

private:
    int m_nBufferSize;
    CListenSockets m_Sockets;  // closed by the stopping thread while accept waits on them
    std::string m_Name;
};

// A small IMAP4rev1 server over the local mail store: one accept thread, at most 20 sessions.
//
// Who may connect: a client on 127.0.0.1 or ::1 only when it runs as the same user as this
// program (any user of the machine can reach the loopback addresses), and it may LOGIN with
// any name and password. Local-only listens on the loopback addresses alone; without it the
// server listens on every address, and a client from another address (which cannot be told
// apart from anyone else on the network) must give the remote password at LOGIN; while that
// is empty such clients are refused. Refused connections are closed at once.
class CIMAPServer {
public:
    static constexpr int kMaxSessions = 20;

    CIMAPServer(platform::HWND mainWindow, const char* rootPath, bool localOnly, bool makeFolder);
    ~CIMAPServer();
    CIMAPServer(const CIMAPServer&) = delete;
    CIMAPServer& operator=(const CIMAPServer&) = delete;

    void IMAPInit();
    bool Start(const char* name, int port);
    bool IsStart() const { return m_bStart; }
    // Local connections only (loopback addresses) or every address; takes effect at the next Start.
    void SetLocalOnly(bool localOnly) { m_bLocalOnly = localOnly; }
    int GetIMAPPort() const { return m_nPort; }
    // The port actually bound (differs from GetIMAPPort when 0 was given).
    int GetBoundPort() const { return m_pListener->GetPort(); }
    bool Suspend();
    bool Resume();
    bool CloseSocket();
    bool Close();
    void IMAPUnInit();
    static unsigned WaitClientThread(CIMAPServer* server);
    bool CreateConnector(CClientSocket* connection);
    void SetDebugListener(CDebug* debug) { g_Debug = debug; }
    int GetSessionCount();

    // The password clients from addresses other than 127.0.0.1 and ::1 must give at LOGIN.
    void SetRemotePassword(const std::string& password);
    // Whether LOGIN with `password` (without quotes) is accepted on `connection`; a refusal
    // is logged.
    bool AcceptsLogin(const CClientSocket& connection, const std::string& password);
    // Where the refusals of connections and log-ins are reported (UTF-8 lines), besides LogMesg.
    void SetEventLog(std::function<void(const char*)> log);

    static void DebugMesg(const char* text);
    static void ErrorMesg(const char* text);
    static void LogMesg(const char* text);
    void EventMesg(const std::string& text);

    static platform::HWND g_hWnd;
    static char g_RootPath[256];
    static bool m_MakeFolder;
    static CDebug* g_Debug;

private:
    // Why a new connection is turned away; empty when it may have its session.
    std::string RefusalOf(const CClientSocket& connection);

    char m_szName[100] = {0};
    std::unique_ptr<CIMAPListener> m_pListener;
    int m_nPort = 0;
    std::thread m_AcceptThread;
    bool m_bStart = false;
    std::array<std::unique_ptr<CIMAPSession>, kMaxSessions> m_Sessions;
    std::atomic<bool> m_bLocalOnly;
    std::mutex m_SessionLock;  // the accept thread and the stopping thread both edit the table
    std::mutex m_SuspendLock;
    std::condition_variable m_SuspendWake;
    bool m_bSuspended = false;  // the accept thread holds new connections while set
    std::mutex m_AccessLock;    // the remote password and the event log
    std::string m_RemotePassword;
    std::function<void(const char*)> m_EventLog;
};
