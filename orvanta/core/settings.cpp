#include "orvanta/core/settings.h"

#include "orvanta/core/log.h"

#include <array>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/registry.h"

namespace orvanta {
namespace {

constexpr const char* kOption = "OPTION";
constexpr const char* kUninstall = "UNINSTALL";

// Order and values follow IntSetting.
const std::array<SettingInfo, static_cast<size_t>(IntSetting::Count)> kIntTable = {{
    {kOption, "POP3_PORT", "POP3_PORT", 115, nullptr},
    {kOption, "SMTP_PORT", "SMTP_PORT", 26, nullptr},
    {kOption, "IMAP_PORT", "IMAP_PORT", 144, nullptr},
    {kOption, "IMAP_LOCAL", "IMAP_LOCAL", 1, nullptr},
    {kOption, "USE_ONLINE", "USE_ONLINE", 1, nullptr},
    {kOption, "USE_PRIVATE", "USE_PRIVATE", 1, nullptr},
    {kOption, "USE_PASS", "USE_PASS", 1, nullptr},
    {kOption, "FILTER_PRIORITY", "FILTER_PRIORITY", 2, nullptr},
    {kOption, "Filter_Sender", "Filter_Sender", 1, nullptr},
    {kOption, "Filter_Subject", "Filter_Subject", 1, nullptr},
    {kOption, "Filter_Content", "Filter_Content", 0, nullptr},
    {kOption, "Filter_Mesg", "Filter_Mesg", 0, nullptr},
    {kOption, "Filter_FileName", "Filter_FileName", 1, nullptr},
    {kOption, "DEL_LOG", "DEL_LOG", 1, nullptr},
    {kOption, "Del_Term", "Del_Term", 0, nullptr},
    {kOption, "Del_Year", "Del_Year", 0, nullptr},
    {kOption, "Del_Month", "Del_Month", 0, nullptr},
    {kOption, "Del_Day", "Del_DAY", 0, nullptr},
    {kOption, "USE_WARN", "USE_WARN", 0, nullptr},
    {kOption, "Select_Warn", "SELECT_WARN", 0, nullptr},
    {kOption, "Auto_Pass", "Auto_Pass", 0, nullptr},
    {kOption, "Auto_Spam", "Auto_Spam", 0, nullptr},
    {kOption, "SelectSmtpPort", "SelectSmtpPort", 25, nullptr},
    {kOption, "SelectSmtpAlways", "SelectSmtpAlways", 0, nullptr},
    {kOption, "Update_Server", "UPDATE_SERVER", 0, nullptr},
    {kOption, "Update_Term", "UPDATE_TERM", 1, nullptr},
    {kOption, "UPDATE_YEAR", "UPDATE_YEAR", 0, nullptr},
    {kOption, "UPDATE_MONTH", "UPDATE_MONTH", 0, nullptr},
    {kOption, "UPDATE_DAY", "UPDATE_DAY", 0, nullptr},
    {kOption, "Auto_Start", "Auto_Start", 1, nullptr},
    {kOption, "EXAM_SECONDS", "EXAM_SECONDS", 60, nullptr},
    {kOption, "TLS_REQUIRED", "TLS_REQUIRED", 0, nullptr},
    {kOption, "USE_LEARN", "USE_LEARN", 1, nullptr},
    {kUninstall, "UPDATE_PROGRAM", "Update_Program", 0, nullptr},
    // Set by the installation, never by this program: writing back the value read at start
    // would undo a change made while the program runs.
    {kUninstall, "FLAG", nullptr, 0, nullptr},
    // Read, never written: they are there only when someone put them there.
    {kOption, "SERVER_CONNECT_SECONDS", nullptr, 30, nullptr},
    {kOption, "SERVER_REPLY_SECONDS", nullptr, 60, nullptr},
}};

// Order and values follow StringSetting.
const std::array<SettingInfo, static_cast<size_t>(StringSetting::Count)> kStringTable = {{
    {kOption, "SelectSmtpServer", "SelectSmtpServer", 0, ""},
    {kOption, "NOTICE_DAY", "NOTICE_DAY", 0, "20020710"},
    {kOption, "READ_DAY", "READ_DAY", 0, "20020710"},
    {kOption, nullptr, "AccountKey", 0, "00002002"},
    {"UPDATE", "Orvanta.exe", nullptr, 0, "1.2.0"},
    {kOption, "IMAP_PASSWORD", "IMAP_PASSWORD", 0, ""},
}};

struct Table {
    std::mutex lock;
    std::array<int, kIntTable.size()> ints{};
    std::array<std::string, kStringTable.size()> strings;
    std::vector<std::function<void()>> loadHooks;
    std::vector<std::function<void()>> saveHooks;
    // The last load could not read the registry: the table holds defaults, not the user's
    // values, and saving it would overwrite them.
    bool loadFailed = false;

    Table() { Reset(); }
    void Reset()
    {
        loadFailed = false;
        for (size_t i = 0; i < kIntTable.size(); ++i)
            ints[i] = kIntTable[i].intDefault;
        for (size_t i = 0; i < kStringTable.size(); ++i)
            strings[i] = kStringTable[i].stringDefault;
    }
};

Table& TheTable()
{
    static Table table;
    return table;
}

// Opens (creating) one section key; the caller closes it.
platform::HKEY OpenSection(const char* section)
{
    std::string path = std::string(kRegistryRoot) + "\\" + section;
    platform::HKEY key = nullptr;
    if (platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &key) != platform::ERROR_SUCCESS)
        return nullptr;
    return key;
}

// A small cache of open section keys for one load or save.
class Sections {
public:
    ~Sections()
    {
        for (auto& [name, key] : keys_)
            if (key)
                platform::RegCloseKey(key);
    }
    platform::HKEY Get(const char* section)
    {
        for (auto& [name, key] : keys_)
            if (name == section)
                return key;
        platform::HKEY key = OpenSection(section);
        keys_.emplace_back(section, key);
        if (!key)
            failed_ = true;
        return key;
    }
    bool Failed() const { return failed_; }

private:
    std::vector<std::pair<std::string, platform::HKEY>> keys_;
    bool failed_ = false;
};

bool ReadInt(platform::HKEY key, const char* name, int* value)
{
    platform::DWORD type = 0, data = 0, size = sizeof data;
    if (platform::RegQueryValueEx(key, name, &type, reinterpret_cast<unsigned char*>(&data), &size) !=
            platform::ERROR_SUCCESS ||
        type != platform::REG_DWORD || size != sizeof data)
        return false;
    *value = static_cast<int>(data);
    return true;
}

bool ReadString(platform::HKEY key, const char* name, std::string* value)
{
    platform::DWORD type = 0, size = 0;
    if (platform::RegQueryValueEx(key, name, &type, nullptr, &size) != platform::ERROR_SUCCESS ||
        type != platform::REG_SZ)
        return false;
    std::vector<unsigned char> data(size + 1, 0);
    platform::DWORD room = size;
    if (platform::RegQueryValueEx(key, name, &type, data.data(), &room) != platform::ERROR_SUCCESS)
        return false;
    *value = std::string(reinterpret_cast<const char*>(data.data()));
    return true;
}

bool WriteInt(platform::HKEY key, const char* name, int value)
{
    platform::DWORD data = static_cast<platform::DWORD>(value);
    return platform::RegSetValueEx(key, name, platform::REG_DWORD, reinterpret_cast<const unsigned char*>(&data),
                                   sizeof data) == platform::ERROR_SUCCESS;
}

bool WriteString(platform::HKEY key, const char* name, const std::string& value)
{
    return platform::RegSetValueEx(key, name, platform::REG_SZ, reinterpret_cast<const unsigned char*>(value.c_str()),
                                   static_cast<platform::DWORD>(value.size() + 1)) == platform::ERROR_SUCCESS;
}

}  // namespace

const SettingInfo& Describe(IntSetting id) { return kIntTable.at(static_cast<size_t>(id)); }
const SettingInfo& Describe(StringSetting id) { return kStringTable.at(static_cast<size_t>(id)); }

int GetSetting(IntSetting id)
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    return t.ints.at(static_cast<size_t>(id));
}

void SetSetting(IntSetting id, int value)
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    t.ints.at(static_cast<size_t>(id)) = value;
}

std::string GetSetting(StringSetting id)
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    return t.strings.at(static_cast<size_t>(id));
}

void SetSetting(StringSetting id, const std::string& value)
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    t.strings.at(static_cast<size_t>(id)) = value;
}

void ResetSettings()
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    t.Reset();
}

void AddSettingsLoadHook(std::function<void()> hook)
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    t.loadHooks.push_back(std::move(hook));
}

void AddSettingsSaveHook(std::function<void()> hook)
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    t.saveHooks.push_back(std::move(hook));
}

void ClearSettingsHooks()
{
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    t.loadHooks.clear();
    t.saveHooks.clear();
}

bool LoadSettings()
{
    Table& t = TheTable();
    bool ok = true;
    std::vector<std::function<void()>> hooks;
    {
        Sections sections;
        std::lock_guard guard(t.lock);
        t.Reset();
        for (size_t i = 0; i < kIntTable.size(); ++i) {
            platform::HKEY key = sections.Get(kIntTable[i].section);
            int value = 0;
            if (key && ReadInt(key, kIntTable[i].readName, &value))
                t.ints[i] = value;
        }
        for (size_t i = 0; i < kStringTable.size(); ++i) {
            if (!kStringTable[i].readName)
                continue;  // the account key keeps its fixed value
            platform::HKEY key = sections.Get(kStringTable[i].section);
            std::string value;
            if (key && ReadString(key, kStringTable[i].readName, &value))
                t.strings[i] = value;
        }
        ok = !sections.Failed();
        t.loadFailed = !ok;
        hooks = t.loadHooks;
    }
    // Outside the lock: the hooks read settings themselves.
    for (auto& hook : hooks)
        hook();
    return ok;
}

bool SaveSettings()
{
    Table& t = TheTable();
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard guard(t.lock);
        hooks = t.saveHooks;
    }
    for (auto& hook : hooks)
        hook();

    Sections sections;
    bool ok = true;
    std::lock_guard guard(t.lock);
    if (t.loadFailed) {
        LogUtf8("The settings were not saved: they could not be read at start, and saving the defaults would "
                "overwrite them.");
        return false;
    }
    for (size_t i = 0; i < kIntTable.size(); ++i) {
        if (!kIntTable[i].writtenName)
            continue;
        platform::HKEY key = sections.Get(kIntTable[i].section);
        ok = key && WriteInt(key, kIntTable[i].writtenName, t.ints[i]) && ok;
    }
    for (size_t i = 0; i < kStringTable.size(); ++i) {
        if (!kStringTable[i].writtenName)
            continue;
        platform::HKEY key = sections.Get(kStringTable[i].section);
        ok = key && WriteString(key, kStringTable[i].writtenName, t.strings[i]) && ok;
    }
    return ok;
}

bool WriteProgramInfo(const std::string& programDirectory)
{
    Sections sections;
    platform::HKEY key = sections.Get("INFO");
    if (!key)
        return false;
    bool ok = WriteString(key, "Program Name", kProgramTitle);
    return WriteString(key, "Program Path", programDirectory) && ok;
}

}  // namespace orvanta
