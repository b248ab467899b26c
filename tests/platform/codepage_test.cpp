#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {
// "받은 편지함" (inbox) in UTF-8 and in CP949.
const std::string kInboxUtf8 = "\xEB\xB0\x9B\xEC\x9D\x80 \xED\x8E\xB8\xEC\xA7\x80\xED\x95\xA8";
const std::string kInboxCp949 = "\xB9\xDE\xC0\xBA \xC6\xED\xC1\xF6\xC7\xD4";
}  // namespace

TEST(Codepage, KoreanRoundTripsThroughUtf8AndUtf16)
{
    EXPECT_EQ(Utf8ToCp949(kInboxUtf8), kInboxCp949);
    EXPECT_EQ(Cp949ToUtf8(kInboxCp949), kInboxUtf8);

    std::u16string wide = Cp949ToUtf16(kInboxCp949);
    ASSERT_EQ(wide.size(), 6u);
    EXPECT_EQ(wide[0], u'\uBC1B');  // 받
    EXPECT_EQ(wide[2], u' ');
    EXPECT_EQ(Utf16ToCp949(wide), kInboxCp949);
}

TEST(Codepage, Cp949ExtendedHangulAndAsciiSurvive)
{
    // "똠" lies outside KS X 1001 and only CP949's extension holds it.
    std::string text = "abc \xEB\x98\xA0 123";
    std::string cp = Utf8ToCp949(text);
    EXPECT_EQ(cp.size(), 10u);
    EXPECT_EQ(Cp949ToUtf8(cp), text);
}

TEST(Codepage, BadInputIsReplacedNotDropped)
{
    // A lone lead byte at the end and an invalid pair in the middle.
    std::string bad = std::string("A\xFF") + "B\xB0";
    std::string utf8 = Cp949ToUtf8(bad);
    EXPECT_EQ(utf8.substr(0, 1), "A");
    EXPECT_NE(utf8.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(utf8.find('B'), std::string::npos);

    // Characters CP949 has no code for become one '?' each, whatever their UTF-8 length.
    EXPECT_EQ(Utf8ToCp949("x\xF0\x9F\x98\x80y"), "x?y");
    EXPECT_EQ(Utf16ToCp949(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(Cp949ToUtf8(""), "");
    EXPECT_TRUE(Cp949ToUtf16("").empty());
}
