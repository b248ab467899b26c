#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/window.h"

class CClientSocket;
class CDebug;
class CIMAPSession;

// The listening socket of the IMAP server (all local addresses).
class CIMAPListener {
public:
    explicit CIMAPListener(int bufferSize) : m_nBufferSize(bufferSize) {}
    ~CIMAPListener() { Close(); }

    // 1 on success; -10 socket, -30 bind, -40 listen.
    int Listen(const char* name, int port);
    // The next accepted connection (receive buffer of the listener's size), or null once the
    // listener is closed or accept fails.
    CClientSocket* Accept();
    void Close();
    bool IsListen() const { return m_bListen; }
    int GetPort() const { return m_nPort; }  // the bound port (the real one when 0 was asked)

private:
    int m_nBufferSize;
    std::atomic<int> m_hSocket{-1};  // closed by the stopping thread while accept waits on it
    std::string m_Name;
    int m_nPort = 0;
    std::atomic<bool> m_bListen{false};
};

// A small IMAP4rev1 server over the local mail store: one accept thread, at most 20 sessions.
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

    static void DebugMesg(const char* text);
    static void ErrorMesg(const char* text);
    static void LogMesg(const char* text);

    static platform::HWND g_hWnd;
    static char g_RootPath[256];
    static bool m_MakeFolder;
    static CDebug* g_Debug;

private:
    char m_szName[100] = {0};
    std::unique_ptr<CIMAPListener> m_pListener;
    int m_nPort = 0;
    std::thread m_AcceptThread;
    bool m_bStart = false;
    std::array<std::unique_ptr<CIMAPSession>, kMaxSessions> m_Sessions;
    bool m_bLocalOnly;
    std::mutex m_SessionLock;  // the accept thread and the stopping thread both edit the table
    std::mutex m_SuspendLock;
    std::condition_variable m_SuspendWake;
    bool m_bSuspended = false;  // the accept thread holds new connections while set
};
