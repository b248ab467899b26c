#include "components/almanac/almanac.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace {

// Fills a heap buffer of exactly the callers' size, so an overrun shows under ASan.
std::string Fill(void (*op)(char*, int), size_t size)
{
    auto buf = std::make_unique<char[]>(size);
    memset(buf.get(), '#', size);
    op(buf.get(), 1);
    EXPECT_NE(memchr(buf.get(), '\0', size), nullptr);
    return std::string(buf.get());
}

// Every byte is ASCII or part of a two-byte KS X 1001 character, the part of CP949 that a
// text/html part declared as euc-kr may hold.
bool IsEucKr(const std::string& s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80)
            continue;
        if (c < 0xA1 || c > 0xFE || i + 1 >= s.size())
            return false;
        auto t = static_cast<unsigned char>(s[++i]);
        if (t < 0xA1 || t > 0xFE)
            return false;
    }
    return true;
}

void ExpectKoreanCp949(const std::string& footer)
{
    EXPECT_FALSE(footer.empty());
    EXPECT_LT(footer.size(), 1000u);
    EXPECT_TRUE(IsEucKr(footer));
    std::string utf8 = platform::Cp949ToUtf8(footer);
    EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos);  // nothing failed to convert
    EXPECT_NE(utf8, footer);                                  // it does hold Korean text
    EXPECT_EQ(platform::Utf8ToCp949(utf8), footer);
    EXPECT_NE(utf8.find("스팸"), std::string::npos);
}

class UpdateURL : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("ORVANTA_UPDATE_URL"); }
    void TearDown() override { unsetenv("ORVANTA_UPDATE_URL"); }
    static std::string Get() { return Fill(CProgramInfo::GetUpdateURL, 100); }
};

}  // namespace

TEST(Footer, TextFooterIsKoreanCp949PlainText)
{
    std::string footer = Fill(CProgramInfo::GetTEXTFooter, 1000);
    ExpectKoreanCp949(footer);
    EXPECT_EQ(footer.substr(0, 2), "\r\n");  // starts on a line of its own after the warning
    EXPECT_EQ(footer.substr(footer.size() - 2), "\r\n");
    EXPECT_EQ(footer.find('<'), std::string::npos);
}

TEST(Footer, HtmlFooterIsKoreanCp949Html)
{
    std::string footer = Fill(CProgramInfo::GetHTMLFooter, 1000);
    ExpectKoreanCp949(footer);
    EXPECT_EQ(footer.rfind("<html>", 0), 0u);
    EXPECT_NE(footer.find("charset=euc-kr"), std::string::npos);
    EXPECT_EQ(footer.substr(footer.size() - 7), "</html>");
}

TEST(Footer, SameTextOnEveryCall)
{
    EXPECT_EQ(Fill(CProgramInfo::GetTEXTFooter, 1000), Fill(CProgramInfo::GetTEXTFooter, 1000));
    EXPECT_EQ(Fill(CProgramInfo::GetHTMLFooter, 1000), Fill(CProgramInfo::GetHTMLFooter, 1000));
}

TEST_F(UpdateURL, DefaultIsAnAbsoluteHttpsUrlWithoutTrailingSlash)
{
    std::string url = Get();
    EXPECT_EQ(url.rfind("https://", 0), 0u);
    EXPECT_GT(url.size(), 7u);
    EXPECT_NE(url.back(), '/');
    EXPECT_LT(url.size(), 100u);
}

TEST_F(UpdateURL, EnvironmentOverridesTheDefault)
{
    setenv("ORVANTA_UPDATE_URL", "http://127.0.0.1:40123/update", 1);
    EXPECT_EQ(Get(), "http://127.0.0.1:40123/update");
    // read on every call
    setenv("ORVANTA_UPDATE_URL", "http://127.0.0.1:40124", 1);
    EXPECT_EQ(Get(), "http://127.0.0.1:40124");
}

TEST_F(UpdateURL, TrailingSlashesOfTheOverrideAreDropped)
{
    setenv("ORVANTA_UPDATE_URL", "http://127.0.0.1:40123/update///", 1);
    EXPECT_EQ(Get(), "http://127.0.0.1:40123/update");
    setenv("ORVANTA_UPDATE_URL", "http://localhost/", 1);
    EXPECT_EQ(Get(), "http://localhost");
}

TEST_F(UpdateURL, UnusableOverrideFallsBackToTheDefault)
{
    std::string def = Get();
    const std::string bad[] = {
        "ftp://127.0.0.1/update",          "127.0.0.1:8080", "http://", "http:///path", "http://host/with space",
        "http://" + std::string(100, 'h'),  // would not fit the 100-byte buffer
    };
    for (const std::string& value : bad) {
        setenv("ORVANTA_UPDATE_URL", value.c_str(), 1);
        EXPECT_EQ(Get(), def) << value;
    }
    setenv("ORVANTA_UPDATE_URL", "", 1);
    EXPECT_EQ(Get(), def);

    // the longest override that still fits
    std::string longest = "http://" + std::string(92, 'h');
    ASSERT_EQ(longest.size(), 99u);
    setenv("ORVANTA_UPDATE_URL", longest.c_str(), 1);
    EXPECT_EQ(Get(), longest);
}
