#include "harborage/imap_mailbox_command.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/client_socket.h"
#include "components/toolwick/toolwick.h"
#include "harborage/folder_store.h"
#include "harborage/imap_mesg.h"
#include "harborage/imap_server.h"
#include "harborage/imap_session.h"
#include "harborage/imap_texts.h"
#include "harborage/mail_store.h"
#include "parsewick/parsewick.h"

namespace {

// Far above what mail systems carry (tens of MB); the store keeps this much disk free.
constexpr long kMaxAppendSize = 256L * 1024 * 1024;
constexpr long kAppendSpaceReserve = 16L * 1024 * 1024;

const char kFlagsLine[] = "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)";
const char kPermanentFlagsLine[] =
    "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)] No user defined flags";

std::string Bounded(const char* text, size_t room)
{
    std::string s = text ? text : "";
    if (s.size() >= room)
        s.resize(room - 1);
    return s;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::vector<std::string> SplitSpaces(const std::string& text)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find(' ', i);
        if (j == std::string::npos)
            j = text.size();
        if (j > i)
            out.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

std::string Inner(const std::string& token)
{
    return token.size() >= 2 ? token.substr(1, token.size() - 2) : std::string();
}

}  // namespace

CIMAPMailboxCommand::CIMAPMailboxCommand(CIMAPSession* session)
    : m_pSession(session), m_pFolder(std::make_unique<CIMAPFolder>(CIMAPServer::g_RootPath)),
      m_pMail(std::make_unique<CIMAPMail>(CIMAPServer::g_RootPath))
{
}

CIMAPMailboxCommand::~CIMAPMailboxCommand() = default;

std::string CIMAPMailboxCommand::TidyMailbox(const char* argument)
{
    char buffer[300];
    CSpamUtil::STRNCPY(buffer, argument ? argument : "", sizeof buffer);
    char* p = buffer;
    CIMAPFolder::GetCorrectFolder(p);
    return p;
}

void CIMAPMailboxCommand::SelectOrExamine(const char* tag, const char* mailbox, bool examine)
{
    std::string name = TidyMailbox(mailbox);
    if (name.empty()) {
        if (examine)
            m_pSession->SendBAD(tag, "parsing error");
        else
            m_pSession->SendNO(tag, "SELECT parsing error");
        return;
    }
    if (!examine)
        m_pSession->SendLine(kFlagsLine);
    m_pMail->FolderMailInit(name.c_str());
    m_pSession->SendLine("* " + std::to_string(m_pMail->GetMessageCount()) + " EXISTS");
    m_pSession->SendLine("* " + std::to_string(m_pMail->GetRecentCount()) + " RECENT");
    int first = 0;
    if (m_pMail->GetUnseenCount(first) > 0) {
        m_pSession->SendLine("* OK [UNSEEN " + std::to_string(first) + "] Message " + std::to_string(first) +
                             " is the first unseen.");
    } else {
        m_pSession->SendLine("* OK [UNSEEN 0]");
    }
    if (examine)
        m_pSession->SendLine(kFlagsLine);
    m_pSession->SendLine(kPermanentFlagsLine);
    // Clients keep their copies keyed by UID and need both to know whether those still hold.
    m_pSession->SendLine("* OK [UIDVALIDITY " + std::to_string(m_pMail->GetUidValidity()) + "] UIDs valid");
    m_pSession->SendLine("* OK [UIDNEXT " + std::to_string(m_pMail->GetUidNext()) + "] Predicted next UID");
    m_pSession->SendOK(tag, examine ? "[READ-ONLY] EXAMINE" : "[READ-WRITE] SELECT");

    CIMAPSessionState* state = m_pSession->GetState();
    state->m_pMailList = m_pMail.get();
    state->m_nState = CIMAPSessionState::Selected;
    state->m_nSelect = 1;
    state->m_bReadOnly = examine;
}

void CIMAPMailboxCommand::Select(const char* tag, const char* mailbox) { SelectOrExamine(tag, mailbox, false); }
void CIMAPMailboxCommand::Examine(const char* tag, const char* mailbox) { SelectOrExamine(tag, mailbox, true); }

void CIMAPMailboxCommand::Create(const char* tag, const char* mailbox)
{
    std::string name = TidyMailbox(mailbox);
    if (name.empty())
        return m_pSession->SendBAD(tag, "CREATE Pasing Parameter");
    if (!CIMAPServer::m_MakeFolder)
        return m_pSession->SendBAD(tag, IMAPTEXT_NO_CREATE);
    if (m_pFolder->CreateFolder(name.c_str()) != CIMAPFolder::FolderOk)
        return m_pSession->SendBAD(tag, "Can't create folder");
    m_pSession->SendOK(tag, "CREATE");
}

void CIMAPMailboxCommand::Delete(const char* tag, const char* mailbox)
{
    std::string name = TidyMailbox(mailbox);
    if (name.empty())
        return m_pSession->SendBAD(tag, "DELETE Pasing Parameter");
    if (m_pFolder->DeleteFolder(name.c_str()) != CIMAPFolder::FolderOk)
        return m_pSession->SendNO(tag, "Can't delete parameter.");
    m_pSession->SendOK(tag, "DELETE");
}

void CIMAPMailboxCommand::Rename(const char* tag, const char* oldName, const char* newName)
{
    std::string from = TidyMailbox(oldName);
    std::string to = TidyMailbox(newName);
    if (from.empty() || to.empty())
        return m_pSession->SendBAD(tag, "RENAME Pasing Parameter");
    if (m_pFolder->RenameFolder(from.c_str(), to.c_str()) != CIMAPFolder::FolderOk)
        return m_pSession->SendNO(tag, "Can't rename folder");
    m_pSession->SendOK(tag, "RENAME");
}

void CIMAPMailboxCommand::Subscribe(const char* tag, const char* mailbox)
{
    std::string name = TidyMailbox(mailbox);
    if (name.empty())
        return m_pSession->SendBAD(tag, "SUBSCRIBE Pasing Parameter");
    if (!m_pFolder->UpdateFolderStatus(name.c_str(), 1))
        return m_pSession->SendNO(tag, "Can't subscribe folder");
    m_pSession->SendOK(tag, "SUBSCRIBE");
}

void CIMAPMailboxCommand::Unsubscribe(const char* tag, const char* mailbox)
{
    std::string name = TidyMailbox(mailbox);
    if (name.empty())
        return m_pSession->SendBAD(tag, "UNSUBSCRIBE Pasing Parameter");
    if (!m_pFolder->UpdateFolderStatus(name.c_str(), 0))
        return m_pSession->SendNO(tag, "Can't unsubscribe folder");
    m_pSession->SendOK(tag, "UNSUBSCRIBE");
}

void CIMAPMailboxCommand::ListOrLsub(const char* tag, const char* reference, const char* pattern, bool lsub)
{
    if (reference == nullptr || pattern == nullptr || *reference == '\0' || *pattern == '\0')
        return m_pSession->SendBAD(tag, lsub ? "LSUB parsing error." : "LIST parsing error.");
    std::string ref = TidyMailbox(reference);
    std::string pat = TidyMailbox(pattern);
    std::vector<std::string> names;
    m_pFolder->FindFolderList(ref.c_str(), pat.c_str(), lsub ? 1 : -1, names);
    if (!lsub && pat.empty() && names.empty())
        m_pSession->SendLine("* LIST () \"/\" \"\"");
    for (const std::string& n : names)
        m_pSession->SendLine(std::string(lsub ? "* LSUB" : "* LIST") + " () \"/\" \"" + n + "\"");
    m_pSession->SendOK(tag, lsub ? "LSUB" : "LIST");
}

void CIMAPMailboxCommand::List(const char* tag, const char* reference, const char* pattern)
{
    ListOrLsub(tag, reference, pattern, false);
}

void CIMAPMailboxCommand::Lsub(const char* tag, const char* reference, const char* pattern)
{
    ListOrLsub(tag, reference, pattern, true);
}

void CIMAPMailboxCommand::Status(const char* tag, const char* mailbox, const char* items)
{
    std::string name = TidyMailbox(mailbox);
    std::string list = items ? items : "";
    if (list.size() > 2)
        list = Inner(list);
    CIMAPMail mail(CIMAPServer::g_RootPath);  // the selected folder's list stays as it is
    mail.FolderMailInit(name.c_str());
    std::string answer;
    for (const std::string& item : SplitSpaces(list)) {
        if (EqualNoCase(item, "MESSAGES"))
            answer += "MESSAGES " + std::to_string(mail.GetMessageCount()) + " ";
        else if (EqualNoCase(item, "RECENT"))
            answer += "RECENT " + std::to_string(mail.GetRecentCount()) + " ";
        else if (EqualNoCase(item, "UNSEEN")) {
            int first = 0;
            answer += "UNSEEN " + std::to_string(mail.GetUnseenCount(first)) + " ";
        } else if (EqualNoCase(item, "UIDNEXT"))
            answer += "UIDNEXT " + std::to_string(mail.GetUidNext()) + " ";
        else if (EqualNoCase(item, "UIDVALIDITY"))
            answer += "UIDVALIDITY " + std::to_string(mail.GetUidValidity()) + " ";
    }
    // An ordinary name goes as it is; one an atom cannot hold (a space, say) as a quoted
    // string, or the client would read its second word as the item list.
    std::string shown = name;
    if (name.find_first_of(" (){%*\"\\]") != std::string::npos) {
        shown = "\"";
        for (char c : name) {
            if (c == '"' || c == '\\')
                shown += '\\';
            shown += c;
        }
        shown += '"';
    }
    m_pSession->SendLine("* STATUS " + shown + " (" + answer + ")");
    m_pSession->SendOK(tag, "STATUS");
}

bool CIMAPMailboxCommand::ReceiveLiteral(const std::string& path, long size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    CClientSocket* connection = m_pSession->GetConnection();
    std::vector<char> buffer(409600);
    long total = 0;
    // Bytes the line reader already holds come first; the literal never takes more than its
    // size, so the client's next command stays for the command loop.
    while (total < size) {
        int want = static_cast<int>(std::min<long>(size - total, static_cast<long>(buffer.size())));
        int got = connection->ReadBuffered(buffer.data(), want);
        if (got <= 0)
            got = connection->ReadBytes(buffer.data(), want);
        if (got <= 0)
            return false;
        out.write(buffer.data(), got);
        total += got;
    }
    return static_cast<bool>(out);
}

void CIMAPMailboxCommand::Append(const char* tag, const char* mailbox, const char* arg1, const char* arg2,
                                 const char* arg3)
{
    std::string name = TidyMailbox(mailbox);
    if (name.empty())
        return m_pSession->SendBAD(tag, "parsing error");

    std::string flagList, sizeToken;
    for (const char* arg : {arg1, arg2, arg3}) {
        std::string token = Bounded(arg, 100);
        if (!token.empty() && token[0] == '(')
            flagList = token;
        else if (!token.empty() && token[0] == '{')
            sizeToken = token;
    }
    bool flags[6] = {false, false, false, false, false, false};  // seen answered flagged deleted draft recent
    static const char* const kNames[6] = {"\\seen", "\\answered", "\\flagged", "\\deleted", "\\draft", "\\recent"};
    for (const std::string& f : SplitSpaces(Inner(flagList)))
        for (int i = 0; i < 6; ++i)
            if (EqualNoCase(f, kNames[i]))
                flags[i] = true;

    long size = sizeToken.empty() ? 0 : atol(Inner(sizeToken).c_str());
    if (size <= 0)
        return m_pSession->SendBAD(tag, "invalid arg");
    // Refused before "+ Ready", so the client sends nothing: a literal larger than any mail,
    // or than the disk can hold, would only fill the disk.
    long freeSpace = CIMAPFolder::CheckFreeSpace(CIMAPServer::g_RootPath);
    if (size > kMaxAppendSize || (freeSpace >= 0 && size > freeSpace - kAppendSpaceReserve))
        return m_pSession->SendNO(tag, "[TOOBIG] message too large");

    // One scratch file per session slot, so two sessions appending at once stay apart.
    std::string temp =
        std::string(CIMAPServer::g_RootPath) + "append" + std::to_string(m_pSession->GetSlot()) + ".temp";
    {
        std::ofstream probe(temp, std::ios::binary | std::ios::trunc);
        if (!probe)
            return m_pSession->SendBAD(tag, "Can't Make File");
    }
    m_pSession->SendLine("+ Ready");
    if (!ReceiveLiteral(temp, size)) {
        std::filesystem::remove(temp);
        return;  // the client went away in the middle of the literal
    }

    // Tell the main window who sent the message the user filed by hand.
    CIMAPMail mail(CIMAPServer::g_RootPath);
    {
        std::ifstream in(temp, std::ios::binary);
        if (in) {
            std::string header;
            std::string chunk(100, '\0');
            while (in.read(chunk.data(), 100) || in.gcount() > 0) {
                header.append(chunk.data(), static_cast<size_t>(in.gcount()));
                size_t end = header.find("\r\n\r\n");
                if (end != std::string::npos) {
                    header.resize(end + 4);
                    break;
                }
            }
            CMailHeader mailHeader;
            CMailParser::CheckHeader(nullptr, header.data(), 0, static_cast<int>(header.size()), mailHeader);
            IMAPMESG mesg{"APPEND", name.c_str(), "notuse", mailHeader.GetFromMail(), temp.c_str()};
            platform::SendMessage(CIMAPServer::g_hWnd, WM_IMAPMESG, reinterpret_cast<platform::WPARAM>(&mesg), 0);
        }
    }

    mail.FolderMailInit(name.c_str());
    if (mail.AddTempMailMesg(name.c_str(), temp.c_str(), flags[0], flags[1], flags[2], flags[3], flags[4], flags[5], "",
                             "") != CIMAPMail::StoreOk)
        std::filesystem::remove(temp);  // no such folder: nothing to keep

    CIMAPSessionState* state = m_pSession->GetState();
    if (state->m_pMailList && EqualNoCase(name, state->m_pMailList->GetFolderName())) {
        state->m_pMailList->FolderMailInit(name.c_str());
        m_pSession->SendLine("* " + std::to_string(state->m_pMailList->GetMessageCount()) + " EXISTS");
        m_pSession->SendLine("* " + std::to_string(state->m_pMailList->GetRecentCount()) + " RECENT");
    }
    m_pSession->SendOK(tag, "APPEND");
}
