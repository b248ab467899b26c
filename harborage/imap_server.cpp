#include "harborage/imap_server.h"

#include <cstdio>
#include <cstring>
#include <sys/socket.h>

#include "common/client_socket.h"
#include "common/socket_results.h"
#include "components/toolwick/toolwick.h"
#include "harborage/imap_session.h"
#include "harborage/imap_texts.h"
#include "platform/peer_user.h"

namespace {

// Every byte compared whatever the first difference, so the time taken tells nothing of it.
bool SameSecret(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

platform::HWND CIMAPServer::g_hWnd = nullptr;
char CIMAPServer::g_RootPath[256] = {0};
bool CIMAPServer::m_MakeFolder = true;
CDebug* CIMAPServer::g_Debug = nullptr;

// ---- CIMAPListener ------------------------------------------------------------------------

int CIMAPListener::Listen(const char* name, int port, bool everyAddress)
{
    Close();
    m_Name = name ? name : "";
    return m_Sockets.Listen(port, everyAddress ? CListenSockets::Scope::EveryAddress : CListenSockets::Scope::Loopback,
                            5);
}

CClientSocket* CIMAPListener::Accept()
{
    sockaddr_storage peer{};
    int c = m_Sockets.Accept(&peer);
    if (c < 0)
        return nullptr;
    return new CClientSocket(c, peer, m_nBufferSize);
}

void CIMAPListener::Close() { m_Sockets.Close(); }

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
    switch (m_pListener->Listen(m_szName, port, !m_bLocalOnly)) {
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
        std::string refusal = server->RefusalOf(*connection);
        if (!refusal.empty()) {
            connection->Close();
            delete connection;
            server->EventMesg(refusal);
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

std::string CIMAPServer::RefusalOf(const CClientSocket& connection)
{
    platform::PeerOwner owner = platform::FindPeerOwner(connection.GetSocket());
    if (connection.IsLocalPeer())
        return owner.IsThisUser()
                   ? std::string()
                   : platform::RefusedConnectionText(owner, "only this user's programs may use the spam box");
    if (m_bLocalOnly)
        return platform::RefusedConnectionText(owner, "only 127.0.0.1 and ::1 are served");
    std::lock_guard<std::mutex> lock(m_AccessLock);
    if (m_RemotePassword.empty())
        return platform::RefusedConnectionText(owner, "other addresses need a password, and none is set");
    return std::string();
}

void CIMAPServer::SetRemotePassword(const std::string& password)
{
    std::lock_guard<std::mutex> lock(m_AccessLock);
    m_RemotePassword = password;
}

bool CIMAPServer::AcceptsLogin(const CClientSocket& connection, const std::string& password)
{
    if (connection.IsLocalPeer())
        return true;  // the same user's client, checked when it connected
    bool match;
    {
        std::lock_guard<std::mutex> lock(m_AccessLock);
        match = !m_RemotePassword.empty() && SameSecret(m_RemotePassword, password);
    }
    if (!match)
        EventMesg(platform::RefusedConnectionText(platform::FindPeerOwner(connection.GetSocket()),
                                                  "LOGIN with a wrong password"));
    return match;
}

void CIMAPServer::SetEventLog(std::function<void(const char*)> log)
{
    std::lock_guard<std::mutex> lock(m_AccessLock);
    m_EventLog = std::move(log);
}

void CIMAPServer::EventMesg(const std::string& text)
{
    LogMesg(text.c_str());
    std::function<void(const char*)> log;
    {
        std::lock_guard<std::mutex> lock(m_AccessLock);
        log = m_EventLog;
    }
    if (log)
        log(text.c_str());
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

// The hooks go to the debug listener when one is set (the debug window); otherwise the server
// runs silently.
void CIMAPServer::DebugMesg(const char* text) { CDebug::Report(g_Debug, text); }
void CIMAPServer::ErrorMesg(const char* text) { CDebug::Report(g_Debug, text); }
void CIMAPServer::LogMesg(const char* text) { CDebug::Report(g_Debug, text); }
