#include "components/toolwick/spam_util.h"

#include <cstring>

void CSpamUtil::STRNCPY(char* dest, const char* src, long size)
{
    if (!dest || size < 1)
        return;
    if (!src) {
        dest[0] = '\0';
        return;
    }
    // strnlen: the source need not be terminated within the copied range.
    size_t n = strnlen(src, static_cast<size_t>(size - 1));
    memcpy(dest, src, n);
    dest[n] = '\0';
}

long CSpamUtil::STRNCPY(char* dest, const char* src, long count, long room)
{
    if (!dest || !src || count < 1 || room < 1)
        return 0;
    bool cut = count >= room;
    size_t limit = static_cast<size_t>(cut ? room - 1 : count);
    size_t len = strnlen(src, limit);
    memcpy(dest, src, len);
    if (len < limit || cut) {
        // Either the source ended inside the piece (its terminator belongs to the piece) or
        // the room ran out: terminate in both cases.
        dest[len] = '\0';
        return static_cast<long>(len + 1);
    }
    return static_cast<long>(len);
}

long CSpamUtil::CountChar(const char* text, char c)
{
    if (!text)
        return 0;
    long n = 0;
    for (; *text; ++text)
        if (*text == c)
            ++n;
    return n;
}

void CSpamUtil::AddSlashes(const char* src, char* dest)
{
    if (!dest)
        return;
    if (src) {
        for (; *src; ++src) {
            if (*src == '"')
                *dest++ = '\\';
            *dest++ = *src;
        }
    }
    *dest = '\0';
}

namespace {

// Appends one byte to the line when it still fits (size - 1 bytes of text at most).
inline void PutLineByte(char* line, long size, long& len, char c)
{
    if (len < size - 1)
        line[len++] = c;
}

}  // namespace

long CSpamUtil::GetLine(char* line, long size, const char* text, long pos, long end)
{
    if (line && size > 0)
        line[0] = '\0';
    if (!text || pos < 0 || pos >= end)
        return -1;

    const char* start = text + pos;
    const void* nl = memchr(start, '\n', static_cast<size_t>(end - pos));
    long lineEnd = nl ? static_cast<long>(static_cast<const char*>(nl) - text) : end;
    long next = nl ? lineEnd + 1 : end;
    long len = lineEnd - pos;
    if (nl && len > 0 && text[lineEnd - 1] == '\r')
        --len;

    if (line && size > 0) {
        long copy = len < size - 1 ? len : size - 1;
        memcpy(line, start, static_cast<size_t>(copy));
        line[copy] = '\0';
    }
    return next;
}

long CSpamUtil::GetFileLine(char* line, long size, FILE* file, long pos, long end)
{
    if (line && size > 0)
        line[0] = '\0';
    if (!file || pos < 0 || pos >= end)
        return -1;
    // Callers usually continue where the last line ended; seeking anyway would make stdio
    // drop and re-read its buffer for every line.
    if (ftell(file) != pos && fseek(file, pos, SEEK_SET) != 0)
        return -1;

    long len = 0;   // bytes stored in `line`
    long at = pos;  // file offset of the next byte
    bool pendingCR = false;
    bool any = false;
    while (at < end) {
        int c = getc(file);
        if (c == EOF)
            break;
        ++at;
        any = true;
        if (c == '\n') {
            pendingCR = false;  // the CR before LF belongs to the line end
            if (line && size > 0)
                line[len] = '\0';
            return at;
        }
        if (pendingCR && line && size > 0)
            PutLineByte(line, size, len, '\r');
        pendingCR = (c == '\r');
        if (!pendingCR && line && size > 0)
            PutLineByte(line, size, len, static_cast<char>(c));
    }
    if (!any)
        return -1;
    // A last line without a line end: a trailing CR is an ordinary byte here, as in GetLine.
    if (pendingCR && line && size > 0)
        PutLineByte(line, size, len, '\r');
    if (line && size > 0)
        line[len] = '\0';
    return at;
}

void CSpamUtil::ToLower(char*& text)
{
    if (!text)
        return;
    for (char* p = text; *p; ++p)
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
}
