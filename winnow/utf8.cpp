#include "winnow/utf8.h"

namespace winnow {

void AppendUtf8(uint32_t code, std::string& out)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

uint32_t DecodeUtf8(std::string_view text, size_t at, size_t* length)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    *length = 1;
    if (first < 0x80)
        return first;
    size_t need = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if ((first & 0xE0) == 0xC0) {
        need = 1, code = first & 0x1F, least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        need = 2, code = first & 0x0F, least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        need = 3, code = first & 0x07, least = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (text.size() - at <= need)
        return 0xFFFD;
    for (size_t i = 1; i <= need; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0xFFFD;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms and surrogates are malformed, not other spellings of a character.
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0xFFFD;
    *length = need + 1;
    return code;
}

bool IsUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        size_t length = 0;
        if (DecodeUtf8(text, i, &length) == 0xFFFD && !(length == 3 && text.compare(i, 3, "\xEF\xBF\xBD") == 0))
            return false;
        i += length;
    }
    return true;
}

std::string WellFormedUtf8(std::string_view text)
{
    if (IsUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size();) {
        size_t length = 0;
        AppendUtf8(DecodeUtf8(text, i, &length), out);
        i += length;
    }
    return out;
}

}  // namespace winnow
