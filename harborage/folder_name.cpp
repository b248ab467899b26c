// Folder names: the clean-up of mailbox arguments and the conversion between CP949 text and
// modified UTF-7 (the IMAP form, which is also the directory name on disk).
#include "harborage/folder_store.h"

#include <cstring>
#include <vector>

#include "components/toolwick/spam_util.h"
#include "platform/codepage.h"

namespace {

// The Korean client's name for its inbox ("received mail box"), in its modified UTF-7 form.
constexpr char kKoreanInbox[] = "&vBvHQA- &07jJwNVo-";
constexpr size_t kKoreanInboxLength = sizeof kKoreanInbox - 1;  // 19

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

bool IsCp949Lead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

bool IsCp949Trail(unsigned char c)
{
    return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xFE);
}

}  // namespace

void CIMAPFolder::GetCorrectFolder(char*& text)
{
    if (text == nullptr)
        return;
    while (*text == '"')
        ++text;
    size_t len = std::strlen(text);
    while (len > 0 && text[len - 1] == '"')
        text[--len] = '\0';
    if (len >= 3 && text[0] == '~' && text[1] == '/') {
        text += 2;
        len -= 2;
    }
    if (std::strncmp(text, kKoreanInbox, kKoreanInboxLength) == 0) {
        std::memcpy(text, "inbox", 5);
        std::memmove(text + 5, text + kKoreanInboxLength, len - kKoreanInboxLength + 1);
    }
}

std::string CIMAPFolder::EncodeFolderName(std::string_view local)
{
    std::string out;
    size_t i = 0;
    while (i < local.size()) {
        unsigned char c = static_cast<unsigned char>(local[i]);
        if (IsPrintable(c)) {
            out += c == '&' ? "&-" : std::string(1, static_cast<char>(c));
            ++i;
            continue;
        }
        // A run of other bytes. A double-byte character stays whole even when its second byte
        // lies in the ASCII letter range (as in the extended Hangul syllables).
        size_t start = i;
        while (i < local.size()) {
            unsigned char b = static_cast<unsigned char>(local[i]);
            if (IsPrintable(b))
                break;
            if (IsCp949Lead(b) && i + 1 < local.size() && IsCp949Trail(static_cast<unsigned char>(local[i + 1])))
                i += 2;
            else
                i += 1;
        }
        std::u16string units = platform::Cp949ToUtf16(local.substr(start, i - start));
        std::vector<unsigned char> bytes;
        bytes.reserve(units.size() * 2);
        for (char16_t u : units) {
            bytes.push_back(static_cast<unsigned char>(u >> 8));
            bytes.push_back(static_cast<unsigned char>(u & 0xFF));
        }
        std::string encoded(bytes.size() * 4 / 3 + 4, '\0');
        int n = EncodeMBase64(bytes.data(), static_cast<int>(bytes.size()) - 1, encoded.data());
        encoded.resize(static_cast<size_t>(n));
        out += "&" + encoded + "-";
    }
    return out;
}

std::string CIMAPFolder::DecodeFolderName(std::string_view encoded)
{
    std::string out;
    size_t i = 0;
    while (i < encoded.size()) {
        char c = encoded[i];
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 == encoded.size()) {  // a lone "&" at the end stays
            out += '&';
            ++i;
            continue;
        }
        if (encoded[i + 1] == '-') {
            out += '&';
            i += 2;
            continue;
        }
        size_t dash = encoded.find('-', i + 1);
        size_t end = dash == std::string_view::npos ? encoded.size() : dash;
        std::string run(encoded.substr(i + 1, end - i - 1));
        std::vector<unsigned char> bytes(run.size() * 3 / 4 + 3);
        int n = DecodeMBase64(run.c_str(), static_cast<int>(run.size()), bytes.data());
        std::u16string units;
        for (int k = 0; k + 1 < n; k += 2)
            units += static_cast<char16_t>((bytes[k] << 8) | bytes[k + 1]);
        out += platform::Utf16ToCp949(units);
        i = dash == std::string_view::npos ? encoded.size() : dash + 1;
    }
    return out;
}

void CIMAPFolder::EncodingFolder(const char* local, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    CSpamUtil::STRNCPY(out, EncodeFolderName(local ? local : "").c_str(), static_cast<long>(outSize));
}

void CIMAPFolder::DecodingFolder(const char* encoded, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    CSpamUtil::STRNCPY(out, DecodeFolderName(encoded ? encoded : "").c_str(), static_cast<long>(outSize));
}

int CIMAPFolder::EncodeMBase64(const unsigned char* data, int lastIndex, char* out)
{
    if (data == nullptr || out == nullptr || lastIndex < 0)
        return 0;
    int length = lastIndex + 1, written = 0;
    for (int i = 0; i < length; i += 3) {
        int left = length - i;
        unsigned b0 = data[i], b1 = left > 1 ? data[i + 1] : 0, b2 = left > 2 ? data[i + 2] : 0;
        out[written++] = static_cast<char>(ValueToAscii(static_cast<unsigned char>(b0 >> 2)));
        out[written++] = static_cast<char>(ValueToAscii(static_cast<unsigned char>(((b0 & 0x03) << 4) | (b1 >> 4))));
        if (left > 1)
            out[written++] =
                static_cast<char>(ValueToAscii(static_cast<unsigned char>(((b1 & 0x0F) << 2) | (b2 >> 6))));
        if (left > 2)
            out[written++] = static_cast<char>(ValueToAscii(static_cast<unsigned char>(b2 & 0x3F)));
    }
    return written;
}

int CIMAPFolder::DecodeMBase64(const char* text, int length, unsigned char* out)
{
    if (text == nullptr || out == nullptr)
        return 0;
    int pos = 0, written = 0;
    for (;;) {
        unsigned char v0 = GetCorrectChar(text, pos, length);
        unsigned char v1 = GetCorrectChar(text, pos, length);
        if (v0 == 0xFF || v1 == 0xFF)
            break;
        out[written++] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
        unsigned char v2 = GetCorrectChar(text, pos, length);
        if (v2 == 0xFF)
            break;
        out[written++] = static_cast<unsigned char>(((v1 & 0x0F) << 4) | (v2 >> 2));
        unsigned char v3 = GetCorrectChar(text, pos, length);
        if (v3 == 0xFF)
            break;
        out[written++] = static_cast<unsigned char>(((v2 & 0x03) << 6) | v3);
    }
    return written;
}

unsigned char CIMAPFolder::ValueToAscii(unsigned char value)
{
    return value < 64 ? static_cast<unsigned char>(kAlphabet[value]) : 0xFF;
}

unsigned char CIMAPFolder::AsciiToValue(char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c - 'A');
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 'a' + 26);
    if (c >= '0' && c <= '9')
        return static_cast<unsigned char>(c - '0' + 52);
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return 0xFF;
}

unsigned char CIMAPFolder::GetCorrectChar(const char* text, int& pos, int length)
{
    while (text != nullptr && pos < length) {
        unsigned char v = AsciiToValue(text[pos++]);
        if (v != 0xFF)
            return v;
    }
    return 0xFF;
}
