#include "sievelet/pass_filter.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "components/toolwick/spam_util.h"
#include "parsewick/parsewick.h"
#include "sievelet/filter_file.h"

namespace {

constexpr size_t kPathMax = 499;

void SetTexts(PASS_FILTER& entry, const char* address, const char* description)
{
    CSpamUtil::STRNCPY(entry.address, address ? address : "", sizeof entry.address);
    CSpamUtil::STRNCPY(entry.description, description ? description : "", sizeof entry.description);
}

bool Contains(const char* text, const char* part) { return text && std::strstr(text, part) != nullptr; }

}  // namespace

CPassFilter::CPassFilter(const char* path)
{
    m_path = path ? std::string(path, strnlen(path, kPathMax)) : std::string();
    m_nextFid = 1;
    LoadPassFilter();
}

CPassFilter::~CPassFilter() { SavePassFilter(); }

bool CPassFilter::LoadPassFilter()
{
    std::vector<unsigned char> data;
    if (!sievelet::ReadWholeFile(m_path, data))
        return false;

    m_filters.clear();
    sievelet::FilterFileReader in(data);
    uint32_t header;
    if (!in.ReadU32(header))
        return false;

    int32_t maxFid = INT32_MIN;
    while (!in.AtEnd()) {
        PASS_FILTER entry;
        std::memset(&entry, 0, sizeof entry);
        if (!in.ReadInt32(entry.fid) || !in.ReadInt32(entry.hit) || !in.ReadText(entry.address, sizeof entry.address) ||
            !in.ReadText(entry.description, sizeof entry.description))
            break;  // cut short: drop it and stop
        sievelet::LowerAscii(entry.address);
        maxFid = std::max(maxFid, entry.fid);
        m_filters.push_back(entry);
    }
    m_nextFid = sievelet::NextFidAfterLoad(header, !m_filters.empty(), maxFid);
    return true;
}

bool CPassFilter::SavePassFilter()
{
    sievelet::FilterFileWriter out;
    out.PutInt32(m_nextFid);
    for (const PASS_FILTER& entry : m_filters) {
        out.PutInt32(entry.fid);
        out.PutInt32(entry.hit);
        out.PutText(entry.address, sizeof entry.address);
        out.PutText(entry.description, sizeof entry.description);
    }
    return out.WriteTo(m_path);
}

PASS_FILTER* CPassFilter::AddPassFilter(const char* address, const char* description)
{
    PASS_FILTER entry;
    std::memset(&entry, 0, sizeof entry);
    entry.fid = sievelet::FidForNewRecord(m_filters, m_nextFid);
    entry.hit = 0;
    SetTexts(entry, address, description);
    if (m_nextFid < INT32_MAX)
        ++m_nextFid;
    m_filters.push_back(entry);
    return &m_filters.back();
}

PASS_FILTER* CPassFilter::EditPassFilter(int fid, const char* address, const char* description)
{
    PASS_FILTER* entry = GetPassFilterByFID(fid);
    if (entry)
        SetTexts(*entry, address, description);
    return entry;
}

void CPassFilter::DelPassFilter(int fid)
{
    auto it = std::find_if(m_filters.begin(), m_filters.end(), [fid](const PASS_FILTER& e) { return e.fid == fid; });
    if (it != m_filters.end())
        m_filters.erase(it);
}

PASS_FILTER* CPassFilter::GetPassFilter(int index)
{
    if (index < 0 || index >= GetSize())
        return nullptr;
    return &m_filters[static_cast<size_t>(index)];
}

PASS_FILTER* CPassFilter::GetPassFilterByFID(int fid)
{
    for (PASS_FILTER& entry : m_filters)
        if (entry.fid == fid)
            return &entry;
    return nullptr;
}

bool CPassFilter::DoPassFiltering(CMailHeader* header)
{
    if (!header)
        return false;
    const char* fromMail = header->GetFromMail();
    const char* fromName = header->GetFromName();
    for (PASS_FILTER& entry : m_filters) {
        if (Contains(fromMail, entry.address) || Contains(fromName, entry.address)) {
            if (entry.hit < INT32_MAX)
                ++entry.hit;
            return true;
        }
    }
    return false;
}
