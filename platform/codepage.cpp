#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace platform {
namespace {

// One iconv conversion, restarted after every byte the source encoding does not know.
// `badInput` is emitted (in the target encoding) in place of each unconvertible sequence.
using SkipFn = size_t (*)(const unsigned char* p, size_t left);

size_t SkipByte(const unsigned char*, size_t) { return 1; }

// A character the target cannot hold is replaced as a whole, not byte by byte.
size_t SkipUtf8(const unsigned char* p, size_t left)
{
    size_t n = 1;
    if (p[0] >= 0xF0)
        n = 4;
    else if (p[0] >= 0xE0)
        n = 3;
    else if (p[0] >= 0xC0)
        n = 2;
    for (size_t i = 1; i < n; ++i)
        if (i >= left || (p[i] & 0xC0) != 0x80)
            return i;
    return n;
}

size_t SkipUtf16le(const unsigned char* p, size_t left)
{
    if (left >= 4 && (p[1] & 0xFC) == 0xD8 && (p[3] & 0xFC) == 0xDC)
        return 4;
    return left < 2 ? left : 2;
}

// `known` (when given) tells whether iconv knows the pair at all.
std::string Convert(const char* to, const char* from, std::string_view input, std::string_view badInput, SkipFn skipFn,
                    bool* known = nullptr)
{
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (known)
        *known = cd != reinterpret_cast<iconv_t>(-1);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return out;
    if (input.empty()) {
        iconv_close(cd);
        return out;
    }

    std::vector<char> buffer(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (inLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer.data(), buffer.size() - dstLeft);
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (a sequence cut at the end): skip one source unit and mark it.
        out.append(badInput);
        size_t skip = skipFn(reinterpret_cast<const unsigned char*>(in), inLeft);
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state.
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer.data(), buffer.size() - dstLeft);
    iconv_close(cd);
    return out;
}

const char kReplacementUtf16le[] = {'\xFD', '\xFF'};

}  // namespace

std::u16string Cp949ToUtf16(std::string_view cp949)
{
    std::string bytes = Convert("UTF-16LE", "CP949", cp949, std::string_view(kReplacementUtf16le, 2), SkipByte);
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string Utf16ToCp949(std::u16string_view utf16)
{
    std::string bytes;
    bytes.reserve(utf16.size() * 2);
    for (char16_t c : utf16) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return Convert("CP949", "UTF-16LE", bytes, "?", SkipUtf16le);
}

std::string Cp949ToUtf8(std::string_view cp949) { return Convert("UTF-8", "CP949", cp949, "\xEF\xBF\xBD", SkipByte); }

std::string Utf8ToCp949(std::string_view utf8) { return Convert("CP949", "UTF-8", utf8, "?", SkipUtf8); }

bool CharsetToUtf8(std::string_view text, const std::string& charset, std::string* out)
{
    // The Korean names mails use for what iconv calls CP949 (its superset) resolve there, so a
    // message that says "ks_c_5601-1987" converts like one that says "euc-kr".
    std::string name = charset;
    for (char& c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name == "ks_c_5601-1987" || name == "euc-kr" || name == "x-windows-949" || name == "ks_c_5601")
        name = "CP949";
    bool known = false;
    std::string converted = Convert("UTF-8", name.c_str(), text, "\xEF\xBF\xBD", SkipByte, &known);
    if (!known)
        return false;
    *out = std::move(converted);
    return true;
}

}  // namespace platform
