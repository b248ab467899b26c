#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>

#include "orvanta/core/settings.h"
#include "platform/registry.h"

using namespace orvanta;
using namespace platform;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ =
            std::filesystem::temp_directory_path() / ("orvanta-settings-" + std::to_string(getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("ORVANTA_REGISTRY", (dir_ / "registry.db").c_str(), 1);
        ResetSettings();
        ClearSettingsHooks();
    }
    void TearDown() override
    {
        ResetSettings();
        std::filesystem::remove_all(dir_);
    }

    // Value names of one section exactly as stored, with their DWORD values (or -1 for strings).
    std::map<std::string, long long> StoredValues(const std::string& section)
    {
        std::map<std::string, long long> out;
        HKEY key = nullptr;
        std::string path = std::string(kRegistryRoot) + "\\" + section;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS)
            return out;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD nameSize = sizeof name, type = 0, data = 0, size = sizeof data;
            unsigned char buf[512];
            DWORD bufSize = sizeof buf;
            LONG r = RegEnumValue(key, i, name, &nameSize, &type, buf, &bufSize);
            if (r != ERROR_SUCCESS)
                break;
            if (type == REG_DWORD) {
                std::memcpy(&data, buf, sizeof data);
                out[name] = data;
            } else {
                out[name] = -1;
            }
            (void)size;
        }
        RegCloseKey(key);
        return out;
    }

    void WriteDword(const char* section, const char* name, DWORD value)
    {
        HKEY key = nullptr;
        std::string path = std::string(kRegistryRoot) + "\\" + section;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<unsigned char*>(&value), 4), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void WriteString(const char* section, const char* name, const std::string& value)
    {
        HKEY key = nullptr;
        std::string path = std::string(kRegistryRoot) + "\\" + section;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const unsigned char*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::filesystem::path dir_;
};

TEST_F(SettingsTest, DefaultsWhenTheRegistryIsEmpty)
{
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(GetSetting(IntSetting::Pop3Port), 115);
    EXPECT_EQ(GetSetting(IntSetting::SmtpPort), 26);
    EXPECT_EQ(GetSetting(IntSetting::ImapPort), 144);
    EXPECT_EQ(GetSetting(IntSetting::FilterPriority), 2);
    EXPECT_EQ(GetSetting(IntSetting::FilterContent), 0);
    EXPECT_EQ(GetSetting(IntSetting::DelLog), 1);
    EXPECT_EQ(GetSetting(IntSetting::SelectSmtpPort), 25);
    EXPECT_EQ(GetSetting(IntSetting::UpdateTerm), 1);
    EXPECT_EQ(GetSetting(IntSetting::AutoStart), 1);
    EXPECT_EQ(GetSetting(IntSetting::UpdateProgram), 0);
    EXPECT_EQ(GetSetting(StringSetting::NoticeDay), "20020710");
    EXPECT_EQ(GetSetting(StringSetting::ReadDay), "20020710");
    EXPECT_EQ(GetSetting(StringSetting::SelectSmtpServer), "");
    EXPECT_EQ(GetSetting(StringSetting::AccountKey), "00002002");
    EXPECT_EQ(GetSetting(StringSetting::ProgramVersion), "1.2.0");
}

TEST_F(SettingsTest, SaveWritesTheWrittenCapitalisations)
{
    ASSERT_TRUE(SaveSettings());
    auto option = StoredValues("OPTION");
    for (const char* name : {"Del_DAY", "UPDATE_SERVER", "UPDATE_TERM", "SELECT_WARN", "POP3_PORT", "Filter_Sender",
                             "Auto_Start", "NOTICE_DAY", "AccountKey", "SelectSmtpServer"})
        EXPECT_TRUE(option.count(name)) << name;
    for (const char* name : {"Del_Day", "Update_Server", "Update_Term", "Select_Warn"})
        EXPECT_FALSE(option.count(name)) << name;
    auto uninstall = StoredValues("UNINSTALL");
    EXPECT_TRUE(uninstall.count("Update_Program"));
    EXPECT_FALSE(uninstall.count("UPDATE_PROGRAM"));
    // The version belongs to the updater and the INFO values to the start-up.
    EXPECT_TRUE(StoredValues("UPDATE").empty());
    EXPECT_TRUE(StoredValues("INFO").empty());
    EXPECT_EQ(option.size(), 38u);  // 33 numbers and 5 strings
    EXPECT_TRUE(option.count("USE_LEARN"));
}

TEST_F(SettingsTest, AFailedLoadNeverSavesTheDefaultsOverTheStoredValues)
{
    WriteDword("OPTION", "USE_WARN", 1);
    ASSERT_TRUE(LoadSettings());
    ASSERT_EQ(GetSetting(IntSetting::UseWarn), 1);
    // The registry cannot be opened for a while (here: its path is a directory).
    setenv("ORVANTA_REGISTRY", dir_.c_str(), 1);
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(GetSetting(IntSetting::UseWarn), 0);
    setenv("ORVANTA_REGISTRY", (dir_ / "registry.db").c_str(), 1);
    EXPECT_FALSE(SaveSettings());
    EXPECT_EQ(StoredValues("OPTION")["USE_WARN"], 1);
    // A good load makes saving possible again.
    ASSERT_TRUE(LoadSettings());
    EXPECT_TRUE(SaveSettings());
}

TEST_F(SettingsTest, RoundTripOfEveryValue)
{
    for (int i = 0; i < static_cast<int>(IntSetting::Count); ++i)
        SetSetting(static_cast<IntSetting>(i), 1000 + i);
    SetSetting(StringSetting::SelectSmtpServer, "smtp.example.org");
    SetSetting(StringSetting::NoticeDay, "20240102");
    SetSetting(StringSetting::ReadDay, "20240103");
    SetSetting(StringSetting::AccountKey, "changed");
    ASSERT_TRUE(SaveSettings());
    ResetSettings();
    ASSERT_TRUE(LoadSettings());
    for (int i = 0; i < static_cast<int>(IntSetting::Count); ++i) {
        // A value the program only reads ("FLAG") keeps what was stored: nothing.
        const SettingInfo& info = Describe(static_cast<IntSetting>(i));
        EXPECT_EQ(GetSetting(static_cast<IntSetting>(i)), info.writtenName ? 1000 + i : info.intDefault)
            << info.readName;
    }
    EXPECT_EQ(GetSetting(StringSetting::SelectSmtpServer), "smtp.example.org");
    EXPECT_EQ(GetSetting(StringSetting::NoticeDay), "20240102");
    EXPECT_EQ(GetSetting(StringSetting::ReadDay), "20240103");
    // The account key is fixed at load time whatever was stored.
    EXPECT_EQ(GetSetting(StringSetting::AccountKey), "00002002");
    EXPECT_EQ(StoredValues("OPTION").size(), 38u);  // saved twice, still one value per name
}

TEST_F(SettingsTest, LoadFindsValuesWrittenInAnyCapitalisation)
{
    WriteDword("OPTION", "DEL_DAY", 17);
    WriteDword("option", "update_server", 3);
    WriteDword("OPTION", "Select_Warn", 2);
    WriteDword("UNINSTALL", "update_program", 4);
    WriteString("UPDATE", "orvanta.EXE", "1.3.1");
    WriteString("OPTION", "notice_day", "20230505");
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(GetSetting(IntSetting::DelDay), 17);
    EXPECT_EQ(GetSetting(IntSetting::UpdateServer), 3);
    EXPECT_EQ(GetSetting(IntSetting::SelectWarn), 2);
    EXPECT_EQ(GetSetting(IntSetting::UpdateProgram), 4);
    EXPECT_EQ(GetSetting(StringSetting::ProgramVersion), "1.3.1");
    EXPECT_EQ(GetSetting(StringSetting::NoticeDay), "20230505");
}

TEST_F(SettingsTest, AValueOfTheWrongTypeTakesItsDefault)
{
    WriteString("OPTION", "POP3_PORT", "11000");
    WriteDword("OPTION", "READ_DAY", 5);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(GetSetting(IntSetting::Pop3Port), 115);
    EXPECT_EQ(GetSetting(StringSetting::ReadDay), "20020710");
}

TEST_F(SettingsTest, HooksRunAfterLoadAndBeforeSave)
{
    std::vector<std::string> calls;
    AddSettingsLoadHook([&] { calls.push_back("load:" + std::to_string(GetSetting(IntSetting::Pop3Port))); });
    AddSettingsSaveHook([&] { calls.push_back("save"); });
    WriteDword("OPTION", "POP3_PORT", 11500);
    LoadSettings();
    SaveSettings();
    ClearSettingsHooks();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "load:11500");
    EXPECT_EQ(calls[1], "save");
}

TEST_F(SettingsTest, ProgramInfoForTheUpdater)
{
    ASSERT_TRUE(WriteProgramInfo("/opt/orvanta"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Pellix Technology\\Orvanta\\INFO", &key), ERROR_SUCCESS);
    char buf[200];
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueEx(key, "Program Name", &type, reinterpret_cast<unsigned char*>(buf), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "Orvanta Zidevoz");
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(key, "program path", &type, reinterpret_cast<unsigned char*>(buf), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "/opt/orvanta");
    RegCloseKey(key);
}

}  // namespace
