#include "fetchling/pop3_client.h"

#include <cstring>
#include <strings.h>
#include <string>

#include "common/client_socket.h"
#include "components/toolwick/debug.h"
#include "components/toolwick/spam_util.h"
#include "fetchling/fetchling_texts.h"
#include "fetchling/pop3_account.h"
#include "fetchling/pop3_tran_command.h"

CPop3Client::CPop3Client(CDebug* debug)
    : m_pDebug(debug), m_pSocket(std::make_unique<CClientSocket>(kBufferCapacity)),
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
        return ConnectResult::NoSocket;
    m_pAccount = account;
    CSpamUtil::STRNCPY(m_szServer, account->GetServer(), sizeof m_szServer);
    m_nPort = account->GetPort();
    SetID(account->GetUser());
    SetPwd(account->GetPassword());

    m_sTlsFailure.clear();
    int rc = m_nPort == kImplicitTlsPort ? m_pSocket->ConnectTls(m_szServer, m_nPort)
                                         : m_pSocket->Connect(m_szServer, m_nPort);
    if (rc == ConnectResult::TlsFailed) {
        m_sTlsFailure = m_pSocket->TlsError();
        DebugMesg(m_sTlsFailure.c_str());
        return ConnectResult::TlsFailed;
    }
    if (rc == ConnectResult::NoSocket) {
        DebugMesg(fetchling_text::kNoSocket);
        return ConnectResult::NoSocket;
    }
    if (rc == ConnectResult::NoAddress) {
        // Callers of the POP3 client tell only "cannot reach" from TLS failures.
        DebugMesg(m_szServer);
        DebugMesg(fetchling_text::kNoAddress);
        return ConnectResult::NoSocket;
    }
    m_bConnect = true;
    return ConnectResult::Connected;
}

namespace {

// Capability lines come before the CAPA listing's "."; no server sends more than a few dozen.
constexpr int kMaxCapaLines = 200;

bool StartsOk(const char* line) { return strncmp(line, "+OK", 3) == 0; }

}  // namespace

void CPop3Client::SetTimeouts(int connectMs, int replyMs)
{
    if (m_pSocket)
        m_pSocket->SetTimeouts(connectMs, replyMs);
}

bool CPop3Client::TimedOut() const { return m_pSocket && m_pSocket->TimedOut(); }

bool CPop3Client::IsTls() const { return m_pSocket && m_pSocket->IsTls(); }

int CPop3Client::NegotiateTls(bool tlsRequired)
{
    m_sTlsFailure.clear();
    m_bPipelining = false;
    if (!m_bConnect || !m_pSocket)
        return TlsResult::ServerGone;
    if (m_pSocket->IsTls())
        return TlsResult::Secured;
    auto fail = [this](int rc, std::string why) {
        m_sTlsFailure = std::move(why);
        DebugMesg(m_sTlsFailure.c_str());
        CloseSocket();
        return rc;
    };

    char line[1000];
    SendLine("CAPA");
    if (m_pSocket->ReadLine(line, sizeof line) < 0)
        return fail(TlsResult::ServerGone, "the server closed the connection after CAPA");
    bool offered = false;
    bool pipelining = false;
    if (StartsOk(line)) {
        // The listing ends with ".": every line is read, long ones piece by piece.
        for (int count = 0;; ++count) {
            if (count > kMaxCapaLines)
                return fail(TlsResult::ServerGone, "the server's CAPA listing does not end");
            int n = m_pSocket->ReadLine(line, sizeof line);
            if (n < 0)
                return fail(TlsResult::ServerGone, "the server closed the connection during CAPA");
            bool whole = m_pSocket->LastLineEnded();
            while (!m_pSocket->LastLineEnded()) {
                char rest[1000];
                if (m_pSocket->ReadLine(rest, sizeof rest) < 0)
                    return fail(TlsResult::ServerGone, "the server closed the connection during CAPA");
            }
            if (whole && strcmp(line, ".") == 0)
                break;
            if (whole && strncasecmp(line, "STLS", 4) == 0 && (line[4] == '\0' || line[4] == ' '))
                offered = true;
            if (whole && strcasecmp(line, "PIPELINING") == 0)
                pipelining = true;
        }
    }
    if (!offered) {
        if (tlsRequired)
            return fail(TlsResult::NotOffered, "the server offers no TLS");
        m_bPipelining = pipelining;
        return TlsResult::Secured;
    }

    SendLine("STLS");
    if (m_pSocket->ReadLine(line, sizeof line) < 0)
        return fail(TlsResult::UpgradeFailed, "the server closed the connection after STLS");
    if (!StartsOk(line))
        return fail(TlsResult::UpgradeFailed, std::string("the server offered STLS but refused it: ") + line);
    if (!m_pSocket->StartTls(m_szServer)) {
        std::string why = m_pSocket->TlsError();
        return fail(TlsResult::UpgradeFailed, why);
    }
    return TlsResult::Secured;
}

int CPop3Client::ReadLine(char* dest, int size)
{
    if (!m_pSocket)
        return -1;
    return m_pSocket->ReadLine(dest, size);
}

bool CPop3Client::LastLineEnded() const { return m_pSocket && m_pSocket->LastLineEnded(); }

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

int CPop3Client::Pending() const { return m_pSocket ? m_pSocket->Pending() : 0; }

void CPop3Client::CloseSocket()
{
    if (m_pSocket)
        m_pSocket->Close();
    m_bConnect = false;
    m_bPipelining = false;
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

int CPop3Client::Login() { return m_pCommand->Login(); }

void CPop3Client::SetID(const char* id) { CSpamUtil::STRNCPY(m_szID, id, sizeof m_szID); }

void CPop3Client::SetPwd(const char* pwd) { CSpamUtil::STRNCPY(m_szPwd, pwd, sizeof m_szPwd); }

void CPop3Client::DebugMesg(const char* text) { CDebug::Report(m_pDebug, text); }
