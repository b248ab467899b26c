#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parsewick/parsewick.h"

namespace {

std::string Encode(const std::string& in, int lineLen)
{
    std::vector<char> out(in.size() * 2 + 8);
    int n = CBase64::Encode(in.data(), static_cast<int>(in.size()) - 1, out.data(), lineLen);
    EXPECT_EQ(n, static_cast<int>(strlen(out.data())));
    return std::string(out.data(), static_cast<size_t>(n));
}

std::string B64Decode(const std::string& in)
{
    std::vector<char> out(in.size() + 1);
    int n = CBase64::Decode(in.c_str(), out.data());
    return std::string(out.data(), static_cast<size_t>(n));
}

std::string QpDecode(const std::string& in)
{
    std::vector<char> out(in.size() + 1);
    int n = CQuotedPrintable::Decode(in.c_str(), out.data());
    EXPECT_EQ(out[static_cast<size_t>(n)], '\0');
    return std::string(out.data(), static_cast<size_t>(n));
}

}  // namespace

TEST(Base64, EncodesGroupsAndPadding)
{
    EXPECT_EQ(Encode("abc", 76), "YWJj");
    EXPECT_EQ(Encode("a", 76), "YQ==");
    EXPECT_EQ(Encode("ab", 76), "YWI=");
    EXPECT_EQ(Encode("", 76), "");
    char out[4] = "xx";
    EXPECT_EQ(CBase64::Encode("abc", -3, out, 76), 0);
    EXPECT_STREQ(out, "");
    // Bytes are unsigned: 0xFF 0xFE 0xFD.
    EXPECT_EQ(Encode("\xff\xfe\xfd", -1), "//79");
}

TEST(Base64, BreaksLinesAtMultiplesOfFour)
{
    std::string s57(57, 'x');
    std::string e = Encode(s57, 76);
    ASSERT_EQ(e.size(), 78u);
    EXPECT_EQ(e.substr(76), "\r\n");
    std::string e58 = Encode(s57 + "y", 76);
    ASSERT_EQ(e58.size(), 82u);
    EXPECT_EQ(e58.substr(76, 2), "\r\n");
    EXPECT_EQ(e58.substr(80), "==");
    // 0..3 round down to 0: a break after every group.
    EXPECT_EQ(Encode("abcabc", 0), "YWJj\r\nYWJj\r\n");
    EXPECT_EQ(Encode("abcabc", 3), "YWJj\r\nYWJj\r\n");
    // 10 rounds down to 8.
    EXPECT_EQ(Encode("abcabcabc", 10), "YWJjYWJj\r\nYWJj");
    EXPECT_EQ(Encode(std::string(300, 'z'), -1).find('\r'), std::string::npos);
    // No break after a padded final group, even when it fills the line.
    EXPECT_EQ(Encode("abca", 8), "YWJjYQ==");
}

TEST(Base64, DecodeSkipsForeignCharactersAndOptionalBytes)
{
    EXPECT_EQ(B64Decode("YW\r\nJj"), "abc");
    EXPECT_EQ(B64Decode("YQ=="), "a");
    EXPECT_EQ(B64Decode("YQ"), "a");
    EXPECT_EQ(B64Decode("Y"), "");
    EXPECT_EQ(B64Decode(""), "");
    EXPECT_EQ(B64Decode(" Y W = J j !"), "abc");
    // Non-zero pad bits produce the optional trailing byte.
    EXPECT_EQ(B64Decode("YR"), std::string("a\x10", 2));
    EXPECT_EQ(B64Decode("YWI"), "ab");
    EXPECT_EQ(B64Decode("YWJ"), "ab@");
    EXPECT_EQ(B64Decode("YWK"), std::string("ab\x80", 3));
    // '=' in the middle does not stop decoding.
    EXPECT_EQ(B64Decode("YQ==YWJj"), std::string("a\x06\x16&0", 5));
    // Count bounds the input.
    char out[8];
    EXPECT_EQ(CBase64::Decode("YWJjYWJj", 4, out), 3);
    EXPECT_STREQ(out, "abc");
}

TEST(Base64, RoundTripsBinary)
{
    std::string all;
    for (int i = 1; i < 256; ++i)
        all += static_cast<char>(i);
    for (int cut = 0; cut <= 5; ++cut) {
        std::string in = all.substr(static_cast<size_t>(cut));
        EXPECT_EQ(B64Decode(Encode(in, 76)), in) << cut;
    }
}

TEST(Base64, AlphabetHelpers)
{
    EXPECT_EQ(CBase64::AsciiToValue('A'), 0);
    EXPECT_EQ(CBase64::AsciiToValue('/'), 63);
    EXPECT_EQ(CBase64::AsciiToValue('='), static_cast<char>(-1));
    EXPECT_EQ(CBase64::AsciiToValue('\xc0'), static_cast<char>(-1));
    EXPECT_EQ(CBase64::ValueToAscii(62), '+');
    EXPECT_EQ(CBase64::ValueToAscii(64), static_cast<char>(-1));
    EXPECT_EQ(CBase64::ValueToAscii(-1), static_cast<char>(-1));
    int pos = 0;
    EXPECT_EQ(CBase64::GetCorrectChar("\r\n=B", pos, 4), 1);
    EXPECT_EQ(pos, 4);
    EXPECT_EQ(CBase64::GetCorrectChar("\r\n=B", pos, 4), static_cast<char>(-1));
    pos = 0;
    EXPECT_EQ(CBase64::GetCorrectChar("\r\n=B", pos, 3), static_cast<char>(-1));
}

TEST(QuotedPrintable, Decodes)
{
    EXPECT_EQ(QpDecode("=41=42"), "AB");
    EXPECT_EQ(QpDecode("a=\r\nb"), "a\r\nb");
    EXPECT_EQ(QpDecode("=4G"), "4G");
    EXPECT_EQ(QpDecode("x=4"), "x=4");
    EXPECT_EQ(QpDecode("x="), "x=");
    EXPECT_EQ(QpDecode("=4a"), "J");
    EXPECT_EQ(QpDecode("a_b"), "a_b");
    EXPECT_EQ(QpDecode("caf=E9"), "caf\xe9");
    char out[4] = "zz";
    EXPECT_EQ(CQuotedPrintable::Decode("abc", -1, out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(CQuotedPrintable::Decode("=41=42", 2, out), 1);
    EXPECT_STREQ(out, "A");
}

TEST(QuotedPrintable, Helpers)
{
    EXPECT_TRUE(CQuotedPrintable::Is16('f'));
    EXPECT_TRUE(CQuotedPrintable::Is16('F'));
    EXPECT_FALSE(CQuotedPrintable::Is16('g'));
    EXPECT_EQ(CQuotedPrintable::Get16Value('c'), 12);
    EXPECT_EQ(CQuotedPrintable::Get16Value('x'), 0);
    EXPECT_EQ(CQuotedPrintable::Get16Value('\0'), 0);
    EXPECT_EQ(CQuotedPrintable::Convert10('7', 'f'), 0x7f);
    char dst[4] = "kp";
    CQuotedPrintable::Encode("abc", dst);
    EXPECT_STREQ(dst, "kp");  // encoding is not implemented and writes nothing
}
