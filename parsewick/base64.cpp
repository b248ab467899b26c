#include "parsewick/base64.h"

#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of every byte: 0..63 inside the alphabet, -1 outside. Built once at start-up.
struct DecodeTable {
    signed char value[256];
    DecodeTable()
    {
        memset(value, -1, sizeof value);
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
};
const DecodeTable kDecode;

}  // namespace

char CBase64::AsciiToValue(char c) { return static_cast<char>(kDecode.value[static_cast<unsigned char>(c)]); }

char CBase64::ValueToAscii(char value)
{
    unsigned char v = static_cast<unsigned char>(value);
    return v < 64 ? kAlphabet[v] : static_cast<char>(-1);
}

char CBase64::GetCorrectChar(const char* src, int& pos, int end)
{
    while (pos < end) {
        signed char v = kDecode.value[static_cast<unsigned char>(src[pos++])];
        if (v >= 0)
            return static_cast<char>(v);
    }
    return static_cast<char>(-1);
}

int CBase64::Encode(const char* src, int last, char* dst, int lineLen)
{
    if (lineLen != -1)
        lineLen -= lineLen % 4;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(src);
    int len = last + 1;
    int out = 0;
    int counter = 0;
    int i = 0;
    for (; len - i >= 3; i += 3) {
        unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        dst[out++] = kAlphabet[b0 >> 2];
        dst[out++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        dst[out++] = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        dst[out++] = kAlphabet[b2 & 63];
        counter += 4;
        if (lineLen != -1 && counter >= lineLen) {
            dst[out++] = '\r';
            dst[out++] = '\n';
            counter = 0;
        }
    }
    int rest = len - i;
    if (rest == 1) {
        unsigned b0 = in[i];
        dst[out++] = kAlphabet[b0 >> 2];
        dst[out++] = kAlphabet[(b0 & 3) << 4];
        dst[out++] = '=';
        dst[out++] = '=';
    } else if (rest == 2) {
        unsigned b0 = in[i], b1 = in[i + 1];
        dst[out++] = kAlphabet[b0 >> 2];
        dst[out++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        dst[out++] = kAlphabet[(b1 & 15) << 2];
        dst[out++] = '=';
    }
    dst[out] = '\0';
    return out;
}

int CBase64::Decode(const char* src, int count, char* dst)
{
    int out = 0;
    int pos = 0;
    int q[4];
    int have = 0;
    if (src) {
        for (;;) {
            // Inline of GetCorrectChar: one table look-up per input byte.
            int v = -1;
            while (pos < count) {
                v = kDecode.value[static_cast<unsigned char>(src[pos++])];
                if (v >= 0)
                    break;
            }
            if (v < 0)
                break;
            q[have++] = v;
            if (have == 4) {
                dst[out++] = static_cast<char>((q[0] << 2) | (q[1] >> 4));
                dst[out++] = static_cast<char>(((q[1] << 4) | (q[2] >> 2)) & 0xFF);
                dst[out++] = static_cast<char>(((q[2] << 6) | q[3]) & 0xFF);
                have = 0;
            }
        }
    }
    // The input ended inside a quartet: bytes whose bits are all present are written, a
    // partial last byte only when its bits are not the zero padding.
    if (have >= 2) {
        dst[out++] = static_cast<char>((q[0] << 2) | (q[1] >> 4));
        if (have == 2) {
            if (q[1] & 15)
                dst[out++] = static_cast<char>((q[1] << 4) & 0xFF);
        } else {
            dst[out++] = static_cast<char>(((q[1] << 4) | (q[2] >> 2)) & 0xFF);
            if (q[2] & 3)
                dst[out++] = static_cast<char>((q[2] << 6) & 0xFF);
        }
    }
    dst[out] = '\0';
    return out;
}

int CBase64::Decode(const char* src, char* dst) { return Decode(src, src ? static_cast<int>(strlen(src)) : 0, dst); }
