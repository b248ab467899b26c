// CSpamFilter: the list operations and the filter file.
#include "sievelet/spam_filter.h"

#include <algorithm>
#include <climits>
#include <cstring>

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
    std::vector<unsigned char> data;
    if (!sievelet::ReadWholeFile(m_path, data))
        return false;

    m_filters.clear();
    m_regex.clear();
    sievelet::FilterFileReader in(data);
    uint32_t header;
    if (!in.ReadU32(header))
        return false;

    int32_t maxFid = INT32_MIN;
    while (!in.AtEnd()) {
        SPAM_FILTER rule;
        std::memset(&rule, 0, sizeof rule);
        uint8_t flags, kinds;
        int32_t hit;
        if (!in.ReadInt32(rule.fid) || !in.ReadByte(flags) || !in.ReadByte(kinds) || !in.ReadInt32(hit) ||
            !in.ReadText(rule.word, sizeof rule.word) || !in.ReadText(rule.description, sizeof rule.description) ||
            !in.ReadText(rule.folder, sizeof rule.folder))
            break;  // cut short: drop it and stop
        rule.fclass = (flags >> 6) & 3;
        rule.sign = (flags >> 4) & 3;
        rule.action = (flags >> 2) & 3;
        rule.match = flags & 3;
        rule.level = (kinds >> 4) & 15;
        rule.property = kinds & 15;
        rule.hit = hit;
        sievelet::LowerAscii(rule.word);
        maxFid = std::max(maxFid, rule.fid);
        m_filters.push_back(rule);
    }
    m_nextFid = sievelet::NextFidAfterLoad(header, !m_filters.empty(), maxFid);
    return true;
}

bool CSpamFilter::SaveSpamFilter()
{
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
