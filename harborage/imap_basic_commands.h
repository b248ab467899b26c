#pragma once

class CIMAPSession;

// CAPABILITY, NOOP and LOGOUT: answered in every state.
class CIMAPCommonCommand {
public:
    explicit CIMAPCommonCommand(CIMAPSession* session) : m_pSession(session) {}
    bool Capability(const char* tag);
    bool Noop(const char* tag);
    bool Logout(const char* tag);

private:
    CIMAPSession* m_pSession;
};

// LOGIN: any user name and password are accepted; the server only listens on this machine.
class CIMAPLoginCommand {
public:
    explicit CIMAPLoginCommand(CIMAPSession* session) : m_pSession(session) {}
    bool Login(const char* tag, const char* user, const char* password);

private:
    CIMAPSession* m_pSession;
};
