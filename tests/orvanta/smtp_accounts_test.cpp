#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "orvanta/accounts/smtp_accounts.h"
#include "platform/registry.h"

using namespace platform;

namespace {

const char* kAccounts = "Software\\Microsoft\\Internet Account Manager\\Accounts";

class SmtpAccountsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = std::filesystem::temp_directory_path() / ("smtp_accounts_" + std::to_string(::getpid()) + ".db");
        std::filesystem::remove(path_);
        setenv("ORVANTA_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove(path_); }

    void Text(const char* key, const char* name, const char* value)
    {
        HKEY k = nullptr;
        std::string p = std::string(kAccounts) + "\\" + key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, p.c_str(), &k), ERROR_SUCCESS);
        RegSetValueEx(k, name, REG_SZ, reinterpret_cast<const unsigned char*>(value),
                      static_cast<DWORD>(std::strlen(value) + 1));
        RegCloseKey(k);
    }
    void Number(const char* key, const char* name, DWORD value)
    {
        HKEY k = nullptr;
        std::string p = std::string(kAccounts) + "\\" + key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, p.c_str(), &k), ERROR_SUCCESS);
        RegSetValueEx(k, name, REG_DWORD, reinterpret_cast<const unsigned char*>(&value), 4);
        RegCloseKey(k);
    }
    std::filesystem::path path_;
};

TEST_F(SmtpAccountsTest, EmptyTableLeavesCallerValues)
{
    orvanta::BuildSmtpAccountTable();
    char server[32] = "keep";
    int port = 7;
    EXPECT_FALSE(orvanta::FindSmtpServer("a@b", server, sizeof(server), &port));
    EXPECT_STREQ(server, "keep");
    EXPECT_EQ(port, 7);
    EXPECT_FALSE(orvanta::FirstSmtpAccount().has_value());
}

TEST_F(SmtpAccountsTest, ExactMatchElseFirstRecord)
{
    Text("00000001", "POP3 USER Name", "u1");
    Text("00000001", "SMTP Email Address", "one@example.org");
    Text("00000001", "SMTP SERVER", "smtp.one");
    Text("00000002", "POP3 USER Name", "u2");
    Text("00000002", "SMTP Email Address", "two@example.org");
    Text("00000002", "SMTP SERVER", "smtp.two");
    Number("00000002", "SMTP Port", 587);
    Number("00000002", "SMTP Use Sicily", 2);
    Text("1", "POP3 USER Name", "ignored");
    Text("000000012", "POP3 USER Name", "ignored");
    Text("00000003", "SMTP SERVER", "no pop3 user");
    orvanta::BuildSmtpAccountTable();
    ASSERT_EQ(orvanta::SmtpAccountTable().size(), 2u);
    char server[32] = "";
    int port = 0;
    ASSERT_TRUE(orvanta::FindSmtpServer("two@example.org", server, sizeof(server), &port));
    EXPECT_STREQ(server, "smtp.two");
    EXPECT_EQ(port, 587);
    ASSERT_TRUE(orvanta::FindSmtpServer("TWO@example.org", server, sizeof(server), &port));
    EXPECT_STREQ(server, "smtp.one");
    EXPECT_EQ(port, 25);
    char tiny[5];
    orvanta::FindSmtpServer("two@example.org", tiny, sizeof(tiny), &port);
    EXPECT_STREQ(tiny, "smtp");
    EXPECT_EQ(orvanta::SmtpAccountTable()[1].useSicily, 2);
}

}  // namespace
