#include "parsewick/mail_parser.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "components/toolwick/spam_util.h"

namespace {

// One source of lines: a memory text when text is not null, or else an open file.
struct LineSource {
    FILE* file;
    const char* text;

    long Read(char* line, long pos, long end) const
    {
        if (text)
            return CSpamUtil::GetLine(line, CMailParser::kLineSize, text, pos, end);
        if (file)
            return CSpamUtil::GetFileLine(line, CMailParser::kLineSize, file, pos, end);
        line[0] = '\0';
        return -1;
    }
};

constexpr int kNameSize = 91;  // a field name stands before a colon at position 90 at most

bool IsBoundaryLine(const char* line, const std::string& boundary)
{
    if (line[0] != '-' || line[1] != '-' || line[2] == '\0')
        return false;
    if (strncmp(line + 2, boundary.c_str(), boundary.size()) != 0)
        return false;
    // After the boundary only the closing "--" and blanks may follow. A longer boundary that
    // merely begins with this one (a nested part's "----=_Part_1AA" inside "----=_Part_1")
    // belongs to that part: splitting there would tear the nested part apart.
    const char* rest = line + 2 + boundary.size();
    if (rest[0] == '-' && rest[1] == '-')
        rest += 2;
    while (*rest == ' ' || *rest == '\t')
        ++rest;
    return *rest == '\0';
}

void CopyRange(char* dst, const char* src, int from, int to)
{
    int n = to - from + 1;
    if (n < 0)
        n = 0;
    memcpy(dst, src + from, static_cast<size_t>(n));
    dst[n] = '\0';
}

CMimeMessage* Build(const LineSource& src, long start, long end, bool loadBody, int depth)
{
    CMailHeader header;
    long body = CMailParser::CheckHeader(src.file, src.text, static_cast<int>(start), static_cast<int>(end), header);

    // Past the depth limit a multipart part is kept whole as a leaf: nothing is lost, and
    // the recursion stays bounded whatever the message.
    if (!header.IsMultiPart() || depth >= CMailParser::kMaxDepth) {
        CMimeMessage* node = new CMimeMessage(false);
        node->SetHeader(std::move(header));
        if (loadBody && body >= 0 && body < end)
            node->SetMesgContent(src.file, src.text, body, end - body);
        return node;
    }

    CMimeMessage* node = new CMimeMessage(true);
    std::string boundary = header.GetBoundary();
    node->SetHeader(std::move(header));
    if (boundary.empty())
        return node;

    char line[CMailParser::kLineSize];
    bool seenFirst = false;
    long partStart = 0;
    for (long pos = body; pos >= 0;) {
        long next = src.Read(line, pos, end);
        if (next < 0)
            break;
        if (IsBoundaryLine(line, boundary)) {
            if (!seenFirst) {
                seenFirst = true;
                if (loadBody)
                    node->SetMesgContent(src.file, src.text, body, pos - body);
            } else {
                node->AddList(Build(src, partStart, pos, true, depth + 1));
            }
            partStart = next;
        }
        pos = next;
    }
    return node;
}

// Appends n bytes at p and advances it.
inline void Put(char*& p, const char* data, size_t n)
{
    memcpy(p, data, n);
    p += n;
}

}  // namespace

CMimeMessage* CMailParser::ParsingMail(const char* text, bool loadBody)
{
    const char* t = text ? text : "";
    CMimeMessage* root = Build(LineSource{nullptr, t}, 0, static_cast<long>(strlen(t)), loadBody, 0);
    root->SetHasBody(loadBody);
    return root;
}

CMimeMessage* CMailParser::ParsingMailFromFile(FILE* file, int size, bool loadBody)
{
    if (!file)
        return nullptr;
    CMimeMessage* root = Build(LineSource{file, nullptr}, 0, size < 0 ? 0 : size, loadBody, 0);
    root->SetHasBody(loadBody);
    return root;
}

CMimeMessage* CMailParser::ParsingMailRecursive(FILE* file, const char* text, int start, int end, bool loadBody)
{
    return Build(LineSource{text ? nullptr : file, text}, start, end, loadBody, 0);
}

int CMailParser::CheckHeader(FILE* file, const char* text, int pos, int end, CMailHeader& header)
{
    if (pos == end)
        return -1;
    LineSource src{text ? nullptr : file, text};
    char line[kLineSize];
    char name[kNameSize];
    char value[kLineSize];
    char pendingName[kLineSize];
    pendingName[0] = '\0';
    std::string pending;

    long result = pos;
    for (;;) {
        result = src.Read(line, result, end);
        if (result < 0 || line[0] == '\0')
            break;
        header.AddHeaderSrc(line);
        value[0] = '\0';
        if (ParsingHeader(line, name, value)) {
            if (!pending.empty())
                header.BranchHeader(pendingName, pending.data());
            pending = value;
            CSpamUtil::STRNCPY(pendingName, name, kLineSize);
        } else {
            // Continuation lines unfold with no separator: "a,\r\n b" becomes "a,b".
            pending += value;
        }
    }
    if (!pending.empty())
        header.BranchHeader(pendingName, pending.data());
    return static_cast<int>(result);
}

bool CMailParser::ParsingHeader(const char* line, char* name, char* value)
{
    if (!line)
        return false;
    int len = static_cast<int>(strlen(line));
    if (len == 0)
        return false;
    if (line[0] == ' ' || line[0] == '\t') {
        CopyRange(value, line, LeftTrimPos(line, 0, len), RightTrimPos(line, 0, len));
        return false;
    }
    const char* colonAt = static_cast<const char*>(memchr(line, ':', static_cast<size_t>(len)));
    if (!colonAt)
        return false;
    int colon = static_cast<int>(colonAt - line);
    if (colon > 90)
        return false;
    CopyRange(name, line, LeftTrimPos(line, 0, colon), RightTrimPos(line, 0, colon));
    if (colon + 1 == len)
        return true;
    CopyRange(value, line, LeftTrimPos(line, colon + 1, len), RightTrimPos(line, colon + 1, len));
    return true;
}

int CMailParser::LeftTrimPos(const char* s, int from, int to)
{
    for (int i = from; i < to; ++i)
        if (s[i] != ' ' && s[i] != '\t')
            return i;
    return from;
}

int CMailParser::RightTrimPos(const char* s, int from, int to)
{
    for (int i = to - 1; i > from; --i)
        if (s[i] != ' ' && s[i] != '\t')
            return i;
    return to - 1;
}

long CMailParser::GetMimeTotalLength(CMimeMessage* node, const char* boundary)
{
    if (!node)
        return 0;
    long blen = boundary ? static_cast<long>(strlen(boundary)) : 0;
    long total = node->GetHeader()->GetHeaderSize() + node->GetContentSize() + blen + 100;
    if (node->IsMultiPart()) {
        for (int i = 0; i < node->GetListSize(); ++i) {
            CMimeMessage* child = node->GetChild(i);
            total += GetMimeTotalLength(child, child->GetHeader()->GetBoundary());
            // The boundary line after each child ("--", boundary, "--", CR LF at most): a
            // long boundary would not fit in the child's own spare bytes.
            total += blen + 6;
        }
    }
    return total;
}

int CMailParser::GetMimeTotalMesg(CMimeMessage* node, char* out, const char* boundary)
{
    if (!node || !out)
        return 0;
    char* p = out;
    for (const std::string& line : *node->GetHeader()->GetHeaderSrc()) {
        Put(p, line.data(), line.size());
        Put(p, "\r\n", 2);
    }
    Put(p, "\r\n", 2);
    if (const char* content = node->GetContent())
        Put(p, content, strlen(content));
    if (!node->IsMultiPart())
        return static_cast<int>(p - out);

    size_t blen = boundary ? strlen(boundary) : 0;
    if (blen > 0) {
        Put(p, "--", 2);
        Put(p, boundary, blen);
        Put(p, "\r\n", 2);
    }
    int count = node->GetListSize();
    for (int i = 0; i < count; ++i) {
        CMimeMessage* child = node->GetChild(i);
        p += GetMimeTotalMesg(child, p, child->GetHeader()->GetBoundary());
        if (blen > 0) {
            Put(p, "--", 2);
            Put(p, boundary, blen);
            if (i == count - 1)
                Put(p, "--", 2);
            Put(p, "\r\n", 2);
        }
    }
    return static_cast<int>(p - out);
}

char* CMailParser::MimeToMailSrc(CMimeMessage* node)
{
    if (!node)
        return nullptr;
    std::string boundary = node->GetHeader()->GetBoundary();
    long size = GetMimeTotalLength(node, boundary.c_str());
    char* out = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
    if (!out)
        return nullptr;
    int written = GetMimeTotalMesg(node, out, boundary.c_str());
    out[written] = '\0';
    return out;
}
