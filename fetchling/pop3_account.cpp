#include "fetchling/pop3_account.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <strings.h>
#include <system_error>
#include <unordered_set>

#include "common/durable_file.h"
#include "components/toolwick/spam_util.h"

namespace {

// UIDs compare without regard to ASCII case, as strcasecmp does in the C locale.
std::string Folded(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string CutUid(const char* uid) { return std::string(uid, strnlen(uid, CPop3Account::kUidSize - 1)); }

// The directory and a file name in it; a directory given with its trailing separator (as the
// data directory is) does not get a second one.
std::string JoinPath(const char* directory, const std::string& file)
{
    std::string path = directory;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + file;
}

bool UnsafeInFileName(unsigned char c) { return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == '%'; }

}  // namespace

CPop3Account::CPop3Account(const char* directory, const char* name, const char* server, const char* user,
                           const char* password, int port)
    : m_nPort(port)
{
    CSpamUtil::STRNCPY(m_szDirectory, directory, sizeof m_szDirectory);
    CSpamUtil::STRNCPY(m_szName, name, sizeof m_szName);
    CSpamUtil::STRNCPY(m_szServer, server, sizeof m_szServer);
    CSpamUtil::STRNCPY(m_szUser, user, sizeof m_szUser);
    CSpamUtil::STRNCPY(m_szPassword, password, sizeof m_szPassword);
    m_bDirectoryCut = directory && strlen(directory) >= sizeof m_szDirectory;
}

std::string CPop3Account::EncodeFileNamePart(const char* text)
{
    std::string out;
    if (!text)
        return out;
    for (const char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (UnsafeInFileName(c)) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string CPop3Account::GetHistoryFilePath() const
{
    if (m_bDirectoryCut)
        return std::string();
    return JoinPath(m_szDirectory, EncodeFileNamePart(m_szName) + "." + EncodeFileNamePart(m_szUser) + ".his");
}

bool CPop3Account::LoadHistoryFile()
{
    std::string path = GetHistoryFilePath();
    if (path.empty())
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    m_History.clear();
    char record[kUidSize];
    while (in.read(record, kUidSize) && in.gcount() == kUidSize)
        m_History.push_back(CutUid(record));
    RebuildFolded();
    return true;
}

bool CPop3Account::SaveHistoryFile()
{
    std::string path = GetHistoryFilePath();
    if (path.empty())
        return false;
    std::string data(m_History.size() * kUidSize, '\0');
    for (size_t i = 0; i < m_History.size(); ++i) {
        const std::string& uid = m_History[i];
        memcpy(&data[i * kUidSize], uid.data(), std::min(uid.size(), static_cast<size_t>(kUidSize - 1)));
    }
    // Written beside the file, forced to disk and renamed over it: an interrupted save or a
    // power cut leaves the previous history rather than a truncated or empty one.
    return durable::ReplaceFile(path, data.data(), data.size());
}

bool CPop3Account::IsExistUID(const char* uid) const
{
    if (!uid)
        return false;
    return m_Folded.count(Folded(CutUid(uid))) > 0;
}

void CPop3Account::AddHistory(const char* uid)
{
    if (!uid)
        return;
    m_History.push_back(CutUid(uid));
    Count(m_History.back(), 1);
}

void CPop3Account::Count(const std::string& uid, int delta)
{
    std::string key = Folded(uid);
    int& n = m_Folded[key];
    n += delta;
    if (n <= 0)
        m_Folded.erase(key);
}

void CPop3Account::RebuildFolded()
{
    m_Folded.clear();
    m_Folded.reserve(m_History.size());
    for (const std::string& uid : m_History)
        ++m_Folded[Folded(uid)];
}

void CPop3Account::RemoveHistory(const char* uid)
{
    if (!uid)
        return;
    std::string wanted = CutUid(uid);
    auto it = std::find(m_History.begin(), m_History.end(), wanted);
    if (it != m_History.end()) {
        Count(*it, -1);
        m_History.erase(it);
    }
}

void CPop3Account::GetUidList(std::vector<std::string>& uids) const
{
    uids.insert(uids.end(), m_History.begin(), m_History.end());
}

void CPop3Account::RemoveUidList(std::vector<std::string>& current)
{
    std::unordered_set<std::string> keep;
    for (const std::string& uid : current)
        keep.insert(uid.substr(0, kUidSize - 1));
    std::erase_if(m_History, [&](const std::string& entry) { return keep.find(entry) == keep.end(); });
    RebuildFolded();
}

bool CPop3Account::RemoveHistoryFile(const char* directory, const char* name)
{
    if (!directory || !name)
        return false;
    std::string path = JoinPath(directory, EncodeFileNamePart(name) + ".his");
    std::error_code ec;
    return std::filesystem::remove(path, ec);
}
