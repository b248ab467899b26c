#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "harborage/imap_basic_commands.h"
#include "harborage/imap_mailbox_command.h"
#include "harborage/imap_message_command.h"

class CClientSocket;
class CIMAPMail;
class CIMAPServer;

// Where a session stands: not authenticated (0), authenticated (1) or selected (2), and the
// message list SELECT or EXAMINE bound.
class CIMAPSessionState {
public:
    enum { NotAuthenticated = 0, Authenticated = 1, Selected = 2 };

    CIMAPMail* m_pMailList = nullptr;
    int m_nState = NotAuthenticated;
    int m_nSelect = 0;
    bool m_bReadOnly = false;
};

// One client connection with its own thread, served until LOGOUT, disconnection or stop.
class CIMAPSession {
public:
    static constexpr int kTokenCount = 10;
    static constexpr int kTokenSize = 1000;
    static constexpr int kCommandPauseMs = 10;
    static constexpr int kLineSize = 2048;
    static constexpr int kFailedLoginPauseMs = 1000;

    CIMAPSession(CIMAPServer* server, CClientSocket* connection, int slot);
    ~CIMAPSession();
    CIMAPSession(const CIMAPSession&) = delete;
    CIMAPSession& operator=(const CIMAPSession&) = delete;

    bool Start();  // starts the session thread; false (and inactive) when it cannot
    bool IsActive() const { return m_bActive; }
    void Shutdown();  // wakes the thread out of its read; the thread closes the socket
    void Join();      // waits for the thread to end
    // Waits for the thread to end while serving the calling thread's window messages: a
    // session may be waiting in SendMessage for the very thread that stops the server.
    void JoinServingMessages();

    // Replies. Nothing is sent once the session is no longer active.
    void SendOK(const char* tag, const char* text);   // "%s OK %s completed."
    void SendNO(const char* tag, const char* text);   // "%s NO %s"
    void SendBAD(const char* tag, const char* text);  // "%s BAD %s"
    void SendLine(const char* text);                  // text + CRLF
    void SendLine(const std::string& text) { SendLine(text.c_str()); }
    void SendRaw(const char* data, long length);  // bytes as they are
    void SendRaw(const std::string& data) { SendRaw(data.data(), static_cast<long>(data.size())); }

    CClientSocket* GetConnection() { return m_pConnection.get(); }
    CIMAPSessionState* GetState() { return &m_State; }
    int GetSlot() const { return m_nSlot; }
    CIMAPServer* GetServer() { return m_pServer; }

    // Splits a command line into at most 9 tokens of fewer than `tokenSize` bytes each:
    // quoted strings and parenthesized groups stay whole with their delimiters. A line of
    // 999 bytes or more gives no tokens. Returns the number of tokens.
    static int SplitCommandLine(const char* line, char tokens[][kTokenSize], int maxTokens = 9);
    // The size a line's closing literal announcement "{n}" gives (one to three digits), or -1
    // when the line does not end in one; *open then receives where its "{" stands.
    static int AnnouncedLiteral(const std::string& line, size_t* open);

private:
    void Run();
    bool ReadLoginLiterals(char* line, size_t size);
    void Dispatch(char tokens[][kTokenSize], int count, bool* logout);

    std::atomic<bool> m_bActive{false};
    std::atomic<bool> m_bFinished{false};
    std::unique_ptr<CClientSocket> m_pConnection;
    std::thread m_Thread;
    CIMAPServer* m_pServer;
    CIMAPCommonCommand m_CommonCommand;
    CIMAPLoginCommand m_LoginCommand;
    CIMAPMailboxCommand m_MailboxCommand;
    CIMAPMessageCommand m_MessageCommand;
    CIMAPSessionState m_State;
    int m_nSlot;
    void FlushLocked();

    static constexpr size_t kSendChunk = 65536;
    std::mutex m_SendLock;  // replies come from the session thread only, but Shutdown races them
    std::string m_Pending;  // raw output not yet sent; every line reply flushes it
};
