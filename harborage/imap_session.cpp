#include "harborage/imap_session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/client_socket.h"
#include "components/toolwick/toolwick.h"
#include "harborage/imap_server.h"
#include "harborage/imap_texts.h"
#include "platform/window.h"

namespace {

// Copies [begin, end) into a token, cut to what the token holds.
void PutToken(char* token, const char* begin, const char* end)
{
    size_t n = static_cast<size_t>(end - begin);
    if (n >= static_cast<size_t>(CIMAPSession::kTokenSize))
        n = CIMAPSession::kTokenSize - 1;
    memcpy(token, begin, n);
    token[n] = '\0';
}

void CutTo(char* dst, size_t room, const char* src) { CSpamUtil::STRNCPY(dst, src, static_cast<int>(room)); }

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// A LOGIN argument as typed: an atom, or a quoted string (a literal arrives as one).
std::string Unquoted(const char* token)
{
    size_t n = strlen(token);
    if (n >= 2 && token[0] == '"' && token[n - 1] == '"')
        return std::string(token + 1, n - 2);
    return token;
}

}  // namespace

CIMAPSession::CIMAPSession(CIMAPServer* server, CClientSocket* connection, int slot)
    : m_pConnection(connection), m_pServer(server), m_CommonCommand(this), m_LoginCommand(this), m_MailboxCommand(this),
      m_MessageCommand(this), m_nSlot(slot)
{
}

CIMAPSession::~CIMAPSession()
{
    Shutdown();
    Join();
}

bool CIMAPSession::Start()
{
    m_bActive = true;
    try {
        m_Thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        m_bActive = false;
        m_bFinished = true;
        return false;
    }
    return true;
}

void CIMAPSession::Shutdown()
{
    m_bActive = false;
    if (m_pConnection)
        m_pConnection->Shutdown();
}

void CIMAPSession::JoinServingMessages()
{
    if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id()) {
        while (!m_bFinished) {
            int exitCode = 0;
            if (!platform::ProcessPendingMessages(&exitCode))
                platform::PostQuitMessage(exitCode);  // keep the quit for the caller's own loop
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    Join();
}

void CIMAPSession::Join()
{
    if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id())
        m_Thread.join();
}

int CIMAPSession::SplitCommandLine(const char* line, char tokens[][kTokenSize], int maxTokens)
{
    size_t length = strlen(line);
    // A line that would not fit one token buffer (kTokenSize, with its terminator) gives none.
    if (length >= kTokenSize - 1)
        return 0;
    const char* end = line + length;
    int count = 0;
    const char* p = line;
    while (p < end && count < maxTokens) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        const char* start = p;
        if (*p == '"') {
            ++p;
            while (p < end && *p != '"')
                ++p;
            if (p < end)
                ++p;  // the closing quote belongs to the token
        } else if (*p == '(') {
            int depth = 0;
            while (p < end) {
                if (*p == '(')
                    ++depth;
                else if (*p == ')' && --depth == 0) {
                    ++p;
                    break;
                }
                ++p;
            }
        } else {
            while (p < end && *p != ' ') {
                if (*p == '"' || *p == '(') {
                    start = nullptr;  // the token restarts at this character
                    break;
                }
                ++p;
            }
            if (start == nullptr)
                continue;
        }
        PutToken(tokens[count++], start, p);
    }
    return count;
}

int CIMAPSession::AnnouncedLiteral(const std::string& line, size_t* open)
{
    if (line.empty() || line.back() != '}')
        return -1;
    size_t brace = line.rfind('{');
    if (brace == std::string::npos)
        return -1;
    std::string digits = line.substr(brace + 1, line.size() - brace - 2);
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    *open = brace;
    return atoi(digits.c_str());
}

// Clients send a user name or password with special characters as a literal "{n}": the
// command line stops there, the client waits for a continuation, sends n bytes and the rest
// of the line. Only LOGIN takes them (APPEND reads its message literal itself); the values
// are put back into the line as quoted strings so the command reads as if sent in one line.
bool CIMAPSession::ReadLoginLiterals(char* line, size_t size)
{
    std::string text = line;
    size_t space = text.find(' ');
    if (space == std::string::npos || strncasecmp(text.c_str() + space + 1, "LOGIN ", 6) != 0)
        return true;
    for (int literals = 0; literals < 2; ++literals) {
        size_t open = 0;
        int length = AnnouncedLiteral(text, &open);
        if (length < 0)
            break;
        if (length > 99)
            return false;  // longer than any name or password kept
        SendLine("+ Ready for argument");
        char value[100];
        int total = 0;
        while (total < length) {
            int got = m_pConnection->ReadBuffered(value + total, length - total);
            if (got <= 0)
                got = m_pConnection->ReadBytes(value + total, length - total);
            if (got <= 0)
                return false;
            total += got;
        }
        std::string quoted = "\"";
        for (int i = 0; i < total; ++i)
            if (value[i] != '"' && value[i] != '\r' && value[i] != '\n' && value[i] != '\0')
                quoted += value[i];
        quoted += '"';
        char rest[1000];
        if (m_pConnection->ReadLine(rest, sizeof rest) < 0)
            return false;
        text = text.substr(0, open) + quoted + rest;
    }
    if (text.size() >= size)
        return false;
    memcpy(line, text.c_str(), text.size() + 1);
    return true;
}

void CIMAPSession::Run()
{
    // Token buffers live on the heap: 10 x 1000 bytes is too much for a thread's stack habits.
    std::unique_ptr<char[][kTokenSize]> tokens(new char[kTokenCount][kTokenSize]);
    CIMAPServer::LogMesg(IMAPTEXT_CLIENT_CONNECTED);
    SendLine("* OK localhost IMAP4rev1 v1.0 server ready");

    char line[kLineSize];
    bool logout = false;
    while (!logout && m_bActive) {
        if (m_pConnection->ReadLine(line, sizeof line) < 0)
            break;
        if (!ReadLoginLiterals(line, sizeof line))
            break;
        // A pause before every command caps one session at about a hundred commands a second,
        // so a client in a tight loop cannot keep to itself the store lock that every session
        // and the POP3 proxy's deliveries share.
        std::this_thread::sleep_for(std::chrono::milliseconds(kCommandPauseMs));
        char hook[kLineSize + 32];
        snprintf(hook, sizeof hook, "Client %d : %s", m_nSlot, line);
        CIMAPServer::LogMesg(hook);

        int count = SplitCommandLine(line, tokens.get());
        if (count < 2)
            continue;
        for (int i = count; i < kTokenCount; ++i)
            tokens[i][0] = '\0';
        try {
            Dispatch(tokens.get(), count, &logout);
        } catch (...) {
            // A fault in one command must not take the session or the program down.
            char tag[300];
            CutTo(tag, sizeof tag, tokens[0]);
            SendBAD(tag, "Error");
        }
    }
    m_pConnection->Close();
    m_bActive = false;
    m_bFinished = true;
}

void CIMAPSession::Dispatch(char tokens[][kTokenSize], int count, bool* logout)
{
    (void)count;
    char tag[300], command[300];
    CutTo(tag, sizeof tag, tokens[0]);
    CutTo(command, sizeof command, tokens[1]);
    const char* a3 = tokens[2];
    const char* a4 = tokens[3];
    const char* a5 = tokens[4];
    const int state = m_State.m_nState;

    if (Is(command, "CAPABILITY")) {
        if (!m_CommonCommand.Capability(tag))
            SendBAD(tag, "Error");
        return;
    }
    if (Is(command, "NOOP")) {
        if (!m_CommonCommand.Noop(tag))
            SendBAD(tag, "Error");
        return;
    }
    if (Is(command, "LOGOUT")) {
        if (!m_CommonCommand.Logout(tag))
            SendBAD(tag, "Error");
        *logout = true;
        return;
    }
    if (state == CIMAPSessionState::NotAuthenticated) {
        if (Is(command, "LOGIN")) {
            char user[100], password[100];
            CutTo(user, sizeof user, a3);
            CutTo(password, sizeof password, a4);
            if (!m_pServer->AcceptsLogin(*m_pConnection, Unquoted(password))) {
                // A client from another host has to know the password; the pause slows guessing.
                std::this_thread::sleep_for(std::chrono::milliseconds(kFailedLoginPauseMs));
                SendNO(tag, "LOGIN failed");
                return;
            }
            m_LoginCommand.Login(tag, user, password);
            return;
        }
    } else {
        if (Is(command, "SELECT"))
            return m_MailboxCommand.Select(tag, a3);
        if (Is(command, "EXAMINE"))
            return m_MailboxCommand.Examine(tag, a3);
        if (Is(command, "STATUS"))
            return m_MailboxCommand.Status(tag, a3, a4);
        if (Is(command, "LIST"))
            return m_MailboxCommand.List(tag, a3, a4);
        if (Is(command, "LSUB"))
            return m_MailboxCommand.Lsub(tag, a3, a4);
        if (Is(command, "SUBSCRIBE"))
            return m_MailboxCommand.Subscribe(tag, a3);
        if (Is(command, "UNSUBSCRIBE"))
            return m_MailboxCommand.Unsubscribe(tag, a3);
        if (Is(command, "CREATE"))
            return m_MailboxCommand.Create(tag, a3);
        if (Is(command, "DELETE"))
            return m_MailboxCommand.Delete(tag, a3);
        if (Is(command, "RENAME"))
            return m_MailboxCommand.Rename(tag, a3, a4);
        if (Is(command, "APPEND"))
            return m_MailboxCommand.Append(tag, a3, a4, a5, tokens[5]);
        if (state == CIMAPSessionState::Selected) {
            bool uid = Is(command, "UID");
            const char* real = uid ? a3 : command;
            // In the UID form the real command is the third token and its arguments follow it.
            const char* args[3] = {uid ? a4 : a3, uid ? a5 : a4, uid ? tokens[5] : a5};
            if (Is(real, "FETCH"))
                return m_MessageCommand.Fetch(tag, uid, args[0], args[1]);
            if (Is(real, "STORE"))
                return m_MessageCommand.Store(tag, uid, args[0], args[1], args[2]);
            if (Is(real, "COPY"))
                return m_MessageCommand.Copy(tag, uid, args[0], args[1]);
            if (Is(real, "EXPUNGE"))
                return m_MessageCommand.Expunge(tag);
            if (!uid && Is(command, "CHECK"))
                return SendOK(tag, "CHECK");
            if (!uid && (Is(command, "CLOSE") || Is(command, "UNSELECT"))) {
                // CLOSE drops the \Deleted messages without a word; UNSELECT and a
                // read-only folder keep them.
                if (Is(command, "CLOSE") && !m_State.m_bReadOnly)
                    m_MessageCommand.ExpungeSilently();
                m_State.m_pMailList = nullptr;
                m_State.m_nState = CIMAPSessionState::Authenticated;
                m_State.m_nSelect = 0;
                return SendOK(tag, command);
            }
        }
    }
    SendBAD(tag, IMAPTEXT_NOT_IMPLEMENTED);
}

void CIMAPSession::SendOK(const char* tag, const char* text)
{
    std::string line = std::string(tag) + " OK " + text + " completed.";
    SendLine(line.c_str());
}

void CIMAPSession::SendNO(const char* tag, const char* text) { SendLine((std::string(tag) + " NO " + text).c_str()); }

void CIMAPSession::SendBAD(const char* tag, const char* text) { SendLine((std::string(tag) + " BAD " + text).c_str()); }

void CIMAPSession::SendLine(const char* text)
{
    if (!m_bActive)
        return;
    std::string hook = "Server " + std::to_string(m_nSlot) + " : " + text;
    CIMAPServer::LogMesg(hook.c_str());
    std::lock_guard<std::mutex> lock(m_SendLock);
    m_Pending.append(text);
    m_Pending.append("\r\n");
    FlushLocked();
}

void CIMAPSession::FlushLocked()
{
    if (!m_Pending.empty())
        m_pConnection->Write(m_Pending.data(), static_cast<int>(m_Pending.size()));
    m_Pending.clear();
}

void CIMAPSession::SendRaw(const char* data, long length)
{
    if (!m_bActive || length <= 0)
        return;
    // FETCH builds its answer from many small pieces: gather them and send in large writes.
    std::lock_guard<std::mutex> lock(m_SendLock);
    m_Pending.append(data, static_cast<size_t>(length));
    if (m_Pending.size() >= kSendChunk)
        FlushLocked();
}
