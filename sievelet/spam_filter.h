#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sievelet/spam_filter_record.h"

class CMailHeader;
class CRegExp;
namespace sievelet {
struct RuleIndex;
}

// One list of block rules tied to one filter file ("private.flt", "online.flt").
//
// The list order is the file order; new rules go to the end. Record pointers handed out stay
// valid until the next add, delete or load. Matching raises hit counts in memory only; they
// reach the file at the next SaveSpamFilter.
//
// Nothing inside locks. The owner holds GetLock() (or uses the object itself as a lockable)
// for the whole of one match or one edit when several threads share the list.
class CSpamFilter {
public:
    explicit CSpamFilter(const char* path);
    ~CSpamFilter();  // releases the list; does not save
    CSpamFilter(const CSpamFilter&) = delete;
    CSpamFilter& operator=(const CSpamFilter&) = delete;

    // Replaces the list with the file's contents. False when the file cannot be opened (the
    // list is unchanged) or holds fewer than 4 bytes (the list is then empty). A record cut
    // short by the end of the file is dropped and ends the load. A file whose rules and
    // their word index would take more memory than a list may use (see GetRefusal) is
    // refused whole: false, the list empty.
    bool LoadSpamFilter();
    // Rewrites the whole file from the list; false when it cannot be created, and false
    // without touching the file while the last load refused it.
    bool SaveSpamFilter();
    // Why the last load refused the file, "" when it did not. The owner reports it.
    const std::string& GetRefusal() const { return m_refusal; }
    // The memory one list may take: its file while loading, its records and its index.
    static constexpr size_t kMemoryBudget = size_t(512) << 20;

    // Appends a rule with the next FID and class 0. Texts are cut to their fields.
    SPAM_FILTER* AddSpamFilter(bool sign, unsigned char level, unsigned char property, unsigned char match, long hit,
                               const char* word, const char* folder, const char* description, int action);
    // Overwrites the rule with that FID (null when there is none); the hit count only when
    // the given one is not negative.
    SPAM_FILTER* EditSpamFilter(int fid, bool sign, unsigned char level, unsigned char property, unsigned char match,
                                long hit, const char* word, const char* folder, const char* description, int action);
    void DelSpamFilter(int fid);
    SPAM_FILTER* GetSpamFilter(int index);
    SPAM_FILTER* GetSpamFilterByFID(int fid);
    int GetSize() const { return static_cast<int>(m_filters.size()); }

    // The three matching passes; each returns true when this list judges the message spam,
    // copies the rule into result and sets folder (256 bytes) and action on a rule hit.
    // The header pass falls back to the built-in judgements (CheckSpecial).
    bool DoSpamFiltering(SPAM_FILTER& result, CMailHeader* header, char* folder, int* action, int level,
                         bool senderSwitch, bool subjectSwitch, bool bodySwitch, bool entireSwitch);
    // text: the message text, already lower-cased by the caller.
    bool DoSpamContentFiltering(SPAM_FILTER& result, const char* text, char* folder, int* action, int level,
                                bool subjectSwitch, bool bodySwitch, bool entireSwitch);
    // A FILENAME rule hits when its word equals the whole file name, ASCII case ignored.
    bool DoFileFiltering(SPAM_FILTER& result, const char* fileName, char* folder, int* action);

    // Single rule tests. On a hit they raise the rule's hit count and set folder and action;
    // result is not written.
    bool CheckFrom(SPAM_FILTER& result, CMailHeader* header, SPAM_FILTER* rule, char* folder, int* action);
    bool CheckTo(SPAM_FILTER& result, CMailHeader* header, SPAM_FILTER* rule, char* folder, int* action);
    bool CheckString(SPAM_FILTER& result, const char* text, SPAM_FILTER* rule, char* folder, int* action);
    // Built-in judgements: no sender address, no recipient address, no subject (or a
    // single blank). Fills result with the built-in rule whether or not one hits.
    bool CheckSpecial(SPAM_FILTER& result, CMailHeader* header, char* folder, int* action);

    // The lock of this list, for its owner.
    std::mutex& GetLock() { return m_lock; }
    void lock() { m_lock.lock(); }
    void unlock() { m_lock.unlock(); }
    bool try_lock() { return m_lock.try_lock(); }

    const std::string& GetPath() const { return m_path; }

private:
    struct WordHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using RegexCache = std::unordered_map<std::string, std::unique_ptr<CRegExp>, WordHash, std::equal_to<>>;

    // The rule's word as a compiled pattern, compiled once per distinct word and kept;
    // null when it does not compile.
    CRegExp* CompiledWord(const char* word);
    // CheckString over a text of known length (text[length] is its terminator).
    bool CheckText(const char* text, size_t length, SPAM_FILTER* rule, char* folder, int* action);
    // Loads the records of a file's contents and builds their index; throws std::bad_alloc
    // when memory runs out. False as LoadSpamFilter.
    bool LoadRules(const std::vector<unsigned char>& data);
    // Empties the list and keeps the file from being written over.
    void Refuse(std::string why);
    // The word index of the list, rebuilt when the list has changed since; null when there
    // was not memory enough for it (every rule is then checked on its own).
    sievelet::RuleIndex* Index();
    std::unique_ptr<sievelet::RuleIndex> BuildIndex() const;
    // Whether the index may answer for the rule at that position; a rule edited since the
    // index was built is not, and makes the next match rebuild it.
    bool Indexed(size_t position, const SPAM_FILTER& rule);
    // The rule's number in the index's pattern set, or -1 when it is not there (or the rule
    // changed since the index was built).
    int PatternNumber(size_t position, const SPAM_FILTER& rule) const;

    std::vector<SPAM_FILTER> m_filters;
    std::string m_path;  // at most 499 bytes
    int32_t m_nextFid = 1;

    std::mutex m_lock;
    RegexCache m_regex;
    std::string m_scratch;  // the lower-cased first header line, reused between messages
    std::unique_ptr<sievelet::RuleIndex> m_index;
    size_t m_unindexedSize = SIZE_MAX;  // the list size at which the index could not be built
    std::string m_refusal;
    // Which indexed words each text holds, one entry per rule, reused between messages.
    std::vector<uint8_t> m_inFrom, m_inTo, m_inSubject, m_inEntire;
};
