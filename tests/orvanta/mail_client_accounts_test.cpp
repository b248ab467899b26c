#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "orvanta/accounts/mail_client_accounts.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"
#include "platform/registry.h"
#include "recording_front_end.h"

using namespace platform;

namespace {

const std::string kAccounts = "Software\\Microsoft\\Internet Account Manager\\Accounts";

// Every value below the accounts key, as "key\value" -> "type:data".
using Snapshot = std::map<std::string, std::string>;

class MailClientAccountsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A fresh file per test: the registry keeps its database open once used.
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("mail_client_accounts_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + ".db");
        std::filesystem::remove(path_);
        setenv("ORVANTA_REGISTRY", path_.c_str(), 1);
        orvanta::ResetSettings();
        orvanta::SetSetting(orvanta::IntSetting::Pop3Port, 2115);
        orvanta::SetSetting(orvanta::IntSetting::SmtpPort, 2026);
        orvanta::SetSetting(orvanta::IntSetting::ImapPort, 2144);
        orvanta::BuildSmtpAccountTable();  // empty: nothing is seeded yet
    }
    void TearDown() override
    {
        orvanta::SetLogToStdout(false);
        orvanta::ResetSettings();
        std::filesystem::remove(path_);
        std::filesystem::remove(path_.string() + "-wal");
        std::filesystem::remove(path_.string() + "-shm");
    }

    static std::string KeyPath(const std::string& key) { return kAccounts + "\\" + key; }

    static void Text(const std::string& key, const char* name, const std::string& value)
    {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, KeyPath(key).c_str(), &k), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(k, name, REG_SZ, reinterpret_cast<const unsigned char*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }
    static void Number(const std::string& key, const char* name, DWORD value)
    {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, KeyPath(key).c_str(), &k), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(k, name, REG_DWORD, reinterpret_cast<const unsigned char*>(&value), 4), ERROR_SUCCESS);
        RegCloseKey(k);
    }
    // "" when absent; texts as they are, numbers as "#<decimal>".
    static std::string Get(const std::string& key, const char* name)
    {
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, KeyPath(key).c_str(), &k) != ERROR_SUCCESS)
            return "<no key>";
        unsigned char data[1024];
        DWORD type = 0, size = sizeof(data);
        LONG rc = RegQueryValueEx(k, name, &type, data, &size);
        RegCloseKey(k);
        if (rc != ERROR_SUCCESS)
            return "";
        if (type == REG_DWORD) {
            DWORD v = 0;
            std::memcpy(&v, data, 4);
            return "#" + std::to_string(v);
        }
        return std::string(reinterpret_cast<char*>(data));
    }
    static bool KeyExists(const std::string& key)
    {
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, KeyPath(key).c_str(), &k) != ERROR_SUCCESS)
            return false;
        RegCloseKey(k);
        return true;
    }
    static std::vector<std::string> ValueNames(const std::string& key)
    {
        std::vector<std::string> names;
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, KeyPath(key).c_str(), &k) != ERROR_SUCCESS)
            return names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof(name);
            if (RegEnumValue(k, i, name, &size, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(name);
        }
        RegCloseKey(k);
        return names;
    }
    static Snapshot Take()
    {
        Snapshot out;
        HKEY root = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, kAccounts.c_str(), &root) != ERROR_SUCCESS)
            return out;
        for (DWORD i = 0;; ++i) {
            char key[256];
            DWORD size = sizeof(key);
            if (RegEnumKeyEx(root, i, key, &size) != ERROR_SUCCESS)
                break;
            out[std::string(key) + "\\"] = "key";
            for (const std::string& name : ValueNames(key))
                out[std::string(key) + "\\" + name] = Get(key, name.c_str());
        }
        RegCloseKey(root);
        return out;
    }
    // Keys that are no accounts of the client: wrong length or not starting "00".
    static void SeedStrangers()
    {
        for (const char* key : {"1", "Default", "000000012", "10000001"}) {
            Text(key, "POP3 USER Name", "stranger");
            Text(key, "POP3 Server", "pop.stranger");
            Text(key, "ORVANTA ACCOUNT", "Orvanta");
        }
    }
    static void ExpectStrangersUntouched()
    {
        for (const char* key : {"1", "Default", "000000012", "10000001"}) {
            SCOPED_TRACE(key);
            EXPECT_EQ(Get(key, "POP3 USER Name"), "stranger");
            EXPECT_EQ(Get(key, "POP3 Server"), "pop.stranger");
            EXPECT_EQ(Get(key, "POP3 BACKUP"), "");
            EXPECT_EQ(Get(key, "ORVANTA ACCOUNT"), "Orvanta");
        }
    }
    void Kim()
    {
        Text("00000001", "POP3 USER Name", "kim");
        Text("00000001", "POP3 Server", "mailhost");
        Number("00000001", "POP3 Port", 995);
        Text("00000001", "SMTP Server", "smtp.kim");
        Number("00000001", "SMTP Port", 587);
        Text("00000001", "SMTP Email Address", "kim@example.org");
        Text("00000001", "SMTP Display Name", "Kim");
        Number("00000001", "SMTP Use Sicily", 2);
    }
    void Lee()
    {  // no POP3 port: the default 110
        Text("00000002", "POP3 USER Name", "lee");
        Text("00000002", "POP3 Server", "pop.lee");
        Text("00000002", "SMTP Server", "smtp.lee");
        Text("00000002", "SMTP Email Address", "lee@example.org");
    }

    std::filesystem::path path_;
    RecordingFrontEnd frontEnd_;
    std::vector<std::string>& messages_ = frontEnd_.messages;
    std::vector<std::string>& captions_ = frontEnd_.captions;
};

TEST_F(MailClientAccountsTest, LinkRewritesTheAccountsAndWritesTheSpamBox)
{
    Kim();
    Lee();
    Text("00000003", "SMTP Server", "no pop3 user here");
    SeedStrangers();
    orvanta::LinkMailClient(frontEnd_);

    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim#mailhost#995");
    EXPECT_EQ(Get("00000001", "POP3 SERVER"), "localhost");
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#2115");
    EXPECT_EQ(Get("00000001", "POP3 BACKUP"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 PORT BACKUP"), "#995");
    EXPECT_EQ(Get("00000001", "POP3 USER BACKUP"), "kim");
    EXPECT_EQ(Get("00000001", "POP3 Timeout"), "#300");
    EXPECT_EQ(Get("00000001", "SMTP Timeout"), "#300");
    // The outgoing settings stay as the user set them.
    EXPECT_EQ(Get("00000001", "SMTP SERVER"), "smtp.kim");
    EXPECT_EQ(Get("00000001", "SMTP Port"), "#587");
    EXPECT_EQ(Get("00000001", "SMTP BACKUP"), "");

    EXPECT_EQ(Get("00000002", "POP3 USER NAME"), "lee#pop.lee#110");
    EXPECT_EQ(Get("00000002", "POP3 PORT BACKUP"), "#110");
    EXPECT_EQ(ValueNames("00000003"), std::vector<std::string>{"SMTP Server"});
    ExpectStrangersUntouched();

    // The spam box took the table as it was before this link: empty, so our own values.
    EXPECT_EQ(
        ValueNames("00002002"),
        (std::vector<std::string>{"ORVANTA ACCOUNT", "ACCOUNT NAME", "SMTP SERVER", "IMAP SERVER", "IMAP USER NAME",
                                  "SMTP DISPLAY NAME", "SMTP EMAIL ADDRESS", "IMAP Svr-side Special Folders",
                                  "Connection Type", "SMTP Port", "IMAP Port", "IMAP Timeout", "SMTP Timeout"}));
    EXPECT_EQ(Get("00002002", "ORVANTA ACCOUNT"), "Orvanta");
    EXPECT_EQ(Get("00002002", "ACCOUNT NAME"), "<Orvanta>");
    EXPECT_EQ(Get("00002002", "SMTP SERVER"), "localhost");
    EXPECT_EQ(Get("00002002", "IMAP SERVER"), "localhost");
    EXPECT_FALSE(Get("00002002", "IMAP USER NAME").empty());
    EXPECT_EQ(Get("00002002", "SMTP DISPLAY NAME"), "user");
    EXPECT_EQ(Get("00002002", "SMTP EMAIL ADDRESS"), orvanta::kOwnSenderAddress);
    EXPECT_EQ(Get("00002002", "IMAP Svr-side Special Folders"), "#0");
    EXPECT_EQ(Get("00002002", "Connection Type"), "#3");
    EXPECT_EQ(Get("00002002", "SMTP Port"), "#2026");
    EXPECT_EQ(Get("00002002", "IMAP Port"), "#2144");
    EXPECT_EQ(Get("00002002", "IMAP Timeout"), "#300");
    EXPECT_EQ(Get("00002002", "SMTP Timeout"), "#300");

    // The table was rebuilt after the link: the next link gives the first account's values.
    auto table = orvanta::SmtpAccountTable();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].server, "smtp.kim");
    EXPECT_EQ(table[0].useSicily, 2);
    EXPECT_EQ(table[1].port, 25);
    orvanta::LinkMailClient(frontEnd_);
    EXPECT_EQ(Get("00002002", "SMTP SERVER"), "smtp.kim");
    EXPECT_EQ(Get("00002002", "SMTP Port"), "#587");
    EXPECT_EQ(Get("00002002", "SMTP DISPLAY NAME"), "Kim");
    EXPECT_EQ(Get("00002002", "SMTP EMAIL ADDRESS"), "kim@example.org");

    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0], orvanta::text::Get(orvanta::text::Id::AccountsLinked));
    EXPECT_EQ(captions_[0], "Orvanta");
}

TEST_F(MailClientAccountsTest, LinkingTwiceChangesNothing)
{
    Kim();
    Lee();
    orvanta::BuildSmtpAccountTable();
    orvanta::LinkMailClient(frontEnd_);
    Snapshot once = Take();
    orvanta::LinkMailClient(frontEnd_);
    EXPECT_EQ(Take(), once);
    // The POP3 proxy's port changed meanwhile: only the live port follows it.
    orvanta::SetSetting(orvanta::IntSetting::Pop3Port, 3115);
    orvanta::LinkMailClient(frontEnd_);
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#3115");
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim#mailhost#995");
    EXPECT_EQ(Get("00000001", "POP3 PORT BACKUP"), "#995");
}

// Makes every registry write of `value` fail (true) or work again (false), as a registry
// another process holds locked would.
void RefuseWritesOf(const std::filesystem::path& registry, const std::string& value, bool refuse)
{
    std::string sql =
        refuse ? "CREATE TRIGGER refuse_insert BEFORE INSERT ON reg_values WHEN lower(CAST(NEW.name AS TEXT)) = '" +
                     value +
                     "' BEGIN SELECT RAISE(ABORT, 'refused'); END; "
                     "CREATE TRIGGER refuse_update BEFORE UPDATE ON reg_values WHEN lower(CAST(NEW.name AS TEXT)) = '" +
                     value + "' BEGIN SELECT RAISE(ABORT, 'refused'); END;"
               : "DROP TRIGGER refuse_insert; DROP TRIGGER refuse_update;";
    std::string command = "sqlite3 '" + registry.string() + "' \"" + sql + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(MailClientAccountsTest, AFailedWriteNeverLosesTheRealServer)
{
    Kim();
    // The backup cannot be written: the live values stay the real ones.
    RefuseWritesOf(path_, "pop3 backup", true);
    orvanta::LinkMailClient(frontEnd_);
    EXPECT_EQ(Get("00000001", "POP3 SERVER"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim");
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#995");
    RefuseWritesOf(path_, "pop3 backup", false);
    orvanta::LinkMailClient(frontEnd_);
    ASSERT_EQ(Get("00000001", "POP3 SERVER"), "localhost");
    ASSERT_EQ(Get("00000001", "POP3 BACKUP"), "mailhost");

    // The real server cannot be put back: its backup stays for the next try.
    RefuseWritesOf(path_, "pop3 server", true);
    orvanta::UnlinkMailClient(frontEnd_);
    EXPECT_EQ(Get("00000001", "POP3 BACKUP"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 PORT BACKUP"), "#995");
    RefuseWritesOf(path_, "pop3 server", false);
    orvanta::UnlinkMailClient(frontEnd_);
    EXPECT_EQ(Get("00000001", "POP3 SERVER"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim");
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#995");
    EXPECT_EQ(Get("00000001", "POP3 BACKUP"), "");
}

TEST_F(MailClientAccountsTest, UnlinkPutsEverythingBack)
{
    Kim();
    Lee();
    // An outgoing backup left by an earlier version that sent through the SMTP proxy.
    Text("00000002", "SMTP BACKUP", "smtp.real.lee");
    Number("00000002", "SMTP PORT BACKUP", 465);
    Text("00000004", "POP3 USER Name", "park");  // never linked: no backups
    Text("00000004", "POP3 Server", "pop.park");
    SeedStrangers();
    orvanta::LinkMailClient(frontEnd_);
    orvanta::UnlinkMailClient(frontEnd_);

    EXPECT_FALSE(KeyExists("00002002"));
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim");
    EXPECT_EQ(Get("00000001", "POP3 SERVER"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#995");
    EXPECT_EQ(Get("00000002", "POP3 USER NAME"), "lee");
    EXPECT_EQ(Get("00000002", "POP3 SERVER"), "pop.lee");
    EXPECT_EQ(Get("00000002", "POP3 Port"), "#110");
    EXPECT_EQ(Get("00000002", "SMTP SERVER"), "smtp.real.lee");
    EXPECT_EQ(Get("00000002", "SMTP Port"), "#465");
    for (const char* key : {"00000001", "00000002"})
        for (const char* value :
             {"POP3 BACKUP", "POP3 PORT BACKUP", "POP3 USER BACKUP", "SMTP BACKUP", "SMTP PORT BACKUP"})
            EXPECT_EQ(Get(key, value), "") << key << " " << value;
    EXPECT_EQ(Get("00000001", "POP3 Timeout"), "#300");
    EXPECT_EQ(Get("00000001", "SMTP Timeout"), "#300");
    ExpectStrangersUntouched();

    // A second unlink finds nothing to restore and still tells the user.
    Snapshot unlinked = Take();
    orvanta::UnlinkMailClient(frontEnd_);
    EXPECT_EQ(Take(), unlinked);
    ASSERT_EQ(messages_.size(), 3u);
    EXPECT_EQ(messages_[2], orvanta::text::Get(orvanta::text::Id::AccountsRestored));
    EXPECT_NE(messages_[1], messages_[0]);
}

TEST_F(MailClientAccountsTest, UnlinkLeavesANeverLinkedAccountAlone)
{
    Kim();
    Snapshot before = Take();
    orvanta::UnlinkMailClient(frontEnd_);
    EXPECT_EQ(Take(), before);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], orvanta::text::Get(orvanta::text::Id::AccountsRestored));
}

TEST_F(MailClientAccountsTest, StartupPassRelinksAndPutsOutgoingBackupsBack)
{
    Kim();
    Lee();
    // Lee's outgoing server was pointed at the SMTP proxy by an older link.
    Text("00000002", "SMTP Server", "localhost");
    Number("00000002", "SMTP Port", 26);
    Text("00000002", "SMTP BACKUP", "smtp.real.lee");
    Number("00000002", "SMTP PORT BACKUP", 465);
    // Spam-box accounts left under other names, two of them next to each other.
    for (const char* key : {"00002002", "00002003", "00009999"})
        Text(key, "ORVANTA ACCOUNT", "Orvanta");
    Text("00002002", "stale", "gone after the pass");
    SeedStrangers();

    orvanta::RefreshAccountLinks();

    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(KeyExists("00002003"));
    EXPECT_FALSE(KeyExists("00009999"));
    ASSERT_TRUE(KeyExists("00002002"));
    EXPECT_EQ(Get("00002002", "stale"), "");
    EXPECT_EQ(Get("00000002", "SMTP SERVER"), "smtp.real.lee");
    EXPECT_EQ(Get("00000002", "SMTP Port"), "#465");
    EXPECT_EQ(Get("00000002", "SMTP BACKUP"), "");
    EXPECT_EQ(Get("00000002", "SMTP PORT BACKUP"), "");
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim#mailhost#995");
    EXPECT_EQ(Get("00000002", "POP3 USER NAME"), "lee#pop.lee#110");
    EXPECT_EQ(Get("00000002", "POP3 Port"), "#2115");
    // The table was built before the spam box was written, and again after.
    EXPECT_EQ(Get("00002002", "SMTP SERVER"), "smtp.kim");
    EXPECT_EQ(Get("00002002", "SMTP EMAIL ADDRESS"), "kim@example.org");
    auto table = orvanta::SmtpAccountTable();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].server, "smtp.real.lee");
    EXPECT_EQ(table[1].port, 465);
    ExpectStrangersUntouched();

    // A second start finds everything as the first left it.
    Snapshot first = Take();
    orvanta::RefreshAccountLinks();
    EXPECT_EQ(Take(), first);
}

TEST_F(MailClientAccountsTest, AccountsThatDoNotFitAreLeftAloneAndLogged)
{
    Kim();
    const std::string user60(60, 'u');
    // user#server#port: 60 + 1 + 34 + 1 + 3 = 99 characters, just fits.
    Text("00000005", "POP3 USER Name", user60);
    Text("00000005", "POP3 Server", std::string(34, 's'));
    // One more character of server name: 100, refused.
    Text("00000006", "POP3 USER Name", user60);
    Text("00000006", "POP3 Server", std::string(35, 's'));
    // A server name that does not fit a 100-byte buffer at all.
    Text("00000007", "POP3 USER Name", "short");
    Text("00000007", "POP3 Server", std::string(120, 'x'));
    // A user name that long: not a POP3 account the program can handle.
    Text("00000008", "POP3 USER Name", std::string(100, 'y'));
    Text("00000008", "POP3 Server", "pop.y");
    Snapshot before = Take();

    orvanta::SetLogToStdout(true);
    testing::internal::CaptureStdout();
    orvanta::LinkMailClient(frontEnd_);
    std::string log = testing::internal::GetCapturedStdout();
    orvanta::SetLogToStdout(false);

    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim#mailhost#995");
    EXPECT_EQ(Get("00000005", "POP3 USER NAME"), user60 + "#" + std::string(34, 's') + "#110");
    EXPECT_EQ(Get("00000005", "POP3 USER NAME").size(), 99u);
    Snapshot after = Take();
    for (const char* key : {"00000006", "00000007", "00000008"}) {
        SCOPED_TRACE(key);
        for (const auto& [name, value] : before)
            if (name.rfind(key, 0) == 0) {
                EXPECT_EQ(after[name], value) << name;
            }
        EXPECT_EQ(Get(key, "POP3 BACKUP"), "");
        EXPECT_NE(log.find(std::string("account ") + key + " left as it is"), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("00000005 left"), std::string::npos);
}

TEST_F(MailClientAccountsTest, RestoreKeepsABackupThatDoesNotFit)
{
    Text("00000001", "POP3 USER Name", "kim#mailhost#110");
    Text("00000001", "POP3 Server", "localhost");
    Text("00000001", "POP3 BACKUP", std::string(150, 'm'));
    Text("00000001", "POP3 USER BACKUP", "kim");
    Snapshot before = Take();
    orvanta::UnlinkMailClient(frontEnd_);
    // Deleting the backups would lose the only copy of the real server.
    EXPECT_EQ(Take(), before);
}

TEST_F(MailClientAccountsTest, OnlyTheFirst101SubkeysAreLookedAt)
{
    // 101 keys that sort first, none of them a POP3 account; the next one is not visited.
    for (int i = 0; i <= 100; ++i) {
        char key[16];
        std::snprintf(key, sizeof(key), "00%06d", i);
        Text(key, "SMTP Server", "filler");
    }
    Text("00999999", "POP3 USER Name", "late");
    Text("00999999", "POP3 Server", "pop.late");
    orvanta::LinkMailClient(frontEnd_);
    EXPECT_EQ(Get("00999999", "POP3 USER NAME"), "late");
    EXPECT_EQ(Get("00999999", "POP3 SERVER"), "pop.late");
}

}  // namespace
