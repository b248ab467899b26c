#include "fetchling/pop3_client.h"

#include <cstring>
#include <string>

#include "common/client_socket.h"
#include "components/toolwick/spam_util.h"
#include "fetchling/fetchling_texts.h"
#include "fetchling/pop3_account.h"
#include "fetchling/pop3_tran_command.h"

CPop3Client::CPop3Client(CDebug* debug)
    : m_pDebug(debug),
      m_pSocket(std::make_unique<CClientSocket>(kBufferCapacity)),
      m_pCommand(std::make_unique<CPop3TranCommand>(this))
{
}

CPop3Client::CPop3Client() : CPop3Client(nullptr) {}

CPop3Client::~CPop3Client() = default;

int CPop3Client::Connect(CPop3Account* account)
{
    if (m_bConnect)
        return 0;
    if (!account)
        return -10;
    m_pAccount = account;
    CSpamUtil::STRNCPY(m_szServer, account->GetServer(), sizeof m_szServer);
    m_nPort = account->GetPort();
    SetID(account->GetUser());
    SetPwd(account->GetPassword());

    int rc = m_pSocket->Connect(m_szServer, m_nPort);
    if (rc == -10) {
        DebugMesg(fetchling_text::kNoSocket);
        return -10;
    }
    if (rc == -20) {
        DebugMesg(m_szServer);
        DebugMesg(fetchling_text::kNoAddress);
        return -10;
    }
    m_bConnect = true;
    return 1;
}

int CPop3Client::ReadLine(char* dest, int size)
{
    if (!m_pSocket)
        return -1;
    return m_pSocket->ReadLine(dest, size);
}

bool CPop3Client::LastLineEnded() const
{
    return m_pSocket && m_pSocket->LastLineEnded();
}

int CPop3Client::Read(char* dest, long size)
{
    if (!m_pSocket)
        return -1;
    return m_pSocket->ReadBytes(dest, static_cast<int>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size));
}

void CPop3Client::SendLine(const char* text)
{
    if (m_pSocket && text)
        m_pSocket->SendLine(text, static_cast<int>(strlen(text)));
}

int CPop3Client::Pending() const
{
    return m_pSocket ? m_pSocket->Pending() : 0;
}

void CPop3Client::CloseSocket()
{
    if (m_pSocket)
        m_pSocket->Close();
    m_bConnect = false;
    DebugMesg(fetchling_text::kClosed);
}

void CPop3Client::QuitClose()
{
    m_pCommand->Quit();
    Close();
}

void CPop3Client::ShutdownConnection()
{
    if (m_pSocket)
        m_pSocket->Shutdown();
}

int CPop3Client::Login()
{
    return m_pCommand->Login();
}

void CPop3Client::SetID(const char* id)
{
    CSpamUtil::STRNCPY(m_szID, id, sizeof m_szID);
}

void CPop3Client::SetPwd(const char* pwd)
{
    CSpamUtil::STRNCPY(m_szPwd, pwd, sizeof m_szPwd);
}

void CPop3Client::DebugMesg(const char*)
{
    // Reports go nowhere: the listener given to the constructor is not called.
}
