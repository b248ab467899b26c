#pragma once

#include <string>
#include <utility>
#include <vector>

class CIMAPSession;
class CIMAPSessionState;
class CIMAPMail;
struct MAILINFO;

// FETCH, STORE, COPY and EXPUNGE on the selected folder, each also in its UID form.
class CIMAPMessageCommand {
public:
    // A range (low, high) of a sequence set; -1 stands for "*".
    using Range = std::pair<long, long>;

    struct RequestedFlags {
        bool seen = false, answered = false, flagged = false, deleted = false, draft = false, recent = false;
    };

    explicit CIMAPMessageCommand(CIMAPSession* session);

    void Fetch(const char* tag, bool uid, const char* set, const char* items);
    void Store(const char* tag, bool uid, const char* set, const char* item, const char* values);
    void Copy(const char* tag, bool uid, const char* set, const char* mailbox);
    void Expunge(const char* tag);
    void ExpungeSilently();  // removes the \Deleted messages, sending nothing

    static std::vector<Range> ParseSequenceSet(const char* set);
    static bool MatchesRange(const std::vector<Range>& ranges, bool uid, long seq, long uidValue);
    // Flag names of a list without its parentheses, separated by spaces.
    static RequestedFlags ParseFlagList(const std::string& names);
    // "\Seen \Answered ..." with a space after each set flag, in the fixed order.
    static std::string FlagText(const MAILINFO& info);
    // An ENVELOPE string: NIL, a quoted string, or a literal for 8-bit text.
    static std::string EnvelopeString(const char* value);

private:
    CIMAPMail* CurrentList();
    void FetchOne(MAILINFO* info, const std::vector<std::string>& items);
    std::string SectionData(const std::string& item, const std::string& mailFile, bool* parsedHeaderNeeded);
    // The file as one literal, or the slice of `length` bytes from `offset` when a partial
    // fetch asked for one (a slice past the end is empty).
    void SendFileLiteral(const std::string& fileName, unsigned long offset = 0,
                         unsigned long length = static_cast<unsigned long>(-1));

    CIMAPSession* m_pSession;
    CIMAPSessionState* m_pState;
};
