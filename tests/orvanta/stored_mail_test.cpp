#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "orvanta/core/settings.h"
#include "orvanta/core/stored_mail.h"

using namespace orvanta;
namespace fs = std::filesystem;

namespace {

class StoredMailTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("orvanta-store-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "INBOX" / "sub");
        fs::create_directories(root_ / "Spam");
        for (const fs::path& p :
             {root_ / "mesg00000001.msg", root_ / "INBOX" / "mesg00000001.msg", root_ / "INBOX" / "MESG00000002.MSG",
              root_ / "INBOX" / "index.dat", root_ / "INBOX" / "mesg1.msg",
              root_ / "INBOX" / "sub" / "mesg00000003.msg", root_ / "Spam" / "mesg00000004.msg"})
            std::ofstream(p) << "x";
        // A link out of the store must not be followed.
        fs::create_directories(root_.string() + "-outside");
        std::ofstream(root_.string() + "-outside/mesg00000009.msg") << "x";
        fs::create_directory_symlink(root_.string() + "-outside", root_ / "Link");
        ResetSettings();
    }
    void TearDown() override
    {
        fs::remove_all(root_);
        fs::remove_all(root_.string() + "-outside");
        ResetSettings();
    }
    void SetDate(std::time_t t)
    {
        std::tm tm{};
        localtime_r(&t, &tm);
        SetSetting(IntSetting::DelYear, tm.tm_year + 1900);
        SetSetting(IntSetting::DelMonth, tm.tm_mon + 1);
        SetSetting(IntSetting::DelDay, tm.tm_mday);
    }
    // Noon today, local time: whole days back from it do not depend on the hour the test runs.
    static std::time_t Noon()
    {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        tm.tm_hour = 12;
        tm.tm_min = tm.tm_sec = 0;
        tm.tm_isdst = -1;
        return std::mktime(&tm);
    }
    fs::path root_;
};

TEST_F(StoredMailTest, FourDaysWithTermFiveDeletesMessageFilesOnly)
{
    std::time_t now = Noon();
    SetSetting(IntSetting::DelTerm, 5);
    SetDate(now - 4 * 86400);
    EXPECT_EQ(DeleteOldStoredMail(root_.string() + "/", now), 4);
    EXPECT_FALSE(fs::exists(root_ / "INBOX" / "mesg00000001.msg"));
    EXPECT_FALSE(fs::exists(root_ / "INBOX" / "MESG00000002.MSG"));
    EXPECT_FALSE(fs::exists(root_ / "INBOX" / "sub" / "mesg00000003.msg"));
    EXPECT_FALSE(fs::exists(root_ / "Spam" / "mesg00000004.msg"));
    EXPECT_TRUE(fs::exists(root_ / "mesg00000001.msg"));  // the store root is not touched
    EXPECT_TRUE(fs::exists(root_ / "INBOX" / "index.dat"));
    EXPECT_TRUE(fs::exists(root_ / "INBOX" / "mesg1.msg"));
    EXPECT_TRUE(fs::exists(root_.string() + "-outside/mesg00000009.msg"));
    std::tm today{};
    localtime_r(&now, &today);
    EXPECT_EQ(GetSetting(IntSetting::DelYear), today.tm_year + 1900);
    EXPECT_EQ(GetSetting(IntSetting::DelMonth), today.tm_mon + 1);
    EXPECT_EQ(GetSetting(IntSetting::DelDay), today.tm_mday);
}

TEST_F(StoredMailTest, ThreeDaysWithTermFiveDeletesNothing)
{
    std::time_t now = Noon();
    SetSetting(IntSetting::DelTerm, 5);
    std::time_t then = now - 3 * 86400;
    SetDate(then);
    EXPECT_EQ(DeleteOldStoredMail(root_.string(), now), 0);
    EXPECT_TRUE(fs::exists(root_ / "INBOX" / "mesg00000001.msg"));
    std::tm tm{};
    localtime_r(&then, &tm);
    EXPECT_EQ(GetSetting(IntSetting::DelDay), tm.tm_mday);  // the date stays
}

TEST_F(StoredMailTest, OffWhenTermBelowTwoOrNoDate)
{
    std::time_t now = Noon();
    SetDate(now - 400 * 86400);
    SetSetting(IntSetting::DelTerm, 1);
    EXPECT_EQ(DeleteOldStoredMail(root_.string(), now), 0);
    SetSetting(IntSetting::DelTerm, 2);
    SetSetting(IntSetting::DelMonth, 0);
    EXPECT_EQ(DeleteOldStoredMail(root_.string(), now), 0);
    EXPECT_TRUE(fs::exists(root_ / "Spam" / "mesg00000004.msg"));
    // Term 2 means every day: one day suffices.
    SetDate(now - 86400);
    EXPECT_EQ(DeleteOldStoredMail(root_.string(), now), 4);
}

}  // namespace
