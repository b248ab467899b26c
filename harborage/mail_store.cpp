// CIMAPMail's core: the process-wide store lock, the folder an object is bound to, and the
// message list. The index, the rescan and the message files have sources of their own.
#include "harborage/mail_store.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "components/toolwick/spam_util.h"
#include "harborage/store_files.h"

namespace {

// Created when the library is loaded; guards every CIMAPMail operation in the process.
std::recursive_mutex g_StoreLock;

using Guard = std::lock_guard<std::recursive_mutex>;

}  // namespace

std::recursive_mutex& CIMAPMail::StoreLock() { return g_StoreLock; }

const char* CIMAPMail::StoreResultText(int result)
{
    switch (result) {
    case StoreOk: return "succeeded";
    case StoreFailed: return "failed";
    default: return "unknown store result";
    }
}

CIMAPMail::CIMAPMail(const char* rootPath) { CSpamUtil::STRNCPY(m_RootPath, rootPath ? rootPath : "", kRootSize); }

CIMAPMail::~CIMAPMail() = default;

std::string CIMAPMail::FolderFile(const char* name) const
{
    if (!HasFolder() || name == nullptr || *name == '\0')
        return {};
    // Only plain file names: nothing reaches another directory.
    if (std::strchr(name, '/') || std::strchr(name, '\\') || !std::strcmp(name, ".") || !std::strcmp(name, ".."))
        return {};
    return m_FolderPath + "/" + name;
}

void CIMAPMail::BindFolder(const char* folder)
{
    Guard guard(g_StoreLock);
    m_MailList.clear();
    m_RecordOffset.clear();
    std::string name = folder ? folder : "";  // `folder` may be our own GetFolderName()
    m_FolderName = std::move(name);
    m_FolderPath = harborage::ResolveFolder(m_RootPath, m_FolderName);
}

// ---------------------------------------------------------------------------------------------
// The list

MAILINFO* CIMAPMail::InsertMailInfo(MailInfoList& list, const char* name, bool seen, bool answered, bool flagged,
                                    bool deleted, bool draft, bool recent)
{
    Guard guard(g_StoreLock);
    long uid = IncFID();
    if (uid <= 0)
        return nullptr;
    auto e = std::make_unique<MAILINFO>();
    std::memset(e.get(), 0, sizeof(MAILINFO));
    e->seq = static_cast<int>(list.size() + 1);
    e->uid = static_cast<int>(uid);
    CSpamUtil::STRNCPY(e->name, name ? name : "", sizeof e->name);
    e->seen = seen;
    e->answered = answered;
    e->flagged = flagged;
    e->deleted = deleted;
    e->draft = draft;
    e->recent = recent;
    list.push_back(std::move(e));
    return list.back().get();
}

void CIMAPMail::RemoveMailInfo(MailInfoList& list, const char* name)
{
    Guard guard(g_StoreLock);
    if (name == nullptr)
        return;
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return strcasecmp(e->name, name) == 0; });
    if (it == list.end())
        return;
    it = list.erase(it);
    for (; it != list.end(); ++it)
        --(*it)->seq;
}

MAILINFO* CIMAPMail::GetMailInfo(int seq)
{
    Guard guard(g_StoreLock);
    if (seq < 1 || seq > static_cast<int>(m_MailList.size()))
        return nullptr;
    return m_MailList[seq - 1].get();
}

int CIMAPMail::Size()
{
    Guard guard(g_StoreLock);
    return static_cast<int>(m_MailList.size());
}

int CIMAPMail::GetMessageCount() { return Size(); }

int CIMAPMail::GetRecentCount()
{
    Guard guard(g_StoreLock);
    return static_cast<int>(
        std::count_if(m_MailList.begin(), m_MailList.end(), [](const auto& e) { return e->recent; }));
}

int CIMAPMail::GetUnseenCount(int& firstUnseen)
{
    Guard guard(g_StoreLock);
    int count = 0;
    for (const auto& e : m_MailList) {
        if (e->seen)
            continue;
        if (count++ == 0)
            firstUnseen = e->seq;
    }
    return count;
}
