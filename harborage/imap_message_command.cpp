#include "harborage/imap_message_command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "components/toolwick/toolwick.h"
#include "harborage/imap_mesg.h"
#include "harborage/imap_server.h"
#include "harborage/imap_session.h"
#include "harborage/mail_store.h"
#include "parsewick/parsewick.h"

namespace {

bool StartsNoCase(const std::string& text, const char* prefix)
{
    size_t n = strlen(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

bool EqualNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits at spaces, keeping spaces inside the given bracket pair; empty parts are dropped.
std::vector<std::string> SplitOutside(const std::string& text, char open, char close)
{
    std::vector<std::string> out;
    std::string current;
    int depth = 0;
    for (char c : text) {
        if (c == open)
            ++depth;
        else if (c == close && depth > 0)
            --depth;
        if (c == ' ' && depth == 0) {
            if (!current.empty())
                out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        out.push_back(current);
    return out;
}

// The announcement of a literal of `size` bytes. (Built by append: GCC 12 at -O3 warns
// falsely about "{" + std::to_string(...).)
std::string LiteralHead(unsigned long size)
{
    std::string head = "{";
    head += std::to_string(size);
    head += "}\r\n";
    return head;
}

std::string Literal(const std::string& data) { return LiteralHead(data.size()) + data; }

// An envelope address: (name NIL mailbox host).
std::string EnvelopeAddress(const char* name, const char* mail)
{
    std::string address = mail ? mail : "";
    size_t at = address.find('@');
    std::string box = at == std::string::npos ? "" : address.substr(0, at);
    std::string host = at == std::string::npos ? "" : address.substr(at + 1);
    std::string out = "(";
    out += CIMAPMessageCommand::EnvelopeString(name);
    out += " NIL ";
    out += CIMAPMessageCommand::EnvelopeString(box.c_str());
    out += " ";
    out += CIMAPMessageCommand::EnvelopeString(host.c_str());
    out += ")";
    return out;
}

// The top header of a stored message, read from its header block alone.
bool LoadTopHeader(CIMAPMail* list, const char* fileName, CMailHeader* header)
{
    char* text = list->LoadMailHeader(fileName);
    if (text == nullptr)
        return false;
    CMailParser::CheckHeader(nullptr, text, 0, static_cast<int>(strlen(text)), *header);
    free(text);
    return true;
}

}  // namespace

CIMAPMessageCommand::CIMAPMessageCommand(CIMAPSession* session) : m_pSession(session), m_pState(session->GetState()) {}

CIMAPMail* CIMAPMessageCommand::CurrentList() { return m_pState->m_pMailList; }

std::vector<CIMAPMessageCommand::Range> CIMAPMessageCommand::ParseSequenceSet(const char* set)
{
    std::vector<Range> ranges;
    std::string text = set ? set : "";
    if (text.empty() || text.size() >= 500)
        return ranges;
    auto value = [](const std::string& s) -> long { return s == "*" ? -1 : atol(s.c_str()); };
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (part.empty() || part.size() >= 29)
            continue;
        size_t colon = part.find(':');
        Range r;
        if (colon == std::string::npos) {
            r = {value(part), value(part)};
        } else {
            std::string low = part.substr(0, colon), high = part.substr(colon + 1);
            if (low.empty() || high.empty())
                continue;
            r = {value(low), value(high)};
        }
        if (r.first != -1 && r.second != -1 && r.first > r.second)
            continue;  // dropped, not swapped
        ranges.push_back(r);
    }
    return ranges;
}

bool CIMAPMessageCommand::MatchesRange(const std::vector<Range>& ranges, bool uid, long seq, long uidValue)
{
    long n = uid ? uidValue : seq;
    for (const Range& r : ranges)
        if ((r.first == -1 || n >= r.first) && (r.second == -1 || n <= r.second))
            return true;
    return false;
}

CIMAPMessageCommand::RequestedFlags CIMAPMessageCommand::ParseFlagList(const std::string& names)
{
    RequestedFlags f;
    for (const std::string& n : SplitOutside(names, '\0', '\0')) {
        if (EqualNoCase(n, "\\seen"))
            f.seen = true;
        else if (EqualNoCase(n, "\\answered"))
            f.answered = true;
        else if (EqualNoCase(n, "\\flagged"))
            f.flagged = true;
        else if (EqualNoCase(n, "\\deleted"))
            f.deleted = true;
        else if (EqualNoCase(n, "\\draft"))
            f.draft = true;
        else if (EqualNoCase(n, "\\recent"))
            f.recent = true;
    }
    return f;
}

std::string CIMAPMessageCommand::FlagText(const MAILINFO& info)
{
    std::string s;
    if (info.seen)
        s += "\\Seen ";
    if (info.answered)
        s += "\\Answered ";
    if (info.flagged)
        s += "\\Flagged ";
    if (info.deleted)
        s += "\\Deleted ";
    if (info.draft)
        s += "\\Draft ";
    if (info.recent)
        s += "\\Recent ";
    return s;
}

std::string CIMAPMessageCommand::EnvelopeString(const char* value)
{
    if (value == nullptr || *value == '\0')
        return "NIL";
    // A quoted string holds neither 8-bit bytes nor CR or LF; those go as a literal.
    bool quotable = true;
    for (const char* p = value; *p; ++p)
        quotable = quotable && static_cast<unsigned char>(*p) < 0x80 && *p != '\r' && *p != '\n';
    if (!quotable)
        return Literal(value);
    std::string quoted = "\"";
    for (const char* p = value; *p; ++p) {
        if (*p == '"' || *p == '\\')
            quoted += '\\';
        quoted += *p;
    }
    return quoted + "\"";
}

void CIMAPMessageCommand::SendFileLiteral(const std::string& fileName, unsigned long offset, unsigned long length)
{
    CIMAPMail* list = CurrentList();
    unsigned long whole = list->GetFileSize(fileName.c_str());
    unsigned long start = std::min(offset, whole);
    unsigned long size = std::min(length, whole - start);
    m_pSession->SendRaw(LiteralHead(size));
    FILE* file = size > 0 ? list->OpenMailFile(fileName.c_str()) : nullptr;
    unsigned long sent = 0;
    if (file) {
        if (start == 0 || fseek(file, static_cast<long>(start), SEEK_SET) == 0) {
            char piece[10240];
            size_t got;
            while (sent < size &&
                   (got = fread(piece, 1, std::min<unsigned long>(sizeof piece, size - sent), file)) > 0) {
                m_pSession->SendRaw(piece, static_cast<long>(got));
                sent += got;
            }
        }
        list->CloseMailFile(file);
    }
    // A file that shrank under us still has to fill the literal it announced.
    if (sent < size)
        m_pSession->SendRaw(std::string(size - sent, ' '));
}

std::string CIMAPMessageCommand::SectionData(const std::string& item, const std::string& mailFile, bool*)
{
    size_t open = item.find('[');
    size_t close = item.rfind(']');
    std::string section = open != std::string::npos && close != std::string::npos && close > open
                              ? item.substr(open + 1, close - open - 1)
                              : std::string();
    if (section.empty())
        return std::string();  // the caller sends the whole file

    CMailHeader header;
    bool haveHeader = false;
    std::string text;
    std::set<std::string> taken;  // first line per field name, across the whole section

    auto apply = [&](const std::string& mode, const std::vector<std::string>* names) {
        bool all = mode == "header";
        if (!all && mode != "header.fields")
            return;
        if (!haveHeader)
            haveHeader = LoadTopHeader(CurrentList(), mailFile.c_str(), &header);
        if (!haveHeader)
            return;
        std::set<std::string> wanted;
        if (names)
            for (const std::string& n : *names)
                wanted.insert(Lower(n));
        for (const std::string& line : *header.GetHeaderSrc()) {
            char lineBuf[2048], name[100] = {0}, value[2048] = {0};
            CSpamUtil::STRNCPY(lineBuf, line.c_str(), sizeof lineBuf);
            if (!CMailParser::ParsingHeader(lineBuf, name, value))
                continue;
            std::string key = Lower(name);
            if (!all && !wanted.count(key))
                continue;
            if (!taken.insert(key).second)
                continue;
            text += line + "\r\n";
        }
    };

    std::string mode;
    bool modeHadList = true;
    for (const std::string& part : SplitOutside(section, '(', ')')) {
        if (part[0] == '(') {
            std::string inner = part.size() >= 2 ? part.substr(1, part.size() - 2) : std::string();
            std::vector<std::string> names;
            // Field names, each an atom or a quoted string.
            std::string name;
            bool quoted = false;
            for (char c : inner + ' ') {
                if (c == '"')
                    quoted = !quoted;
                else if (c == ' ' && !quoted) {
                    if (!name.empty())
                        names.push_back(name);
                    name.clear();
                } else
                    name += c;
            }
            apply(mode, &names);
            modeHadList = true;
        } else {
            std::string lower = Lower(part);
            if (lower == "header" || lower == "header.fields" || lower == "header.fields.not" ||
                lower == "header.mime" || lower == "header.text") {
                mode = lower;
                modeHadList = false;
            }
        }
    }
    if (!mode.empty() && !modeHadList)
        apply(mode, nullptr);
    return Literal(text + "\r\n");
}

void CIMAPMessageCommand::FetchOne(MAILINFO* info, const std::vector<std::string>& items)
{
    CIMAPMail* list = CurrentList();
    std::string out = "* " + std::to_string(info->seq) + " FETCH (";
    m_pSession->SendRaw(out);
    bool headerLoaded = false;
    CMailHeader header;
    bool setSeen = false;

    for (const std::string& item : items) {
        std::string piece;
        if (EqualNoCase(item, "UID")) {
            piece = "UID " + std::to_string(info->uid) + " ";
        } else if (EqualNoCase(item, "FLAGS")) {
            piece = "FLAGS (" + FlagText(*info) + ") ";
        } else if (EqualNoCase(item, "INTERNALDATE")) {
            time_t created = 0;
            if (list->GetFileDate(info->name, created) == CIMAPMail::StoreOk) {
                static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
                std::tm tm{};
                gmtime_r(&created, &tm);
                char date[64];
                snprintf(date, sizeof date, "INTERNALDATE \"%02d-%s-%04d %02d:%02d:%02d +0000\" ", tm.tm_mday,
                         kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
                piece = date;
            }
        } else if (EqualNoCase(item, "RFC822.SIZE")) {
            piece = "RFC822.SIZE " + std::to_string(list->GetFileSize(info->name)) + " ";
        } else if (EqualNoCase(item, "RFC822")) {
            m_pSession->SendRaw("RFC822 ");
            SendFileLiteral(info->name);
            piece = " ";
        } else if (StartsNoCase(item, "BODY[") || StartsNoCase(item, "BODY.PEEK[")) {
            bool peek = StartsNoCase(item, "BODY.PEEK[");
            std::string label = peek ? "BODY[" + item.substr(10) : item;
            // A partial fetch "<offset.length>" is answered under "<offset>" with that slice;
            // clients fetch large messages in such chunks.
            unsigned long offset = 0;
            unsigned long length = static_cast<unsigned long>(-1);
            size_t close = label.rfind(']');
            if (close != std::string::npos && close + 1 < label.size() && label[close + 1] == '<') {
                std::string range = label.substr(close + 2);
                if (!range.empty() && range.back() == '>')
                    range.pop_back();
                size_t dot = range.find('.');
                offset = strtoul(range.substr(0, dot).c_str(), nullptr, 10);
                if (dot != std::string::npos)
                    length = strtoul(range.substr(dot + 1).c_str(), nullptr, 10);
                label = label.substr(0, close + 1) + "<" + std::to_string(offset) + ">";
            }
            m_pSession->SendRaw(label + " ");
            std::string data = SectionData(item.substr(0, item.rfind(']') + 1), info->name, nullptr);
            if (data.empty()) {
                SendFileLiteral(info->name, offset, length);
            } else if (offset == 0 && length == static_cast<unsigned long>(-1)) {
                m_pSession->SendRaw(data);
            } else {
                std::string text = data.substr(data.find("}\r\n") + 3);
                text = offset < text.size() ? text.substr(offset, length) : std::string();
                m_pSession->SendRaw(Literal(text));
            }
            piece = " ";
            if (!peek)
                setSeen = true;
        } else if (EqualNoCase(item, "ENVELOPE")) {
            if (!headerLoaded)
                headerLoaded = LoadTopHeader(list, info->name, &header);
            piece = "ENVELOPE (" + EnvelopeString(header.GetHeader(const_cast<char*>("date"))) + " " +
                    EnvelopeString(header.GetHeader(const_cast<char*>("subject"))) + " ";
            std::string from = "(" + EnvelopeAddress(header.GetFromName(), header.GetFromMail()) + ") ";
            std::string to = "(" + EnvelopeAddress(header.GetToName(), header.GetToMail()) + ") ";
            piece += from + from + from + to + to + "NIL NIL " +
                     EnvelopeString(header.GetHeader(const_cast<char*>("message-id"))) + ") ";
        }
        if (!piece.empty())
            m_pSession->SendRaw(piece);
    }
    m_pSession->SendRaw(")\r\n");

    bool changed = false;
    if (setSeen && !info->seen) {
        info->seen = true;
        changed = true;
    }
    if (info->recent) {
        info->recent = false;
        changed = true;
    }
    if (changed)
        list->SaveUpdateMailInfo(info);
}

void CIMAPMessageCommand::Fetch(const char* tag, bool uid, const char* set, const char* items)
{
    std::vector<Range> ranges = ParseSequenceSet(set);
    std::string itemText = items ? items : "";
    if (itemText.size() < 3)
        return m_pSession->SendBAD(tag, "parsing error");
    if (itemText.front() == '(' && itemText.back() == ')')
        itemText = itemText.substr(1, itemText.size() - 2);
    std::vector<std::string> list = SplitOutside(itemText, '[', ']');
    // A client asking by UID matches the answers by UID, so every answer names it.
    if (uid && std::none_of(list.begin(), list.end(), [](const std::string& i) { return EqualNoCase(i, "UID"); }))
        list.insert(list.begin(), "UID");

    CIMAPMail* mail = CurrentList();
    int count = mail ? mail->GetMessageCount() : 0;
    for (int seq = 1; seq <= count; ++seq) {
        MAILINFO* info = mail->GetMailInfo(seq);
        if (info && MatchesRange(ranges, uid, seq, info->uid))
            FetchOne(info, list);
    }
    m_pSession->SendOK(tag, uid ? "UID FETCH" : "FETCH");
}

void CIMAPMessageCommand::Store(const char* tag, bool uid, const char* set, const char* item, const char* values)
{
    std::vector<Range> ranges = ParseSequenceSet(set);
    std::string name = item ? item : "";
    std::string list = values ? values : "";
    if (name.empty())
        return m_pSession->SendBAD(tag, "parsing error");
    if (list.empty() || list.front() != '(' || list.back() != ')')
        return m_pSession->SendBAD(tag, "flag parsing error");
    RequestedFlags req = ParseFlagList(list.substr(1, list.size() - 2));

    std::string lower = Lower(name);
    bool replace = lower == "flags" || lower == "flags.silent";
    bool add = lower == "+flags" || lower == "+flags.silent";
    bool remove = lower == "-flags" || lower == "-flags.silent";
    bool silent = lower == "flags.silent" || lower == "+flags.silent" || lower == "-flags.silent";

    CIMAPMail* mail = CurrentList();
    int count = mail ? mail->GetMessageCount() : 0;
    bool any = false;
    for (int seq = 1; seq <= count; ++seq) {
        MAILINFO* info = mail->GetMailInfo(seq);
        if (!info || !MatchesRange(ranges, uid, seq, info->uid))
            continue;
        any = true;
        const bool hadFlagged = info->flagged;
        bool* flags[6] = {&info->seen, &info->answered, &info->flagged, &info->deleted, &info->draft, &info->recent};
        const bool wanted[6] = {req.seen, req.answered, req.flagged, req.deleted, req.draft, req.recent};
        for (int i = 0; i < 6; ++i) {
            if (replace)
                *flags[i] = wanted[i];
            else if (add && wanted[i])
                *flags[i] = true;
            else if (remove && wanted[i])
                *flags[i] = false;
        }
        mail->SaveUpdateMailInfo(info);
        if (!silent)
            m_pSession->SendLine("* " + std::to_string(seq) + " FETCH (FLAGS (" + FlagText(*info) + ") UID " +
                                 std::to_string(info->uid) + ")");
        // Only a message that loses its \Flagged mark is the user saying "no spam"; marking
        // spam as read must not put its sender on the pass list.
        if (hadFlagged && !info->flagged) {
            CMailHeader header;
            if (LoadTopHeader(mail, info->name, &header)) {
                std::string file = info->name;
                std::string path = mail->FolderFile(info->name);
                IMAPMESG mesg{"SPAM", "PASS", file.c_str(), header.GetFromMail(), path.c_str()};
                platform::SendMessage(CIMAPServer::g_hWnd, WM_IMAPMESG, reinterpret_cast<platform::WPARAM>(&mesg), 0);
            }
        }
    }
    if (!any)
        return m_pSession->SendBAD(tag, "No Exist UID");
    m_pSession->SendOK(tag, "STORE");
}

void CIMAPMessageCommand::Copy(const char* tag, bool uid, const char* set, const char* mailbox)
{
    std::vector<Range> ranges = ParseSequenceSet(set);
    if (mailbox == nullptr || *mailbox == '\0')
        return m_pSession->SendBAD(tag, "parsing error");
    std::string target = CIMAPMailboxCommand::TidyMailbox(mailbox);
    CIMAPMail* mail = CurrentList();
    int count = mail ? mail->GetMessageCount() : 0;
    for (int seq = 1; seq <= count; ++seq) {
        MAILINFO* info = mail->GetMailInfo(seq);
        if (info && MatchesRange(ranges, uid, seq, info->uid))
            mail->CopyMailFile(seq, target.c_str());
    }
    m_pSession->SendOK(tag, "COPY");
}

void CIMAPMessageCommand::Expunge(const char* tag)
{
    CIMAPMail* mail = CurrentList();
    if (mail) {
        for (int seq = mail->GetMessageCount(); seq >= 1; --seq) {
            MAILINFO* info = mail->GetMailInfo(seq);
            if (info && info->deleted && mail->DeleteMailFile(seq) == CIMAPMail::StoreOk)
                m_pSession->SendLine("* " + std::to_string(seq) + " EXPUNGE");
        }
    }
    m_pSession->SendOK(tag, "EXPUNGE");
    if (mail) {
        std::string folder = mail->GetFolderName();  // a copy: the rescan resets the name
        mail->FolderMailInit(folder.c_str());
    }
}

void CIMAPMessageCommand::ExpungeSilently()
{
    CIMAPMail* mail = CurrentList();
    if (!mail)
        return;
    for (int seq = mail->GetMessageCount(); seq >= 1; --seq) {
        MAILINFO* info = mail->GetMailInfo(seq);
        if (info && info->deleted)
            mail->DeleteMailFile(seq);
    }
}
