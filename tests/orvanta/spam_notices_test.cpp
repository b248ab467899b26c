#include "orvanta/pipeline/spam_notices.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/codepage.h"

namespace fs = std::filesystem;
using namespace orvanta::pipeline;

namespace {

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::string& s)
{
    std::ofstream out(p, std::ios::binary);
    out << s;
}

SPAM_FILTER Rule(int property, const char* word, const char* description)
{
    SPAM_FILTER rule{};
    rule.property = static_cast<uint8_t>(property);
    std::strncpy(rule.word, word, sizeof rule.word - 1);
    std::strncpy(rule.description, description, sizeof rule.description - 1);
    return rule;
}

class SpamNoticesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("orvanta_notices_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        data_ = dir_.string() + "/";
        for (auto& t : WarningTexts())
            t.clear();
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    std::string data_;
};

const std::string kDashes(47, '-');

TEST_F(SpamNoticesTest, NoticeIsWrittenByteForByteInCp949WithCrLf)
{
    fs::path file = dir_ / "temp.mail";
    WriteAll(file, std::string(5000, 'x'));  // an older, longer message must be gone
    ASSERT_TRUE(WriteDeletionNotice(file.string(), "spam@ads.example", "me@home.example", "Buy now",
                                    Rule(4, "viagra", "pills")));
    std::string expected = "Return-Path: : spam@ads.example\r\n"
                           "From : spam@ads.example\r\n" +
                           platform::Utf8ToCp949("Subject: Orvanta의 삭제옵션에 의해서 삭제된메일입니다.\r\n") +
                           "\r\n" + kDashes + "\r\n" + platform::Utf8ToCp949("메일을 보낸 원래 사용자 : ") +
                           "spam@ads.example" + platform::Utf8ToCp949("\r\n원래메일제목 : ") + "Buy now" + "\r\n\r\n" +
                           kDashes + platform::Utf8ToCp949("\r\n\r\n다음 필터에 의해서 삭제되었습니다.\r\n") +
                           platform::Utf8ToCp949("\r\n필터분류 : 제목+본문\r\n단어 : ") + "viagra" +
                           platform::Utf8ToCp949("\r\n설명 : ") + "pills";
    EXPECT_EQ(ReadAll(file), expected);
    // The subject line is CP949: "의" is 0xC0 0xC7 there.
    EXPECT_NE(ReadAll(file).find("Orvanta\xC0\xC7"), std::string::npos);
}

TEST_F(SpamNoticesTest, NoticeWithoutSubjectOrSenderAndUnknownCategory)
{
    fs::path file = dir_ / "temp.mail";
    ASSERT_TRUE(WriteDeletionNotice(file.string(), "", "", "", Rule(9, "w", "d")));
    std::string got = ReadAll(file);
    std::string cp = platform::Utf8ToCp949("메일을 보낸 원래 사용자 : \r\n원래메일제목 : \r\n\r\n");
    EXPECT_NE(got.find(cp), std::string::npos);
    EXPECT_NE(got.find(platform::Utf8ToCp949("필터분류 : 단어 : w\r\n설명 : d")), std::string::npos);
    EXPECT_EQ(got.rfind("Return-Path: : \r\nFrom : \r\n", 0), 0u);
}

TEST_F(SpamNoticesTest, EveryPropertyHasItsCategory)
{
    const char* names[7] = {"보낸이", "받는이", "제목", "본문", "제목+본문", "메시지전체", "파일이름"};
    for (int p = 0; p < 7; ++p) {
        fs::path file = dir_ / "temp.mail";
        ASSERT_TRUE(WriteDeletionNotice(file.string(), "a@b", "", "s", Rule(p, "w", "d")));
        std::string line = platform::Utf8ToCp949(std::string("필터분류 : ") + names[p] + "\r\n단어");
        EXPECT_NE(ReadAll(file).find(line), std::string::npos) << p;
    }
}

TEST_F(SpamNoticesTest, NoticeFailsWhenFileCannotBeCreated)
{
    EXPECT_FALSE(WriteDeletionNotice((dir_ / "missing" / "temp.mail").string(), "a@b", "", "s", Rule(0, "w", "d")));
}

TEST_F(SpamNoticesTest, WarningTextsRoundTripAsRawBytes)
{
    std::string big(250, 'a');  // spans three 100-byte pieces
    WarningTexts() = std::array<std::string, 3>{platform::Utf8ToCp949("스팸 금지\r\n.\r\n..x"), big, ""};
    SaveWarningTexts(data_);
    EXPECT_EQ(ReadAll(dir_ / "warn1.dat"), WarningTexts()[0]);
    EXPECT_EQ(fs::file_size(dir_ / "warn3.dat"), 0u);
    auto saved = WarningTexts();
    for (auto& t : WarningTexts())
        t = "old";
    LoadWarningTexts(data_);
    EXPECT_EQ(WarningTexts(), saved);
}

TEST_F(SpamNoticesTest, MissingWarningFileStopsLoading)
{
    WriteAll(dir_ / "warn1.dat", "one");
    WriteAll(dir_ / "warn3.dat", "three");
    WarningTexts() = std::array<std::string, 3>{"x", "keep2", "keep3"};
    LoadWarningTexts(data_);
    EXPECT_EQ(WarningTexts()[0], "one");
    EXPECT_EQ(WarningTexts()[1], "keep2");
    EXPECT_EQ(WarningTexts()[2], "keep3");
}

TEST_F(SpamNoticesTest, ZeroByteEndsEachPiece)
{
    std::string raw(100, 'a');
    raw[10] = '\0';
    raw += "tail";
    WriteAll(dir_ / "warn1.dat", raw);
    LoadWarningTexts(data_);
    EXPECT_EQ(WarningTexts()[0], std::string(10, 'a') + "tail");
}

}  // namespace
