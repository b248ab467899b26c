#include "harborage/imap_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/client_socket.h"
#include "common/socket_results.h"
#include "components/toolwick/toolwick.h"
#include "harborage/imap_session.h"
#include "harborage/imap_texts.h"

platform::HWND CIMAPServer::g_hWnd = nullptr;
char CIMAPServer::g_RootPath[256] = {0};
bool CIMAPServer::m_MakeFolder = true;
CDebug* CIMAPServer::g_Debug = nullptr;

// ---- CIMAPListener ------------------------------------------------------------------------

int CIMAPListener::Listen(const char* name, int port)
{
    Close();
    m_Name = name ? name : "";
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return ListenResult::NoSocket;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        ::close(s);
        return ListenResult::BindFailed;
    }
    if (::listen(s, 5) < 0) {
        ::close(s);
        return ListenResult::ListenFailed;
    }
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    m_nPort = ntohs(addr.sin_port);
    m_hSocket = s;
    m_bListen = true;
    return ListenResult::Listening;
}

CClientSocket* CIMAPListener::Accept()
{
    int s = m_hSocket;
    if (s < 0)
        return nullptr;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int c;
    do {
        c = ::accept(s, reinterpret_cast<sockaddr*>(&peer), &len);
    } while (c < 0 && errno == EINTR);
    if (c < 0)
        return nullptr;
    return new CClientSocket(c, peer, m_nBufferSize);
}

void CIMAPListener::Close()
{
    int s = m_hSocket.exchange(-1);
    if (s >= 0) {
        // shutdown wakes a thread blocked in accept; close alone would not on Linux.
        ::shutdown(s, SHUT_RDWR);
        ::close(s);
    }
    m_bListen = false;
}

// ---- CIMAPServer --------------------------------------------------------------------------

CIMAPServer::CIMAPServer(platform::HWND mainWindow, const char* rootPath, bool localOnly, bool makeFolder)
    : m_pListener(std::make_unique<CIMAPListener>(5000)), m_bLocalOnly(localOnly)
{
    g_hWnd = mainWindow;
    CSpamUtil::STRNCPY(g_RootPath, rootPath ? rootPath : "", sizeof g_RootPath);
    m_MakeFolder = makeFolder;
}

CIMAPServer::~CIMAPServer() { IMAPUnInit(); }

void CIMAPServer::IMAPInit()
{
    std::lock_guard<std::mutex> lock(m_SessionLock);
    m_bStart = false;
    for (auto& slot : m_Sessions)
        slot.reset();
}

bool CIMAPServer::Start(const char* name, int port)
{
    if (m_bStart) {
        ErrorMesg(IMAPTEXT_ALREADY_RUNNING);
        return false;
    }
    if (m_AcceptThread.joinable())
        m_AcceptThread.join();  // left over from a stop through CloseSocket alone
    CSpamUtil::STRNCPY(m_szName, name ? name : "", sizeof m_szName);
    m_nPort = port;
    switch (m_pListener->Listen(m_szName, port)) {
    case ListenResult::NoSocket: ErrorMesg(IMAPTEXT_NO_SOCKET); return false;
    case ListenResult::BindFailed: ErrorMesg(IMAPTEXT_NO_BIND); return false;
    case ListenResult::ListenFailed: ErrorMesg(IMAPTEXT_NO_LISTEN); return false;
    default: break;
    }
    try {
        m_AcceptThread = std::thread(WaitClientThread, this);
    } catch (const std::system_error&) {
        ErrorMesg(IMAPTEXT_NO_THREAD);
        m_pListener->Close();
        return false;
    }
    m_bStart = true;
    LogMesg(IMAPTEXT_STARTED);
    return true;
}

bool CIMAPServer::Suspend()
{
    std::lock_guard<std::mutex> lock(m_SuspendLock);
    m_bSuspended = true;
    return true;
}

bool CIMAPServer::Resume()
{
    {
        std::lock_guard<std::mutex> lock(m_SuspendLock);
        m_bSuspended = false;
    }
    m_SuspendWake.notify_all();
    return true;
}

unsigned CIMAPServer::WaitClientThread(CIMAPServer* server)
{
    for (;;) {
        CClientSocket* connection = server->m_pListener->Accept();
        if (connection == nullptr)
            break;
        {
            std::unique_lock<std::mutex> lock(server->m_SuspendLock);
            server->m_SuspendWake.wait(lock,
                                       [server] { return !server->m_bSuspended || !server->m_pListener->IsListen(); });
        }
        if (!server->m_pListener->IsListen()) {
            connection->Close();
            delete connection;
            break;
        }
        if (server->m_bLocalOnly && !connection->IsLocalPeer()) {
            connection->Close();
            delete connection;
            continue;
        }
        if (!server->CreateConnector(connection)) {
            // A full table: close the connection at once rather than leave the client hanging.
            connection->Close();
            delete connection;
        }
    }
    server->CloseSocket();
    return 0;
}

bool CIMAPServer::CreateConnector(CClientSocket* connection)
{
    std::lock_guard<std::mutex> lock(m_SessionLock);
    int occupied = 0;
    for (auto& slot : m_Sessions)
        occupied += slot != nullptr;
    char text[100];
    snprintf(text, sizeof text, IMAPTEXT_CONNECTION_COUNT, occupied);
    LogMesg(text);

    for (auto& slot : m_Sessions)
        if (slot && !slot->IsActive())
            slot.reset();  // joins the ended thread

    for (int i = 0; i < kMaxSessions; ++i) {
        if (!m_Sessions[i]) {
            m_Sessions[i] = std::make_unique<CIMAPSession>(this, connection, i);
            m_Sessions[i]->Start();
            return true;
        }
    }
    ErrorMesg(IMAPTEXT_TOO_MANY);
    return false;
}

int CIMAPServer::GetSessionCount()
{
    std::lock_guard<std::mutex> lock(m_SessionLock);
    int n = 0;
    for (auto& slot : m_Sessions)
        n += slot && slot->IsActive();
    return n;
}

bool CIMAPServer::CloseSocket()
{
    std::lock_guard<std::mutex> lock(m_SessionLock);
    if (!m_bStart)
        return true;
    for (auto& slot : m_Sessions) {
        if (slot) {
            slot->Shutdown();
            slot->JoinServingMessages();
            slot.reset();
        }
    }
    m_pListener->Close();
    m_SuspendWake.notify_all();
    m_bStart = false;
    LogMesg(IMAPTEXT_STOPPED);
    return true;
}

bool CIMAPServer::Close()
{
    CloseSocket();
    if (m_AcceptThread.joinable() && m_AcceptThread.get_id() != std::this_thread::get_id())
        m_AcceptThread.join();
    return true;
}

void CIMAPServer::IMAPUnInit() { Close(); }

// The hooks keep their texts to themselves: the server runs silently.
void CIMAPServer::DebugMesg(const char*) {}
void CIMAPServer::ErrorMesg(const char*) {}
void CIMAPServer::LogMesg(const char*) {}
