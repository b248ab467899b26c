#include "fetchling/pop3_tran_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "components/toolwick/spam_util.h"
#include "fetchling/fetchling_texts.h"
#include "fetchling/pop3_client.h"

namespace {

constexpr int kReplySize = 300;     // status lines: 299 bytes
constexpr int kListLineSize = 600;  // listing lines: 599 bytes
constexpr size_t kMaxParsedLine = 497;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CPop3TranCommand::CPop3TranCommand(CPop3Client* client) : m_pClient(client) {}

void CPop3TranCommand::Send(const char* format, int a, int b)
{
    char command[100];
    snprintf(command, sizeof command, format, a, b);
    m_pClient->SendLine(command);
}

int CPop3TranCommand::ReadWholeLine(char* dest, int size)
{
    int n = m_pClient->ReadLine(dest, size);
    if (n < 0)
        return -1;
    char rest[1024];
    while (!m_pClient->LastLineEnded()) {
        if (m_pClient->ReadLine(rest, sizeof rest) < 0)
            return -1;
    }
    return n;
}

bool CPop3TranCommand::CheckOKReply()
{
    char line[kReplySize];
    int n = ReadWholeLine(line, sizeof line);
    if (n < 0)
        return false;
    m_pClient->DebugMesg(line);
    if (n <= 2)
        return false;
    if (strncmp(line, "+OK", 3) == 0)
        return true;
    if (strncmp(line, "-ERR", 4) == 0)
        CSpamUtil::STRNCPY(m_szLastError, line + 4, sizeof m_szLastError);
    return false;
}

int CPop3TranCommand::Login()
{
    if (!CheckOKReply())
        return 0;
    // "USER " and up to 99 characters of user name.
    char command[110];
    snprintf(command, sizeof command, "USER %s", m_pClient->getID());
    m_pClient->SendLine(command);
    if (!CheckOKReply())
        return -20;
    // "PASS " and up to 99 characters of password.
    char pass[110];
    snprintf(pass, sizeof pass, "PASS %s", m_pClient->getPwd());
    m_pClient->SendLine(pass);
    return CheckOKReply() ? 1 : -30;
}

bool CPop3TranCommand::Stat(int&, long&)
{
    m_pClient->SendLine("STAT");
    return true;
}

bool CPop3TranCommand::SkipRestOfListing()
{
    char line[kListLineSize];
    for (;;) {
        if (ReadWholeLine(line, sizeof line) < 0) {
            m_bListingCut = true;
            return false;
        }
        if (std::strcmp(line, ".") == 0)
            return true;
    }
}

bool CPop3TranCommand::List()
{
    m_bListingCut = false;
    m_pClient->SendLine("LIST");
    if (!CheckOKReply())
        return false;
    m_MesgList.Clear();
    char line[kListLineSize];
    for (;;) {
        if (ReadWholeLine(line, sizeof line) < 0) {
            m_bListingCut = true;
            return false;
        }
        m_pClient->DebugMesg(line);
        std::vector<std::string> words;
        ParsingLine(line, words);
        if (!words.empty() && words[0] == ".")
            break;
        // A line that cannot be read ends the list; the messages after it wait.
        if (words.empty())
            return SkipRestOfListing();
        if (words.size() < 2) {
            // "n" without a size: keep the message (size unknown) rather than lose it.
            if (!IsDigit(words[0][0]))
                return SkipRestOfListing();
            m_MesgList.AddMesgToList(atoi(words[0].c_str()), 0);
            continue;
        }
        if (!IsDigit(words[1][0]))
            return SkipRestOfListing();
        m_MesgList.AddMesgToList(atoi(words[0].c_str()), atol(words[1].c_str()));
    }
    return true;
}

bool CPop3TranCommand::List(int number, int&, long&)
{
    Send("LIST %d", number);
    return true;
}

bool CPop3TranCommand::Uidl()
{
    m_bListingCut = false;
    m_pClient->SendLine("UIDL");
    if (!CheckOKReply())
        return false;
    char line[kListLineSize];
    for (;;) {
        if (ReadWholeLine(line, sizeof line) < 0) {
            m_bListingCut = true;
            return false;
        }
        m_pClient->DebugMesg(line);
        std::vector<std::string> words;
        ParsingLine(line, words);
        if (!words.empty() && words[0] == ".")
            break;
        if (words.empty())
            return SkipRestOfListing();
        // A UID may hold any printable byte. A quote or parenthesis inside a word would start
        // a new word and drop what came before ("a(x)" and "b(x)" both "(x)"), so a UID that
        // does not open with one is taken as the server wrote it, up to the next space.
        // A line without a UID leaves that message's UID empty.
        const char* uid = line + std::strspn(line, " ");
        uid += std::strcspn(uid, " ");
        uid += std::strspn(uid, " ");
        if (*uid == '"' || *uid == '(') {
            if (words.size() >= 2)
                m_MesgList.SetMesgUID(atoi(words[0].c_str()), words[1].c_str());
        } else if (*uid) {
            std::string text(uid, std::strcspn(uid, " "));
            m_MesgList.SetMesgUID(atoi(words[0].c_str()), text.c_str());
        }
    }
    return true;
}

bool CPop3TranCommand::Uidl(int number)
{
    Send("UIDL %d", number);
    return true;
}

bool CPop3TranCommand::Retr(int number)
{
    Send("RETR %d", number);
    return CheckOKReply();
}

bool CPop3TranCommand::Top(int number, int lines)
{
    Send("TOP %d %d", number, lines);
    CheckOKReply();
    return true;
}

bool CPop3TranCommand::Dele(int number)
{
    Send("DELE %d", number);
    CheckOKReply();
    return true;
}

bool CPop3TranCommand::Noop()
{
    m_pClient->SendLine("NOOP");
    CheckOKReply();
    return true;
}

bool CPop3TranCommand::Rset()
{
    m_pClient->SendLine("RSET");
    CheckOKReply();
    return true;
}

bool CPop3TranCommand::Quit()
{
    m_pClient->SendLine("QUIT");
    CheckOKReply();
    return true;
}

bool CPop3TranCommand::ParsingLine(const char* line, std::vector<std::string>& words)
{
    if (!line || strlen(line) > kMaxParsedLine)
        return false;
    bool between = true;
    bool inQuote = false;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0;; ++i) {
        char c = line[i];
        if (c == '\0') {
            if (!between)
                words.emplace_back(line + start, i - start);
            break;
        }
        if (inQuote) {
            if (c == '"') {
                words.emplace_back(line + start, i + 1 - start);
                inQuote = false;
                between = true;
            }
            continue;
        }
        if (depth > 0) {
            if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                words.emplace_back(line + start, i + 1 - start);
                between = true;
            }
            continue;
        }
        // Outside quotes and parentheses. A quote or an opening parenthesis starts a word
        // there, even in the middle of a plain word (whose bytes so far are dropped).
        if (c == '"') {
            start = i;
            inQuote = true;
            between = false;
        } else if (c == '(') {
            start = i;
            depth = 1;
            between = false;
        } else if (c == ' ') {
            if (!between) {
                words.emplace_back(line + start, i - start);
                between = true;
            }
        } else if (between) {
            start = i;
            between = false;
        }
    }
    return true;
}

void CPop3TranCommand::Extract(const char* source, char* dest, long start, long end)
{
    if (!dest) {
        fprintf(stderr, "%s\n", fetchling_text::kExtractDestError);
        return;
    }
    if (end <= start) {
        dest[0] = '\0';
        return;
    }
    if (!source || start < 0) {
        fprintf(stderr, "%s\n", fetchling_text::kExtractCopyError);
        dest[0] = '\0';
        return;
    }
    memcpy(dest, source + start, static_cast<size_t>(end - start));
    dest[end - start] = '\0';
}
