#include "harborage/imap_basic_commands.h"

#include <string>

#include "harborage/imap_session.h"
#include "harborage/mail_store.h"

bool CIMAPCommonCommand::Capability(const char* tag)
{
    m_pSession->SendLine("* CAPABILITY IMAP4rev1 UNSELECT");
    m_pSession->SendLine(std::string(tag) + " OK CAPABILITY completed");
    return true;
}

bool CIMAPCommonCommand::Noop(const char* tag)
{
    CIMAPSessionState* state = m_pSession->GetState();
    if (CIMAPMail* list = state->m_pMailList) {
        // Picks up what other sessions or the proxy delivered meanwhile.
        std::string folder = list->GetFolderName();  // a copy: the rescan resets the name
        list->FolderMailInit(folder.c_str());
        m_pSession->SendLine("* " + std::to_string(list->GetRecentCount()) + " RECENT");
        m_pSession->SendLine("* " + std::to_string(list->GetMessageCount()) + " EXISTS");
    }
    m_pSession->SendLine(std::string(tag) + " OK NOOP completed");
    return true;
}

bool CIMAPCommonCommand::Logout(const char* tag)
{
    m_pSession->SendLine("* BYE IMAP4rev1 Server logging out");
    m_pSession->SendLine(std::string(tag) + " OK LOGOUT completed");
    return true;
}

bool CIMAPLoginCommand::Login(const char* tag, const char*, const char*)
{
    m_pSession->SendLine(std::string(tag) + " OK LOGIN completed");
    m_pSession->GetState()->m_nState = CIMAPSessionState::Authenticated;
    return true;
}
