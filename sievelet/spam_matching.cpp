// CSpamFilter: the three matching passes and the built-in judgements.
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "components/toolwick/reg_exp.h"
#include "components/toolwick/spam_util.h"
#include "parsewick/parsewick.h"
#include "sievelet/spam_filter.h"
#include "sievelet/text_match.h"
#include "sievelet/word_index.h"

namespace {

constexpr size_t kSubjectSize = 10240;  // subjects are examined up to 10239 bytes
constexpr long kFolderSize = 256;

bool IsContentRule(unsigned char property)
{
    return property == SPAM_PROPERTY_CONTENT || property == SPAM_PROPERTY_SUBJECT_CONTENT ||
           property == SPAM_PROPERTY_ENTIRE;
}

void ScanInto(const sievelet::WordIndex& index, const char* text, std::vector<uint8_t>& found)
{
    if (text && text[0])
        index.Scan(text, std::strlen(text), found);
}

// A rule caught the message: count it and hand its folder and action to the caller.
void RuleHit(SPAM_FILTER* rule, char* folder, int* action)
{
    if (rule->hit < INT32_MAX)
        ++rule->hit;
    if (folder)
        CSpamUtil::STRNCPY(folder, rule->folder, kFolderSize);
    if (action)
        *action = rule->action;
}

// Everything but the class bits.
void CopyRule(SPAM_FILTER& result, const SPAM_FILTER& rule)
{
    result.fid = rule.fid;
    result.sign = rule.sign;
    result.level = rule.level;
    result.property = rule.property;
    result.match = rule.match;
    result.action = rule.action;
    result.hit = rule.hit;
    std::memcpy(result.word, rule.word, sizeof result.word);
    std::memcpy(result.description, rule.description, sizeof result.description);
    std::memcpy(result.folder, rule.folder, sizeof result.folder);
    result.word[sizeof result.word - 1] = '\0';
    result.description[sizeof result.description - 1] = '\0';
    result.folder[sizeof result.folder - 1] = '\0';
}

bool Contains(const char* text, const char* word) { return text && std::strstr(text, word) != nullptr; }

// The rule's word, terminated within its field even if a caller wrote past it.
const char* WordOf(const SPAM_FILTER& rule, char (&buffer)[SPAM_WORD_SIZE])
{
    if (memchr(rule.word, '\0', sizeof rule.word))
        return rule.word;
    CSpamUtil::STRNCPY(buffer, rule.word, sizeof buffer);
    return buffer;
}

// Whether a rule is still as its index key recorded it: the word as WordOf gives it (up to
// its terminator, or its first SPAM_WORD_SIZE - 1 bytes), compared in place. Asked for every
// rule of every message, so no copy and one pass over the word.
bool SameRule(const sievelet::RuleIndex::Key& key, const SPAM_FILTER& rule)
{
    const size_t n = key.word.size();
    return key.property == rule.property && key.match == rule.match && n < sizeof rule.word &&
           std::memcmp(rule.word, key.word.data(), n) == 0 && (n == sizeof rule.word - 1 || rule.word[n] == '\0');
}

// Which pattern rules occur in one text: the index's pattern set is asked once, when the
// first pattern rule needs that text, instead of one search per rule.
class PatternHits {
public:
    PatternHits(const CRegExpSet* set, const char* text, size_t length) : set_(set), text_(text), length_(length) {}

    // 1 when the pattern numbered `number` occurs in the text, 0 when it does not, -1 when the
    // set cannot tell (the rule is then matched on its own).
    int Occurs(int number)
    {
        if (number < 0 || !set_)
            return -1;
        if (!text_ || length_ == 0)
            return 0;  // as CheckText: an empty text matches nothing
        if (!asked_) {
            asked_ = true;
            decided_ = set_->Match(text_, &found_);
        }
        if (!decided_ || static_cast<size_t>(number) >= found_.size())
            return -1;
        return found_[static_cast<size_t>(number)] ? 1 : 0;
    }

private:
    const CRegExpSet* set_;
    const char* text_;
    size_t length_;
    bool asked_ = false;
    bool decided_ = false;
    std::vector<char> found_;
};

}  // namespace

CRegExp* CSpamFilter::CompiledWord(const char* word)
{
    auto it = m_regex.find(std::string_view(word));
    if (it != m_regex.end())
        return it->second.get();
    // Words of edited or deleted rules linger; start afresh before the cache outgrows the list.
    if (m_regex.size() > 2 * m_filters.size() + 64)
        m_regex.clear();
    auto compiled = std::make_unique<CRegExp>();
    if (!compiled->RegComp(word))
        compiled.reset();
    CRegExp* result = compiled.get();
    m_regex.emplace(std::string(word), std::move(compiled));
    return result;
}

bool CSpamFilter::CheckFrom(SPAM_FILTER& /*result*/, CMailHeader* header, SPAM_FILTER* rule, char* folder, int* action)
{
    if (!header || !rule)
        return false;
    char buffer[SPAM_WORD_SIZE];
    const char* word = WordOf(*rule, buffer);
    // Sender rules are substring rules whatever their match kind.
    if (Contains(header->GetFromMail(), word) || Contains(header->GetFromName(), word) ||
        Contains(header->GetReturnPathMail(), word) || Contains(header->GetReturnPathName(), word) ||
        Contains(header->GetSenderMail(), word) || Contains(header->GetSenderName(), word)) {
        RuleHit(rule, folder, action);
        return true;
    }
    return false;
}

bool CSpamFilter::CheckTo(SPAM_FILTER& /*result*/, CMailHeader* header, SPAM_FILTER* rule, char* folder, int* action)
{
    if (!header || !rule)
        return false;
    char buffer[SPAM_WORD_SIZE];
    const char* word = WordOf(*rule, buffer);
    if (Contains(header->GetToMail(), word) || Contains(header->GetToName(), word)) {
        RuleHit(rule, folder, action);
        return true;
    }
    return false;
}

bool CSpamFilter::CheckString(SPAM_FILTER& /*result*/, const char* text, SPAM_FILTER* rule, char* folder, int* action)
{
    if (!text)
        return false;
    return CheckText(text, std::strlen(text), rule, folder, action);
}

bool CSpamFilter::CheckText(const char* text, size_t length, SPAM_FILTER* rule, char* folder, int* action)
{
    if (!text || length == 0 || !rule)
        return false;
    char buffer[SPAM_WORD_SIZE];
    const char* word = WordOf(*rule, buffer);
    if (!word[0])
        return false;
    bool hit;
    if (rule->match == SPAM_MATCH_REGEXP) {
        CRegExp* re = CompiledWord(word);
        hit = re && re->RegFind(text) != -1;
    } else {
        hit = memmem(text, length, word, std::strlen(word)) != nullptr;
    }
    if (hit)
        RuleHit(rule, folder, action);
    return hit;
}

bool CSpamFilter::CheckSpecial(SPAM_FILTER& result, CMailHeader* header, char* /*folder*/, int* /*action*/)
{
    // The built-in rule; FID, class, sign and level keep what the caller's record held.
    CSpamUtil::STRNCPY(result.word, "-", sizeof result.word);
    CSpamUtil::STRNCPY(result.folder, "INBOX", sizeof result.folder);
    result.hit = 1;
    result.property = SPAM_PROPERTY_SENDER;
    result.match = 0;
    result.action = SPAM_ACTION_STORE;
    if (!header)
        return false;

    const char* judgement = nullptr;
    const char* subject = header->GetSubject();
    if (!header->GetFromMail()[0])
        judgement = "No Sender";
    else if (!header->GetToMail()[0])
        judgement = "No Receiver";
    else if (!subject[0] || std::strcmp(subject, " ") == 0)
        judgement = "No Subject";
    if (!judgement)
        return false;
    CSpamUtil::STRNCPY(result.description, judgement, sizeof result.description);
    return true;
}

sievelet::RuleIndex* CSpamFilter::Index()
{
    if (m_index && !m_index->stale && m_index->keys.size() == m_filters.size())
        return m_index.get();
    if (m_unindexedSize == m_filters.size())
        return nullptr;
    // Without memory for an index the rules are still checked, one by one; the build is not
    // tried again until the list changes size.
    m_index.reset();
    try {
        m_index = BuildIndex();
        m_unindexedSize = SIZE_MAX;
    } catch (const std::bad_alloc&) {
        m_unindexedSize = m_filters.size();
    } catch (const std::length_error&) {
        m_unindexedSize = m_filters.size();
    }
    return m_index.get();
}

std::unique_ptr<sievelet::RuleIndex> CSpamFilter::BuildIndex() const
{
    enum Served { kNone, kSender, kSubject, kContent };
    auto served = [](const SPAM_FILTER& rule) {
        const bool literal = rule.match != SPAM_MATCH_REGEXP;
        if (rule.property == SPAM_PROPERTY_SENDER || rule.property == SPAM_PROPERTY_RECEIVER)
            return kSender;
        if (rule.property == SPAM_PROPERTY_SUBJECT && literal)
            return kSubject;
        if (IsContentRule(rule.property) && literal)
            return kContent;
        return kNone;
    };
    auto index = std::make_unique<sievelet::RuleIndex>();
    const size_t count = m_filters.size();
    index->keys.resize(count);
    index->patternNumber.assign(count, -1);
    index->patterns = std::make_unique<CRegExpSet>();
    // The indexes read the words from the keys, which stay put from here on.
    size_t sizes[4] = {};
    for (const SPAM_FILTER& rule : m_filters)
        ++sizes[served(rule)];
    std::vector<sievelet::WordIndex::Entry> words[4];
    for (int s = kSender; s <= kContent; ++s)
        words[s].reserve(sizes[s]);
    for (size_t i = 0; i < count; ++i) {
        const SPAM_FILTER& rule = m_filters[i];
        char buffer[SPAM_WORD_SIZE];
        sievelet::RuleIndex::Key& key = index->keys[i];
        key.property = rule.property;
        key.match = rule.match;
        key.word = WordOf(rule, buffer);
        if (Served s = served(rule); s != kNone && !key.word.empty())
            words[s].push_back({static_cast<uint32_t>(i), key.word});
        if (rule.match == SPAM_MATCH_REGEXP && !key.word.empty() &&
            (rule.property == SPAM_PROPERTY_SUBJECT || IsContentRule(rule.property)))
            index->patternNumber[i] = index->patterns->Add(key.word.c_str());
    }
    if (!index->patterns->Compile())
        index->patterns.reset();
    index->sender = sievelet::WordIndex(count, words[kSender]);
    index->subject = sievelet::WordIndex(count, words[kSubject]);
    index->content = sievelet::WordIndex(count, words[kContent]);
    return index;
}

bool CSpamFilter::Indexed(size_t position, const SPAM_FILTER& rule)
{
    if (!m_index)
        return false;
    const sievelet::RuleIndex::Key& key = m_index->keys[position];
    if (!SameRule(key, rule)) {
        m_index->stale = true;
        return false;
    }
    // Rules outside every index (patterns, empty words) are checked one by one.
    const bool literal = rule.match != SPAM_MATCH_REGEXP;
    return !key.word.empty() &&
           (rule.property == SPAM_PROPERTY_SENDER || rule.property == SPAM_PROPERTY_RECEIVER || literal);
}

int CSpamFilter::PatternNumber(size_t position, const SPAM_FILTER& rule) const
{
    if (!m_index || position >= m_index->keys.size())
        return -1;
    if (!SameRule(m_index->keys[position], rule))
        return -1;
    return m_index->patternNumber[position];
}

bool CSpamFilter::DoSpamFiltering(SPAM_FILTER& result, CMailHeader* header, char* folder, int* action, int level,
                                  bool senderSwitch, bool subjectSwitch, bool /*bodySwitch*/, bool entireSwitch)
{
    if (!header)
        return false;
    char subject[kSubjectSize];
    size_t subjectLength = sievelet::LowerCopy(subject, sizeof subject, header->GetSubject());

    // Whole-message rules see only the first raw header line here; the content pass gives
    // them the whole text.
    m_scratch.clear();
    if (entireSwitch) {
        auto* source = header->GetHeaderSrc();
        if (source && !source->empty()) {
            m_scratch.assign(source->front().data(), source->front().size());
            for (char& c : m_scratch)
                c = sievelet::LowerByte(c);
        }
    }

    // Every text of the message is scanned once for all literal words; the rules are then
    // taken in list order as before, so the first rule that matches still decides.
    const sievelet::RuleIndex* index = Index();
    const size_t count = m_filters.size();
    m_inFrom.assign(count, 0);
    m_inTo.assign(count, 0);
    m_inSubject.assign(count, 0);
    m_inEntire.assign(count, 0);
    if (index && senderSwitch) {
        for (const char* text : {header->GetFromMail(), header->GetFromName(), header->GetReturnPathMail(),
                                 header->GetReturnPathName(), header->GetSenderMail(), header->GetSenderName()})
            ScanInto(index->sender, text, m_inFrom);
        ScanInto(index->sender, header->GetToMail(), m_inTo);
        ScanInto(index->sender, header->GetToName(), m_inTo);
    }
    if (index && (subjectSwitch || entireSwitch))
        index->subject.Scan(subject, subjectLength, m_inSubject);
    if (index && entireSwitch) {
        index->content.Scan(m_scratch.data(), m_scratch.size(), m_inEntire);
        for (const char* text : {header->GetFromName(), header->GetReturnPathName(), header->GetSenderName(),
                                 header->GetToName(), header->GetSubject()})
            ScanInto(index->content, text, m_inEntire);
    }

    const CRegExpSet* patterns = index ? index->patterns.get() : nullptr;
    PatternHits subjectHits(patterns, subject, subjectLength);
    PatternHits scratchHits(patterns, m_scratch.c_str(), m_scratch.size());
    const char* names[] = {header->GetFromName(), header->GetReturnPathName(), header->GetSenderName(),
                           header->GetToName(), header->GetSubject()};
    std::vector<PatternHits> nameHits;
    for (const char* name : names)
        nameHits.emplace_back(patterns, name, name ? std::strlen(name) : 0);
    // A pattern rule on one text: the set's answer, or a search of its own when it has none.
    auto patternRule = [&](PatternHits& hits, size_t i, SPAM_FILTER& rule, const char* text, size_t length) {
        int occurs = hits.Occurs(PatternNumber(i, rule));
        if (occurs < 0)
            return text != nullptr && CheckText(text, length, &rule, folder, action);
        if (occurs == 1)
            RuleHit(&rule, folder, action);
        return occurs == 1;
    };

    for (size_t i = 0; i < count; ++i) {
        SPAM_FILTER& rule = m_filters[i];
        if (rule.level > level)
            continue;
        bool indexedHit = false;  // the direct checks count their hit themselves
        bool hit = false;
        switch (rule.property) {
        case SPAM_PROPERTY_SENDER:
            if (!senderSwitch)
                break;
            if (Indexed(i, rule))
                hit = indexedHit = m_inFrom[i] != 0;
            else
                hit = CheckFrom(result, header, &rule, folder, action);
            break;
        case SPAM_PROPERTY_RECEIVER:
            if (!senderSwitch)
                break;
            if (Indexed(i, rule))
                hit = indexedHit = m_inTo[i] != 0;
            else
                hit = CheckTo(result, header, &rule, folder, action);
            break;
        case SPAM_PROPERTY_SUBJECT:
            if (!subjectSwitch && !entireSwitch)
                break;
            if (Indexed(i, rule))
                hit = indexedHit = m_inSubject[i] != 0;
            else
                hit = patternRule(subjectHits, i, rule, subject, subjectLength);
            break;
        case SPAM_PROPERTY_ENTIRE:
            if (!entireSwitch)
                break;
            if (Indexed(i, rule))
                hit = indexedHit = m_inEntire[i] != 0;
            else {
                hit = patternRule(scratchHits, i, rule, m_scratch.c_str(), m_scratch.size());
                for (size_t n = 0; !hit && n < nameHits.size(); ++n)
                    hit = patternRule(nameHits[n], i, rule, names[n], names[n] ? std::strlen(names[n]) : 0);
            }
            break;
        default: break;  // body, subject+body and file-name rules belong to the other passes
        }
        if (hit) {
            if (indexedHit)
                RuleHit(&rule, folder, action);
            CopyRule(result, rule);
            return true;
        }
    }
    return CheckSpecial(result, header, folder, action);
}

bool CSpamFilter::DoSpamContentFiltering(SPAM_FILTER& result, const char* text, char* folder, int* action, int level,
                                         bool /*subjectSwitch*/, bool bodySwitch, bool entireSwitch)
{
    if (!text || !text[0])
        return false;
    size_t length = std::strlen(text);
    const sievelet::RuleIndex* index = Index();
    const size_t count = m_filters.size();
    m_inEntire.assign(count, 0);
    if (index && (bodySwitch || entireSwitch))
        index->content.Scan(text, length, m_inEntire);
    PatternHits textHits(index ? index->patterns.get() : nullptr, text, length);
    for (size_t i = 0; i < count; ++i) {
        SPAM_FILTER& rule = m_filters[i];
        if (rule.level > level)
            continue;
        bool applies = false;
        switch (rule.property) {
        case SPAM_PROPERTY_CONTENT: applies = bodySwitch || entireSwitch; break;
        case SPAM_PROPERTY_SUBJECT_CONTENT: applies = bodySwitch; break;
        case SPAM_PROPERTY_ENTIRE: applies = entireSwitch; break;
        default: break;
        }
        if (!applies)
            continue;
        bool hit;
        if (Indexed(i, rule)) {
            hit = m_inEntire[i] != 0;
            if (hit)
                RuleHit(&rule, folder, action);
        } else if (int occurs = textHits.Occurs(PatternNumber(i, rule)); occurs >= 0) {
            hit = occurs == 1;
            if (hit)
                RuleHit(&rule, folder, action);
        } else {
            hit = CheckText(text, length, &rule, folder, action);
        }
        if (hit) {
            CopyRule(result, rule);
            return true;
        }
    }
    return false;
}

bool CSpamFilter::DoFileFiltering(SPAM_FILTER& result, const char* fileName, char* folder, int* action)
{
    if (!fileName || !fileName[0])
        return false;
    for (SPAM_FILTER& rule : m_filters) {
        if (rule.property != SPAM_PROPERTY_FILENAME)
            continue;
        char buffer[SPAM_WORD_SIZE];
        if (sievelet::EqualsNoCase(WordOf(rule, buffer), fileName)) {
            RuleHit(&rule, folder, action);
            CopyRule(result, rule);
            return true;
        }
    }
    return false;
}
