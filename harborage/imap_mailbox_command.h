#pragma once

#include <memory>
#include <string>

class CIMAPFolder;
class CIMAPMail;
class CIMAPSession;

// SELECT, EXAMINE, CREATE, DELETE, RENAME, SUBSCRIBE, UNSUBSCRIBE, LIST, LSUB, STATUS and
// APPEND. Arguments are the raw tokens of the command line, quotes included; a missing
// argument is an empty text.
class CIMAPMailboxCommand {
public:
    explicit CIMAPMailboxCommand(CIMAPSession* session);
    ~CIMAPMailboxCommand();

    void Select(const char* tag, const char* mailbox);
    void Examine(const char* tag, const char* mailbox);
    void Create(const char* tag, const char* mailbox);
    void Delete(const char* tag, const char* mailbox);
    void Rename(const char* tag, const char* oldName, const char* newName);
    void Subscribe(const char* tag, const char* mailbox);
    void Unsubscribe(const char* tag, const char* mailbox);
    void List(const char* tag, const char* reference, const char* pattern);
    void Lsub(const char* tag, const char* reference, const char* pattern);
    void Status(const char* tag, const char* mailbox, const char* items);
    void Append(const char* tag, const char* mailbox, const char* arg1, const char* arg2, const char* arg3);

    CIMAPMail* GetMail() { return m_pMail.get(); }

    // The mailbox argument tidied as the folder store expects it (quotes, "~/", the Korean
    // inbox name), cut to the 299 bytes a mailbox argument may hold.
    static std::string TidyMailbox(const char* argument);

private:
    void SelectOrExamine(const char* tag, const char* mailbox, bool examine);
    void ListOrLsub(const char* tag, const char* reference, const char* pattern, bool lsub);
    // Reads exactly `size` bytes of an APPEND literal into `path`: first what the line
    // buffer already holds, then from the socket. False when the client went away.
    bool ReceiveLiteral(const std::string& path, long size);

    CIMAPSession* m_pSession;
    std::unique_ptr<CIMAPFolder> m_pFolder;
    std::unique_ptr<CIMAPMail> m_pMail;
    int m_nReserved = 1;
};
