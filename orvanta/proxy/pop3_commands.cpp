#include "orvanta/proxy/pop3_commands.h"

#include <cstdlib>
#include <strings.h>

namespace pop3proxy {

std::vector<std::string> SplitWords(std::string_view line, char separator)
{
    std::vector<std::string> words;
    if (line.empty() || line.size() >= 500)
        return words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == separator)
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != separator)
            ++i;
        if (i > start)
            words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

bool StartsWithNoCase(std::string_view line, std::string_view prefix)
{
    return line.size() >= prefix.size() && strncasecmp(line.data(), prefix.data(), prefix.size()) == 0;
}

bool ParseLoginLine(std::string_view line, LoginTarget* target)
{
    std::vector<std::string> words = SplitWords(line);
    if (words.size() < 2 || strcasecmp(words[0].c_str(), "USER") != 0)
        return false;
    std::vector<std::string> pieces = SplitWords(words[1], '#');
    if (pieces.size() < 2)
        return false;
    if (pieces[0].size() > kMaxLoginPiece || pieces[1].size() > kMaxLoginPiece)
        return false;
    target->user = pieces[0];
    target->server = pieces[1];
    target->port = pieces.size() >= 3 ? std::atoi(pieces[2].c_str()) : 110;
    return true;
}

bool IsCapaLine(std::string_view line)
{
    std::vector<std::string> words = SplitWords(line);
    return words.size() == 1 && strcasecmp(words[0].c_str(), "CAPA") == 0;
}

const char* ReplyBeforeLogin(std::string_view line)
{
    if (IsCapaLine(line))
        return kCapaReply;
    std::vector<std::string> words = SplitWords(line);
    if (words.empty())
        return nullptr;
    if (strcasecmp(words[0].c_str(), "AUTH") == 0)
        return kRefusedReply;
    if (words.size() == 1 && strcasecmp(words[0].c_str(), "STLS") == 0)
        return kRefusedReply;
    return nullptr;
}

CommandAction TranslateCommand(std::string_view line, const ProxyMesgList& list)
{
    CommandAction action;
    action.text = std::string(line);
    if (line.size() < 4)
        return action;

    if (StartsWithNoCase(line, "PASS")) {
        action.kind = CommandAction::Pass;
        return action;
    }
    if (StartsWithNoCase(line, "QUIT")) {
        action.kind = CommandAction::Quit;
        return action;
    }
    if (StartsWithNoCase(line, "STAT")) {
        long long total = 0;
        for (const PROXY_MESG& m : list)
            total += m.size;
        action.kind = CommandAction::Reply;
        action.replyLines.push_back("+OK " + std::to_string(list.size()) + " " + std::to_string(total));
        return action;
    }
    if (line.size() == 4 && (StartsWithNoCase(line, "LIST") || StartsWithNoCase(line, "UIDL"))) {
        bool listing = StartsWithNoCase(line, "LIST");
        action.kind = CommandAction::Reply;
        action.replyLines.push_back("+OK");
        for (size_t i = 0; i < list.size(); ++i)
            action.replyLines.push_back(std::to_string(i + 1) + " " +
                                        (listing ? std::to_string(list[i].size) : std::string(list[i].uid)));
        action.replyLines.push_back(".");
        return action;
    }
    if (StartsWithNoCase(line, "LIST") || StartsWithNoCase(line, "UIDL") || StartsWithNoCase(line, "DELE") ||
        StartsWithNoCase(line, "RETR")) {
        std::vector<std::string> words = SplitWords(line);
        if (words.size() >= 2)
            action.text = words[0] + " " + std::to_string(ServerNumber(list, std::atoi(words[1].c_str())));
        return action;
    }
    if (StartsWithNoCase(line, "TOP")) {
        std::vector<std::string> words = SplitWords(line);
        if (words.size() >= 2) {
            int n = std::atoi(words[1].c_str());
            int m = words.size() >= 3 ? std::atoi(words[2].c_str()) : -1;
            action.text = words[0] + " " + std::to_string(ServerNumber(list, n));
            if (m >= 0)
                action.text += " " + std::to_string(m);
        }
        return action;
    }
    return action;
}

void CapaReplyFilter::Pass(std::string_view bytes, std::string& out)
{
    while (!bytes.empty()) {
        if (state_ == State::Idle) {
            if (expected_ == 0) {
                out.append(bytes);
                return;
            }
            --expected_;
            state_ = State::Status;
        }
        size_t end = bytes.find('\n');
        size_t take = end == std::string_view::npos ? bytes.size() : end + 1;
        line_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (end != std::string_view::npos)
            Line(out);
    }
}

void CapaReplyFilter::Line(std::string& out)
{
    std::string_view line(line_);
    std::string_view bare = line.substr(0, line.find_last_not_of("\r\n") + 1);
    if (state_ == State::Status) {
        // "-ERR" is the whole answer; "+OK" is followed by the capabilities and ".".
        state_ = StartsWithNoCase(bare, "+OK") ? State::Capabilities : State::Idle;
        out.append(line);
    } else if (bare == ".") {
        state_ = State::Idle;
        out.append(line);
    } else {
        std::vector<std::string> words = SplitWords(bare);
        if (!(words.size() == 1 && strcasecmp(words[0].c_str(), "PIPELINING") == 0))
            out.append(line);
    }
    line_.clear();
}

void CapaReplyFilter::Finish(std::string& out)
{
    out.append(line_);
    line_.clear();
    state_ = State::Idle;
}

}  // namespace pop3proxy
