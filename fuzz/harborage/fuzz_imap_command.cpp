// IMAP command lines as the session reads them: the split into tokens, the literal
// announcement at a line's end, and the arguments the commands take apart (sequence sets,
// flag lists, mailbox names), plus the ENVELOPE strings built from header values.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "harborage/folder_store.h"
#include "harborage/imap_mailbox_command.h"
#include "harborage/imap_message_command.h"
#include "harborage/imap_session.h"

namespace {

using Tokens = char[CIMAPSession::kTokenCount][CIMAPSession::kTokenSize];

void Argument(const char* token)
{
    std::vector<CIMAPMessageCommand::Range> ranges = CIMAPMessageCommand::ParseSequenceSet(token);
    for (const CIMAPMessageCommand::Range& r : ranges)
        if (r.first != -1 && r.second != -1 && r.first > r.second)
            abort();  // reversed ranges are dropped
    for (long n : {1L, 2L, 7L, 1000L, 2147483647L})
        (void)CIMAPMessageCommand::MatchesRange(ranges, n % 2 == 0, n, n + 1);

    std::string flags = token;
    if (flags.size() >= 2 && flags.front() == '(' && flags.back() == ')')
        flags = flags.substr(1, flags.size() - 2);
    (void)CIMAPMessageCommand::ParseFlagList(flags);

    std::string envelope = CIMAPMessageCommand::EnvelopeString(token);
    if (envelope != "NIL" && envelope[0] != '"' && envelope[0] != '{')
        abort();

    std::string mailbox = CIMAPMailboxCommand::TidyMailbox(token);
    if (mailbox.size() >= 300)
        abort();
    std::string encoded = CIMAPFolder::EncodeFolderName(mailbox);
    (void)CIMAPFolder::DecodeFolderName(encoded);
    (void)CIMAPFolder::DecodeFolderName(token);
}

void Line(const std::string& line, Tokens& tokens)
{
    size_t open = 0;
    int literal = CIMAPSession::AnnouncedLiteral(line, &open);
    if (literal > 999 || (literal >= 0 && (open >= line.size() || line[open] != '{')))
        abort();

    int count = CIMAPSession::SplitCommandLine(line.c_str(), tokens);
    if (count < 0 || count > 9)
        abort();
    for (int i = 0; i < count; ++i) {
        if (strnlen(tokens[i], CIMAPSession::kTokenSize) >= static_cast<size_t>(CIMAPSession::kTokenSize))
            abort();
        if (i >= 1)
            Argument(tokens[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tokens tokens;
    // Lines as the line reader hands them out: without LF and the CRs before it, NULs end the
    // text, and a line is read in pieces of the session's buffer.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        size_t lf = input.find('\n');
        std::string_view raw = input.substr(0, lf);
        input = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        while (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        std::string line(raw.substr(0, CIMAPSession::kLineSize - 1));
        line.resize(strlen(line.c_str()));
        Line(line, tokens);
    }
    return 0;
}
