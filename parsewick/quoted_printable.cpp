#include "parsewick/quoted_printable.h"

#include <cstring>

namespace {
const char kHexDigits[] = "0123456789ABCDEF";
}

bool CQuotedPrintable::Is16(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned char CQuotedPrintable::Get16Value(char c)
{
    if (c >= 'a' && c <= 'f')
        c = static_cast<char>(c - 'a' + 'A');
    const char* p = c ? strchr(kHexDigits, c) : nullptr;
    return p ? static_cast<unsigned char>(p - kHexDigits) : 0;
}

unsigned char CQuotedPrintable::Convert10(char hi, char lo)
{
    return static_cast<unsigned char>(Get16Value(hi) * 16 + Get16Value(lo));
}

int CQuotedPrintable::Decode(const char* src, int last, char* dst)
{
    int out = 0;
    for (int i = 0; i <= last; ++i) {
        char c = src[i];
        if (c == '=' && i <= last - 2) {
            if (Is16(src[i + 1]) && Is16(src[i + 2])) {
                dst[out++] = static_cast<char>(Convert10(src[i + 1], src[i + 2]));
                i += 2;
            }
            // Otherwise the '=' alone is dropped (a soft break keeps its CR LF).
            continue;
        }
        dst[out++] = c;
    }
    dst[out] = '\0';
    return out;
}

int CQuotedPrintable::Decode(const char* src, char* dst)
{
    return Decode(src, src ? static_cast<int>(strlen(src)) - 1 : -1, dst);
}

void CQuotedPrintable::Encode(const char*, char*) {}
