#include "parsewick/mail_header.h"

#include <cstring>
#include <strings.h>

#include "components/toolwick/spam_util.h"
#include "parsewick/base64.h"
#include "parsewick/quoted_printable.h"

namespace {

char kEmpty[] = "";

char* TextOf(std::string& s) { return s.empty() ? kEmpty : s.data(); }

// Appends up to n bytes of piece to the output area, never past its last byte.
void AppendBounded(char* dst, long& len, long size, const char* piece, long n)
{
    long room = size - 1 - len;
    if (n > room)
        n = room;
    if (n <= 0)
        return;
    memcpy(dst + len, piece, static_cast<size_t>(n));
    len += n;
}

bool IsNameTrim(char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; }

// Trims blanks, tabs and both kinds of quotes from [from, to] (inclusive). The trailing scan
// does not test position `from` itself: when nothing else is found from a side, that side
// stays where it was.
void TrimName(const char* s, long& from, long& to)
{
    long start = from;
    for (long i = from; i <= to; ++i) {
        if (!IsNameTrim(s[i])) {
            start = i;
            break;
        }
    }
    long end = to;
    for (long i = to; i > from; --i) {
        if (!IsNameTrim(s[i])) {
            end = i;
            break;
        }
    }
    from = start;
    to = end;
}

}  // namespace

CMailHeader::CMailHeader()
{
    m_date.SetStatus(COleDateTime::invalid);
    ClearHeader();
}

CMailHeader::~CMailHeader() = default;
CMailHeader::CMailHeader(const CMailHeader&) = default;
CMailHeader& CMailHeader::operator=(const CMailHeader&) = default;
CMailHeader::CMailHeader(CMailHeader&&) noexcept = default;
CMailHeader& CMailHeader::operator=(CMailHeader&&) noexcept = default;

void CMailHeader::ClearHeader() { m_encoding = "7bit"; }

void CMailHeader::AddHeaderSrc(const char* line) { m_headerSrc.emplace_back(line ? line : ""); }

void CMailHeader::BranchHeader(char* name, char* value)
{
    if (!name || !value)
        return;
    if (strcasecmp(name, "from") == 0)
        ParsingFrom(name, value);
    else if (strcasecmp(name, "to") == 0)
        ParsingTo(name, value);
    else if (strcasecmp(name, "sender") == 0)
        ParsingSender(name, value);
    else if (strcasecmp(name, "return-path") == 0)
        ParsingReturn_Path(name, value);
    else if (strcasecmp(name, "date") == 0)
        ParsingDate(name, value);
    else if (strcasecmp(name, "content-type") == 0)
        ParsingContent_Type(name, value);
    else if (strcasecmp(name, "subject") == 0)
        ParsingSubject(name, value);
    else if (strcasecmp(name, "content-transfer-encoding") == 0)
        ParsingTransEncoding(name, value);
    else if (strcasecmp(name, "message-id") == 0)
        ParsingMessageID(name, value);
    AddHeader(name, value);
}

void CMailHeader::AddHeader(char* name, const char* value)
{
    if (!name || !value)
        return;
    CSpamUtil::ToLower(name);
    std::string& entry = m_headers[name];
    // Repeated fields run together with no separator, as callers have always seen them.
    entry.append(value);
}

void CMailHeader::SetHeader(const char* name, const char* value) { m_headers[name ? name : ""] = value ? value : ""; }

char* CMailHeader::GetHeader(const char* name) { return TextOf(m_headers[name ? name : ""]); }

CMailHeader::HeaderMap CMailHeader::GetHeaderMap() const { return m_headers; }

CMailHeader::LineList* CMailHeader::GetHeaderSrc() { return &m_headerSrc; }

long CMailHeader::GetHeaderSize() const
{
    long size = 2;
    for (const std::string& line : m_headerSrc)
        size += static_cast<long>(line.size()) + 2;
    return size;
}

void CMailHeader::ParsingFrom(const char* name, const char* value)
{
    ParsingMailTag(name, value, m_fromName, m_fromMail);
}

void CMailHeader::ParsingTo(const char* name, const char* value) { ParsingMailTag(name, value, m_toName, m_toMail); }

void CMailHeader::ParsingSender(const char* name, const char* value)
{
    ParsingMailTag(name, value, m_senderName, m_senderMail);
}

void CMailHeader::ParsingReturn_Path(const char* name, const char* value)
{
    ParsingMailTag(name, value, m_returnPathName, m_returnPathMail);
}

void CMailHeader::ParsingMailTag(const char*, const char* value, std::string& outName, std::string& outMail)
{
    if (!value)
        return;
    long len = static_cast<long>(strlen(value));
    long mailStart = 0;
    long mailEnd = len - 1;
    long nameEnd = -1;
    bool bracket = false;
    for (long i = 0; i < len; ++i) {
        if (value[i] == '<') {
            bracket = true;
            mailStart = i + 1;
            nameEnd = i - 1;
        } else if (value[i] == '>') {
            mailEnd = i - 1;
        }
    }
    if (!bracket) {
        outMail.append(value, static_cast<size_t>(len));
        return;
    }
    // The display name goes through a fixed work area; a name that does not fit stores
    // neither name nor address.
    if (nameEnd >= kNameArea - 1)
        return;
    if (nameEnd >= 0) {
        long from = 0, to = nameEnd;
        TrimName(value, from, to);
        long nameLen = to - from + 1;
        char work[kNameArea];
        memcpy(work, value + from, static_cast<size_t>(nameLen));
        work[nameLen] = '\0';
        char decoded[kNameArea];
        if (CheckEncoding(work, decoded, sizeof decoded)) {
            decoded[nameLen] = '\0';  // never longer than the undecoded name
            memcpy(work, decoded, strlen(decoded) + 1);
        }
        long wlen = static_cast<long>(strlen(work));
        if (wlen > 0) {
            long f = 0, t = wlen - 1;
            TrimName(work, f, t);
            outName.append(work + f, static_cast<size_t>(t - f + 1));
        }
    }
    if (mailEnd + 1 <= len && mailEnd >= mailStart)
        outMail.append(value + mailStart, static_cast<size_t>(mailEnd - mailStart + 1));
}

void CMailHeader::ParsingDate(const char*, const char* value)
{
    if (!value)
        return;
    const char* comma = strchr(value, ',');
    const char* from = comma ? comma + 1 : value;
    const char* plus = strrchr(from, '+');
    // The byte before the zone sign (or the value's last byte) is dropped with it.
    long n = plus ? static_cast<long>(plus - from) - 1 : static_cast<long>(strlen(from)) - 1;
    if (n < 0)
        n = 0;
    char text[kDateArea];
    if (n > kDateArea - 1)
        n = kDateArea - 1;
    memcpy(text, from, static_cast<size_t>(n));
    text[n] = '\0';
    try {
        m_date.ParseDateTime(text, 0);
    } catch (...) {
        m_date.SetStatus(COleDateTime::invalid);
    }
}

void CMailHeader::ParsingContent_Type(const char*, const char* value)
{
    std::vector<std::string> pieces;
    GetToken(value, ';', pieces);
    char decoded[kDecodeArea];
    for (std::string& piece : pieces) {
        size_t eq = piece.find('=');
        if (eq == std::string::npos) {
            m_contentType["type"] = piece;
            continue;
        }
        std::string key = piece.substr(0, eq);
        std::string val = piece.substr(eq + 1);
        EraseBlank(key);
        EraseBlank(val);
        for (char& c : key)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        // The "type" parameter of multipart/related (RFC 2387) names the root part's type;
        // letting it replace the media type would turn multipart/related; type="text/html"
        // into a single text part.
        if (key == "type" && !m_contentType["type"].empty())
            continue;
        // A value with no encoded word is kept as it is: the decoder would only drop a
        // trailing '=', which corrupts boundaries such as "====_1234==".
        if (val.find("=?") != std::string::npos && CheckEncoding(val.c_str(), decoded, sizeof decoded))
            m_contentType[key] = decoded;
        else
            m_contentType[key] = val.substr(0, kDecodeArea - 1);
    }
}

void CMailHeader::ParsingSubject(const char*, const char* value)
{
    if (!value)
        return;
    char work[kDecodeArea];
    if (CheckEncoding(value, work, sizeof work))
        m_subject = work;
    else
        m_subject = value;
}

void CMailHeader::ParsingTransEncoding(const char*, const char* value)
{
    if (value)
        m_encoding = value;
}

void CMailHeader::ParsingMessageID(const char*, const char* value)
{
    if (value)
        m_messageID = value;
}

char* CMailHeader::GetFromName() { return TextOf(m_fromName); }
char* CMailHeader::GetFromMail() { return TextOf(m_fromMail); }
char* CMailHeader::GetToName() { return TextOf(m_toName); }
char* CMailHeader::GetToMail() { return TextOf(m_toMail); }
char* CMailHeader::GetSenderName() { return TextOf(m_senderName); }
char* CMailHeader::GetSenderMail() { return TextOf(m_senderMail); }
char* CMailHeader::GetReturnPathName() { return TextOf(m_returnPathName); }
char* CMailHeader::GetReturnPathMail() { return TextOf(m_returnPathMail); }
char* CMailHeader::GetSubject() { return TextOf(m_subject); }
char* CMailHeader::GetEncoding() { return TextOf(m_encoding); }
char* CMailHeader::GetMessageID() { return TextOf(m_messageID); }
char* CMailHeader::GetContentType() { return TextOf(m_contentType["type"]); }
char* CMailHeader::GetCharSet() { return TextOf(m_contentType["charset"]); }
char* CMailHeader::GetBoundary() { return TextOf(m_contentType["boundary"]); }
char* CMailHeader::GetDateHeader() { return TextOf(m_headers["date"]); }
char* CMailHeader::GetReplyTo() { return TextOf(m_headers["reply-to"]); }
char* CMailHeader::GetContentTypeHeader() { return TextOf(m_headers["content-type"]); }

COleDateTime CMailHeader::GetDate() const { return m_date; }

int CMailHeader::GetPriority() const { return 1; }

bool CMailHeader::IsMultiPart() { return strncmp(GetContentType(), "multipart", 9) == 0; }

bool CMailHeader::IsAttachFile() { return !m_contentType["name"].empty() || !m_contentType["filename"].empty(); }

char* CMailHeader::GetFileName()
{
    std::string& name = m_contentType["name"];
    if (!name.empty())
        return name.data();
    return TextOf(m_contentType["filename"]);
}

bool CMailHeader::CheckEncoding(const char* src, char* dst)
{
    if (!src)
        return false;
    return CheckEncoding(src, dst, static_cast<long>(strlen(src)) + 1);
}

bool CMailHeader::CheckEncoding(const char* src, char* dst, long dstSize)
{
    if (!src || !dst || dstSize < 1)
        return false;
    long len = static_cast<long>(strlen(src));
    if (len < 2)
        return false;

    long out = 0;
    bool inside = false;
    int delimiters = 0;      // '?' delimiters seen in the current word (restarts after two)
    bool haveToken = false;  // the encoding token has been read
    long partStart = 0;      // start of the charset, then of the token
    long textStart = 0;
    char charset[kCharsetArea];
    char token[kEncodingArea];
    token[0] = '\0';
    char word[kWordArea];

    for (long i = 0; i <= len - 2; ++i) {
        char c = src[i];
        char next = src[i + 1];
        if (!inside) {
            if (c == '=' && next == '?') {
                inside = true;
                delimiters = 0;
                haveToken = false;
                token[0] = '\0';
                partStart = i + 2;
                ++i;
            } else {
                AppendBounded(dst, out, dstSize, &c, 1);
            }
            continue;
        }
        if (c != '?')
            continue;
        // The '?' closing a one-byte encoding token is a delimiter even before an '=':
        // Q text often starts with an encoded byte ("=?utf-8?Q?=EC=95=88?=").
        bool tokenEnd = delimiters == 1 && i - partStart == 1 && (src[partStart] == 'q' || src[partStart] == 'Q');
        if (next == '=' && !tokenEnd) {
            if (haveToken) {
                long count = i - textStart;
                long produced = -1;
                if (strcasecmp(token, "b") == 0 || strcasecmp(token, "q") == 0) {
                    // One decoded word fits the word area; decode in place when it is small.
                    std::string big;
                    char* area = word;
                    if (count + 1 > static_cast<long>(sizeof word)) {
                        big.resize(static_cast<size_t>(count) + 1);
                        area = big.data();
                    }
                    if (token[0] == 'b' || token[0] == 'B')
                        produced = CBase64::Decode(src + textStart, static_cast<int>(count), area);
                    else
                        produced = CQuotedPrintable::Decode(src + textStart, static_cast<int>(count) - 1, area);
                    long n = static_cast<long>(strnlen(area, static_cast<size_t>(produced)));
                    if (n > kWordArea - 1)
                        n = kWordArea - 1;
                    AppendBounded(dst, out, dstSize, area, n);
                }
            }
            inside = false;
            ++i;
            continue;
        }
        ++delimiters;
        if (delimiters == 1) {
            // The charset is cut out into its area and not used further.
            long n = i - partStart;
            if (n > kCharsetArea - 1)
                n = kCharsetArea - 1;
            memcpy(charset, src + partStart, static_cast<size_t>(n));
            charset[n] = '\0';
            partStart = i + 1;
        } else {
            // Tokens longer than the area can never equal "b" or "q": keep them unequal.
            long n = i - partStart;
            if (n > kEncodingArea - 1) {
                token[0] = '\0';
            } else {
                memcpy(token, src + partStart, static_cast<size_t>(n));
                token[n] = '\0';
            }
            haveToken = true;
            textStart = i + 1;
            partStart = i + 1;
            delimiters = 0;
        }
    }
    if (src[len - 1] != '=')
        AppendBounded(dst, out, dstSize, src + len - 1, 1);
    dst[out] = '\0';
    return true;
}

void CMailHeader::EraseBlank(std::string& text)
{
    auto isBlank = [](char c) { return c == '"' || c == ' ' || c == '\t'; };
    size_t start = 0;
    while (start < text.size() && isBlank(text[start]))
        ++start;
    size_t end = text.size();
    while (end > start && isBlank(text[end - 1]))
        --end;
    text = text.substr(start, end - start);
}

void CMailHeader::GetToken(const char* src, char delimiter, std::vector<std::string>& out)
{
    if (!src)
        return;
    size_t len = strlen(src);
    if (len == 0 || len >= static_cast<size_t>(kContentTypeLimit))
        return;
    size_t start = 0;
    for (size_t i = 0; i <= len; ++i) {
        if (i == len || src[i] == delimiter) {
            if (i > start)
                out.emplace_back(src + start, i - start);
            start = i + 1;
        }
    }
}

char* CMailHeader::toStandardTagString()
{
    // "받는이 : " (recipient) and "보낸이 : " (sender) in CP949.
    static const char kTo[] = "\xb9\xde\xb4\xc2\xc0\xcc : ";
    static const char kFrom[] = "\xba\xb8\xb3\xbd\xc0\xcc : ";
    m_debugText.clear();
    m_debugText += kTo + m_toName + " <" + m_toMail + ">\n";
    m_debugText += kFrom + m_fromName + " <" + m_fromMail + ">\n";
    m_debugText += "Sender : " + m_senderName + " <" + m_senderMail + ">\n";
    m_debugText += "Return-path : " + m_returnPathName + " <" + m_returnPathMail + ">\n";
    m_debugText += "Content-Type : " + m_contentType["type"] + "\n";
    m_debugText += "Subject : " + m_subject + "\n";
    return m_debugText.data();
}

char* CMailHeader::toAllString()
{
    std::string text = toStandardTagString();
    for (const auto& [key, val] : m_contentType)
        text += "  " + key + " = " + val + "\n";
    for (const auto& [key, val] : m_headers)
        text += key + ": " + val + "\n";
    m_debugText = text;
    return m_debugText.data();
}
