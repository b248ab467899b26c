#include "fetchling/pop3_mesg.h"

#include <algorithm>

#include "components/toolwick/spam_util.h"

void CPop3Mesg::AddMesgToList(int number, long size)
{
    Pop3Mail mail;
    mail.number = number;
    mail.size = size;
    m_List.push_back(mail);
}

void CPop3Mesg::SetMesgUID(int number, const char* uid)
{
    for (Pop3Mail& mail : m_List) {
        if (mail.number == number) {
            CSpamUtil::STRNCPY(mail.uid, uid ? uid : "", sizeof mail.uid);
            return;
        }
    }
}

void CPop3Mesg::RemoveMesgToList(int number)
{
    if (!m_List.empty() && m_List.front().number == number) {
        m_List.erase(m_List.begin());
        // Keep the cursor on the record it pointed at.
        if (m_nCursor >= 0)
            --m_nCursor;
    }
}

bool CPop3Mesg::IsExist(int number) const
{
    return std::any_of(m_List.begin(), m_List.end(), [number](const Pop3Mail& m) { return m.number == number; });
}

void CPop3Mesg::Clear()
{
    m_List.clear();
    m_nCursor = -1;
}

bool CPop3Mesg::GetNextMesg()
{
    if (m_nCursor < static_cast<int>(m_List.size()))
        ++m_nCursor;
    return m_nCursor < static_cast<int>(m_List.size());
}

const Pop3Mail* CPop3Mesg::Current() const
{
    if (m_nCursor < 0 || m_nCursor >= static_cast<int>(m_List.size()))
        return nullptr;
    return &m_List[static_cast<size_t>(m_nCursor)];
}

int CPop3Mesg::GetMesgID() const
{
    const Pop3Mail* m = Current();
    return m ? m->number : 0;
}

long CPop3Mesg::GetMesgOctet() const
{
    const Pop3Mail* m = Current();
    return m ? m->size : 0;
}

char* CPop3Mesg::GetMesgUID()
{
    static char empty[1] = {};
    const Pop3Mail* m = Current();
    return m ? const_cast<char*>(m->uid) : empty;
}

void CPop3Mesg::GetUIDList(std::vector<std::string>* uids) const
{
    if (!uids)
        return;
    for (const Pop3Mail& mail : m_List)
        uids->emplace_back(mail.uid);
}
