// CSpamFilter: the list operations and the filter file.
#include "sievelet/spam_filter.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "components/toolwick/reg_exp.h"
#include "components/toolwick/spam_util.h"
#include "sievelet/filter_file.h"
#include "sievelet/word_index.h"

namespace {

constexpr size_t kPathMax = 499;

void SetTexts(SPAM_FILTER& rule, const char* word, const char* folder, const char* description)
{
    CSpamUtil::STRNCPY(rule.word, word ? word : "", sizeof rule.word);
    CSpamUtil::STRNCPY(rule.folder, folder ? folder : "", sizeof rule.folder);
    CSpamUtil::STRNCPY(rule.description, description ? description : "", sizeof rule.description);
}

// Clamps the caller's long to the record's 32-bit count.
int32_t HitValue(long hit)
{
    if (hit > INT32_MAX)
        return INT32_MAX;
    if (hit < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(hit);
}

// One record of a filter file, its word lower-cased; false when the file ends inside it.
bool ReadRule(sievelet::FilterFileReader& in, SPAM_FILTER& rule)
{
    std::memset(&rule, 0, sizeof rule);
    uint8_t flags, kinds;
    int32_t hit;
    if (!in.ReadInt32(rule.fid) || !in.ReadByte(flags) || !in.ReadByte(kinds) || !in.ReadInt32(hit) ||
        !in.ReadText(rule.word, sizeof rule.word) || !in.ReadText(rule.description, sizeof rule.description) ||
        !in.ReadText(rule.folder, sizeof rule.folder))
        return false;
    rule.fclass = (flags >> 6) & 3;
    rule.sign = (flags >> 4) & 3;
    rule.action = (flags >> 2) & 3;
    rule.match = flags & 3;
    rule.level = (kinds >> 4) & 15;
    rule.property = kinds & 15;
    rule.hit = hit;
    sievelet::LowerAscii(rule.word);
    return true;
}

std::string Megabytes(size_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; }

}  // namespace

CSpamFilter::CSpamFilter(const char* path)
{
    m_path = path ? std::string(path, strnlen(path, kPathMax)) : std::string();
    m_nextFid = 1;
    LoadSpamFilter();
}

CSpamFilter::~CSpamFilter() = default;

bool CSpamFilter::LoadSpamFilter()
{
    try {
        std::vector<unsigned char> data;
        switch (sievelet::ReadWholeFile(m_path, data, kMemoryBudget)) {
        case sievelet::FileRead::kFailed: return false;
        case sievelet::FileRead::kTooLarge:
            Refuse("the file is larger than the " + Megabytes(kMemoryBudget) + " a block list may take in memory");
            return false;
        case sievelet::FileRead::kDone: break;
        }
        return LoadRules(data);
    } catch (const std::bad_alloc&) {
        Refuse("there was not memory enough to load its rules");
    } catch (const std::length_error&) {
        Refuse("its words are too long in all to index");
    }
    return false;
}

bool CSpamFilter::LoadRules(const std::vector<unsigned char>& data)
{
    m_filters.clear();
    m_regex.clear();
    m_index.reset();
    m_unindexedSize = SIZE_MAX;
    m_refusal.clear();
    sievelet::FilterFileReader in(data);
    uint32_t header;
    if (!in.ReadU32(header))
        return false;

    // What the list would take is known before any of it is held: a first pass counts the
    // records and the length of their words.
    size_t records = 0, wordBytes = 0;
    {
        sievelet::FilterFileReader count(data);
        uint32_t skip;
        count.ReadU32(skip);
        SPAM_FILTER rule;
        while (!count.AtEnd() && ReadRule(count, rule)) {
            ++records;
            wordBytes += std::strlen(rule.word);
        }
    }
    const size_t need =
        data.size() + records * sizeof(SPAM_FILTER) + sievelet::RuleIndex::BytesBound(records, wordBytes);
    if (need > kMemoryBudget) {
        Refuse("its " + std::to_string(records) + " rules would take about " + Megabytes(need) +
               " of memory, more than the " + Megabytes(kMemoryBudget) + " a block list may take");
        return false;
    }

    m_filters.reserve(records);
    int32_t maxFid = INT32_MIN;
    while (!in.AtEnd()) {
        SPAM_FILTER rule;
        if (!ReadRule(in, rule))
            break;  // cut short: drop it and stop
        maxFid = std::max(maxFid, rule.fid);
        m_filters.push_back(rule);
    }
    m_nextFid = sievelet::NextFidAfterLoad(header, !m_filters.empty(), maxFid);
    // Built now rather than at the first message, so a list that does not fit is refused
    // at the load.
    m_index = BuildIndex();
    return true;
}

void CSpamFilter::Refuse(std::string why)
{
    m_filters.clear();
    m_filters.shrink_to_fit();
    m_regex.clear();
    m_index.reset();
    m_unindexedSize = SIZE_MAX;
    m_nextFid = 1;
    m_refusal = std::move(why);
}

bool CSpamFilter::SaveSpamFilter()
{
    if (!m_refusal.empty())
        return false;  // the list is empty in place of the file's rules, which stay as they are
    sievelet::FilterFileWriter out;
    out.PutInt32(m_nextFid);
    for (const SPAM_FILTER& rule : m_filters) {
        out.PutInt32(rule.fid);
        out.PutByte(static_cast<uint8_t>(((rule.fclass & 3) << 6) | ((rule.sign & 3) << 4) | ((rule.action & 3) << 2) |
                                         (rule.match & 3)));
        out.PutByte(static_cast<uint8_t>(((rule.level & 15) << 4) | (rule.property & 15)));
        out.PutInt32(rule.hit);
        out.PutText(rule.word, sizeof rule.word);
        out.PutText(rule.description, sizeof rule.description);
        out.PutText(rule.folder, sizeof rule.folder);
    }
    return out.WriteTo(m_path);
}

SPAM_FILTER* CSpamFilter::AddSpamFilter(bool sign, unsigned char level, unsigned char property, unsigned char match,
                                        long hit, const char* word, const char* folder, const char* description,
                                        int action)
{
    SPAM_FILTER rule;
    std::memset(&rule, 0, sizeof rule);
    rule.fid = sievelet::FidForNewRecord(m_filters, m_nextFid);
    rule.fclass = 0;
    rule.sign = sign ? 1 : 0;
    rule.level = level;
    rule.property = property;
    rule.match = match;
    rule.action = static_cast<uint8_t>(action);
    rule.hit = HitValue(hit);
    SetTexts(rule, word, folder, description);
    // The last identifier stays the last rather than wrapping round to a used one.
    if (m_nextFid < INT32_MAX)
        ++m_nextFid;
    m_filters.push_back(rule);
    return &m_filters.back();
}

SPAM_FILTER* CSpamFilter::EditSpamFilter(int fid, bool sign, unsigned char level, unsigned char property,
                                         unsigned char match, long hit, const char* word, const char* folder,
                                         const char* description, int action)
{
    SPAM_FILTER* rule = GetSpamFilterByFID(fid);
    if (!rule)
        return nullptr;
    rule->fclass = 0;
    rule->sign = sign ? 1 : 0;
    rule->level = level;
    rule->property = property;
    rule->match = match;
    rule->action = static_cast<uint8_t>(action);
    if (hit >= 0)
        rule->hit = HitValue(hit);
    SetTexts(*rule, word, folder, description);
    return rule;
}

void CSpamFilter::DelSpamFilter(int fid)
{
    auto it = std::find_if(m_filters.begin(), m_filters.end(), [fid](const SPAM_FILTER& r) { return r.fid == fid; });
    if (it != m_filters.end())
        m_filters.erase(it);
}

SPAM_FILTER* CSpamFilter::GetSpamFilter(int index)
{
    if (index < 0 || index >= GetSize())
        return nullptr;
    return &m_filters[static_cast<size_t>(index)];
}

SPAM_FILTER* CSpamFilter::GetSpamFilterByFID(int fid)
{
    for (SPAM_FILTER& rule : m_filters)
        if (rule.fid == fid)
            return &rule;
    return nullptr;
}
