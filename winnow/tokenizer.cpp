#include "winnow/tokenizer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "parsewick/parsewick.h"
#include "platform/codepage.h"
#include "winnow/html_text.h"
#include "winnow/utf8.h"

namespace winnow {
namespace {

std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Bytes in a named character set as UTF-8. A set iconv does not know, or none, is guessed:
// UTF-8 when the bytes are, else CP949.
std::string ToUtf8(std::string_view bytes, const std::string& charset)
{
    // Plain ASCII reads the same in every character set but the 16- and 32-bit ones, UTF-7 and
    // the ISO-2022 family (which switches with ESC); most mail is, and iconv is not free.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != 0x1B; });
    if (ascii) {
        const std::string name = LowerAscii(charset);
        if (name.find("utf-16") == std::string::npos && name.find("utf-32") == std::string::npos &&
            name.find("utf-7") == std::string::npos && name.find("ucs") == std::string::npos)
            return std::string(bytes);
    }
    std::string out;
    // iconv's UTF-8 lets through what is no longer UTF-8 (code points beyond U+10FFFF).
    if (!charset.empty() && platform::CharsetToUtf8(bytes, charset, &out))
        return WellFormedUtf8(out);
    if (IsUtf8(bytes))
        return std::string(bytes);
    return platform::Cp949ToUtf8(bytes);
}

// A token of raw header bytes, which need not be text in any character set nor short: lower
// case, at most 100 bytes of it, as UTF-8.
std::string RawToken(std::string_view raw) { return ToUtf8(LowerAscii(raw.substr(0, 100)), ""); }

// Scripts written without spaces between all their words: their runs give character pairs.
bool IsRunScript(uint32_t c)
{
    return (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3131 && c <= 0x318E) ||
           (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF);
}

// A non-ASCII character that belongs inside a word (letters of the other alphabets), rather
// than the spaces, punctuation and symbols of the general and CJK punctuation blocks.
bool IsWordLetter(uint32_t c)
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (c < 0xC0 || c == 0xD7 || c == 0xF7 || c == 0xFFFD)
        return false;
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE6F) ||
        (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xE000 && c <= 0xF8FF))
        return false;
    return true;
}

// Punctuation kept inside a word when a letter follows: addresses, host names, prices.
bool IsInnerMark(uint32_t c) { return c == '.' || c == '-' || c == '_' || c == '@' || c == '\'' || c == ','; }

void EmitWord(std::string& word, size_t letters, bool hasAlpha, std::string_view prefix, std::vector<std::string>& out)
{
    if (!word.empty() && hasAlpha && letters >= 2 && (word.size() >= 3 || letters < word.size())) {
        if (word.size() > CTokenizer::kMaxWordBytes) {
            size_t first = 1;  // the whole first character
            DecodeUtf8(word, 0, &first);
            out.push_back(std::string(prefix) + "skip:" + word.substr(0, first) + ":" +
                          std::to_string(word.size() / 10));
        } else {
            out.push_back(std::string(prefix) + word);
        }
    }
    word.clear();
}

void EmitRun(std::vector<uint32_t>& run, std::string_view prefix, std::vector<std::string>& out)
{
    if (run.size() == 1) {
        std::string token(prefix);
        AppendUtf8(run[0], token);
        out.push_back(std::move(token));
    }
    for (size_t i = 0; i + 1 < run.size(); ++i) {
        std::string token(prefix);
        AppendUtf8(run[i], token);
        AppendUtf8(run[i + 1], token);
        out.push_back(std::move(token));
    }
    run.clear();
}

// The hosts of the URLs written out in plain text.
void TextHosts(std::string_view text, std::vector<std::string>& out)
{
    for (size_t at = text.find("://"); at != std::string_view::npos; at = text.find("://", at + 3)) {
        size_t start = at;
        while (start > 0 && start + 8 > at && std::isalpha(static_cast<unsigned char>(text[start - 1])))
            --start;
        std::string host = UrlHost(text.substr(start, std::min<size_t>(text.size() - start, 300)));
        if (!host.empty())
            out.push_back("url:" + host);
    }
}

void HtmlHosts(const std::vector<std::string>& hosts, std::vector<std::string>& out)
{
    for (const std::string& host : hosts) {
        out.push_back("url:" + host);
        // The registered part too: a spammer's thousand subdomains share it.
        size_t last = host.rfind('.');
        size_t second = last == std::string::npos || last == 0 ? std::string::npos : host.rfind('.', last - 1);
        if (second != std::string::npos)
            out.push_back("url:" + host.substr(second + 1));
    }
}

// The unfolded fields of a header block, names lower-cased.
std::vector<std::pair<std::string, std::string>> Fields(CMailHeader& header)
{
    std::vector<std::pair<std::string, std::string>> fields;
    for (const std::string& line : *header.GetHeaderSrc()) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (!fields.empty())
                fields.back().second.append(" ").append(line, 1);
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || colon > 90)
            continue;
        fields.emplace_back(LowerAscii(std::string_view(line).substr(0, colon)), line.substr(colon + 1));
    }
    return fields;
}

// Fields whose words are weighed, each under its own prefix.
bool IsWordField(const std::string& name)
{
    static const std::unordered_set<std::string> kFields = {
        "subject",           "from",        "to",           "cc",
        "reply-to",          "return-path", "sender",       "x-mailer",
        "user-agent",        "received",    "list-id",      "organization",
        "x-priority",        "precedence",  "content-type", "errors-to",
        "x-msmail-priority", "importance",  "mime-version", "content-transfer-encoding"};
    return kFields.count(name) > 0;
}

bool IsAddressField(const std::string& name)
{
    return name == "from" || name == "to" || name == "cc" || name == "reply-to" || name == "return-path" ||
           name == "sender";
}

void HeaderTokens(CMailHeader& header, std::vector<std::string>& out)
{
    for (auto& [name, value] : Fields(header)) {
        // Field names tell mailers apart; the marks a filter of the sender or the collector
        // left behind tell nothing about the message.
        if (name.rfind("x-spam", 0) != 0)
            out.push_back("header:" + RawToken(name));
        if (name == "message-id") {
            size_t at = value.rfind('@');
            if (at != std::string::npos)
                out.push_back("message-id:@" + RawToken(value.substr(at + 1, value.find('>', at) - at - 1)));
            continue;
        }
        if (!IsWordField(name))
            continue;
        const size_t first = out.size();
        CTokenizer::SplitWords(CTokenizer::DecodeHeaderText(value), name + ":", out);
        if (IsAddressField(name)) {
            for (size_t i = first, end = out.size(); i < end; ++i) {
                size_t at = out[i].find('@', name.size() + 1);
                if (at != std::string::npos)
                    out.push_back(name + ":@" + out[i].substr(at + 1));
            }
        }
    }
    if (std::string(header.GetSubject()).find_first_not_of(" \t") == std::string::npos)
        out.push_back("subject:(none)");
}

// A part's file name: the Content-Type's "name", else the Content-Disposition's "filename".
std::string PartFileName(CMailHeader& header)
{
    std::string name = header.GetFileName();
    if (!name.empty())
        return name;
    std::string disposition = header.GetHeader("content-disposition");
    std::string lower = LowerAscii(disposition);
    size_t at = lower.find("filename=");
    if (at == std::string::npos)
        return "";
    size_t start = at + 9;
    if (start < disposition.size() && disposition[start] == '"')
        return disposition.substr(start + 1, disposition.find('"', start + 1) - start - 1);
    return disposition.substr(start, disposition.find_first_of("; \t", start) - start);
}

std::string DecodedContent(CMimeMessage& part)
{
    const char* content = part.GetContent();
    if (!content)
        return "";
    std::string raw(content);
    std::string encoding = LowerAscii(part.GetHeader()->GetEncoding());
    if (encoding.find("quoted-printable") != std::string::npos) {
        // Soft line breaks join the two halves of a word.
        std::string joined;
        joined.reserve(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '=' && raw.compare(i + 1, 2, "\r\n") == 0) {
                i += 2;
                continue;
            }
            if (raw[i] == '=' && i + 1 < raw.size() && raw[i + 1] == '\n') {
                i += 1;
                continue;
            }
            joined.push_back(raw[i]);
        }
        std::string out(joined.size() + 1, '\0');
        out.resize(static_cast<size_t>(
            CQuotedPrintable::Decode(joined.c_str(), static_cast<int>(joined.size()) - 1, out.data())));
        return out;
    }
    if (encoding.find("base64") != std::string::npos) {
        std::string out(raw.size() + 1, '\0');
        out.resize(static_cast<size_t>(CBase64::Decode(raw.c_str(), static_cast<int>(raw.size()), out.data())));
        return out;
    }
    return raw;
}

class PartWalker {
public:
    explicit PartWalker(std::vector<std::string>& out) : out_(out) {}

    void Walk(CMimeMessage& node, int depth)
    {
        CMailHeader& header = *node.GetHeader();
        std::string type = RawToken(header.GetContentType());
        if (node.IsMultiPart() && depth < CMailParser::kMaxDepth) {
            out_.push_back("type:" + type);
            for (int i = 0; i < node.GetListSize(); ++i)
                if (CMimeMessage* child = node.GetChild(i))
                    Walk(*child, depth + 1);
            return;
        }
        std::string file = PartFileName(header);
        if (!file.empty()) {
            out_.push_back("type:" + type);
            std::string name = CTokenizer::DecodeHeaderText(file);
            CTokenizer::SplitWords(name, "attach:", out_);
            size_t dot = name.rfind('.');
            if (dot != std::string::npos && name.size() - dot <= 6)
                out_.push_back("attach:" + LowerAscii(name.substr(dot)));
            return;
        }
        if (!type.empty() && type.rfind("text/", 0) != 0) {
            out_.push_back("type:" + type);
            return;
        }
        if (budget_ == 0)
            return;
        std::string bytes = DecodedContent(node);
        if (bytes.size() > budget_)
            bytes.resize(budget_);
        budget_ -= bytes.size();
        std::string text = ToUtf8(bytes, header.GetCharSet());
        const bool html = type == "text/html" ||
                          (type.empty() && LowerAscii(text.substr(0, 2048)).find("<html") != std::string::npos);
        if (html) {
            out_.push_back("type:text/html");
            HtmlText reduced = ReduceHtml(text);
            HtmlHosts(reduced.hosts, out_);
            text = std::move(reduced.text);
        }
        TextHosts(text, out_);
        CTokenizer::SplitWords(text, "", out_);
    }

private:
    std::vector<std::string>& out_;
    size_t budget_ = CTokenizer::kMaxTextBytes;
};

}  // namespace

void CTokenizer::SplitWords(std::string_view text, std::string_view prefix, std::vector<std::string>& out)
{
    std::string word;
    size_t letters = 0;
    bool hasAlpha = false;
    std::vector<uint32_t> run;
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        uint32_t c = DecodeUtf8(text, i, &length);
        i += length;
        if (IsRunScript(c)) {
            EmitWord(word, letters, hasAlpha, prefix, out);
            letters = 0, hasAlpha = false;
            run.push_back(c);
            continue;
        }
        if (!run.empty())
            EmitRun(run, prefix, out);
        if (IsWordLetter(c) || (c == '$' && word.empty())) {
            if (c >= 'A' && c <= 'Z')
                c = c - 'A' + 'a';
            if (!(c >= '0' && c <= '9') && c != '$')
                hasAlpha = true;
            AppendUtf8(c, word);
            ++letters;
            continue;
        }
        if (IsInnerMark(c) && !word.empty() && i < text.size()) {
            size_t nextLength = 1;
            if (IsWordLetter(DecodeUtf8(text, i, &nextLength))) {
                word.push_back(static_cast<char>(c));
                continue;
            }
        }
        EmitWord(word, letters, hasAlpha, prefix, out);
        letters = 0, hasAlpha = false;
    }
    if (!run.empty())
        EmitRun(run, prefix, out);
    EmitWord(word, letters, hasAlpha, prefix, out);
}

std::string CTokenizer::DecodeHeaderText(std::string_view value)
{
    std::string out;
    std::string plain;  // text outside encoded words, converted when it ends
    bool lastEncoded = false;
    const auto flushPlain = [&] {
        if (!plain.empty())
            out += ToUtf8(plain, "");
        plain.clear();
    };
    size_t i = 0;
    while (i < value.size()) {
        size_t start = value.find("=?", i);
        if (start == std::string_view::npos)
            break;
        size_t q1 = value.find('?', start + 2);
        size_t q2 = q1 == std::string_view::npos ? q1 : value.find('?', q1 + 1);
        size_t end = q2 == std::string_view::npos ? q2 : value.find("?=", q2 + 1);
        if (end == std::string_view::npos || q2 != q1 + 2) {
            plain.append(value.substr(i, start + 2 - i));
            i = start + 2;
            lastEncoded = false;
            continue;
        }
        std::string_view between = value.substr(i, start - i);
        // Blanks between two encoded words are no part of the text.
        if (!(lastEncoded && between.find_first_not_of(" \t\r\n") == std::string_view::npos))
            plain.append(between);
        flushPlain();
        std::string charset(value.substr(start + 2, q1 - start - 2));
        size_t star = charset.find('*');  // RFC 2231 language suffix
        if (star != std::string::npos)
            charset.resize(star);
        const char how = value[q1 + 1];
        std::string data(value.substr(q2 + 1, end - q2 - 1));
        std::string bytes(data.size() + 1, '\0');
        if (how == 'B' || how == 'b') {
            bytes.resize(
                static_cast<size_t>(CBase64::Decode(data.c_str(), static_cast<int>(data.size()), bytes.data())));
        } else {
            for (char& c : data)
                if (c == '_')
                    c = ' ';
            bytes.resize(static_cast<size_t>(
                CQuotedPrintable::Decode(data.c_str(), static_cast<int>(data.size()) - 1, bytes.data())));
        }
        out += ToUtf8(bytes, charset);
        i = end + 2;
        lastEncoded = true;
    }
    plain.append(value.substr(std::min(i, value.size())));
    flushPlain();
    return out;
}

std::vector<std::string> CTokenizer::Tokenize(std::string_view message)
{
    // The parser reads a terminated text and stops at a zero byte; a zero byte in the middle of
    // a message would cut it there, so they become blanks.
    std::string text(message.substr(0, std::min(message.size(), kMaxMessageBytes)));
    std::replace(text.begin(), text.end(), '\0', ' ');
    std::unique_ptr<CMimeMessage> root(CMailParser::ParsingMail(text.c_str(), true));
    std::vector<std::string> tokens;
    if (!root)
        return tokens;
    HeaderTokens(*root->GetHeader(), tokens);
    PartWalker(tokens).Walk(*root, 0);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

}  // namespace winnow
