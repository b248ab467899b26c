#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const char kOption[] = "Software\\Pellix Technology\\Orvanta\\OPTION";

// Every test gets a registry file of its own in a fresh directory.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvanta-reg-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        dbPath_ = (dir_ / "sub dir" / "registry.db").string();
        setenv("ORVANTA_REGISTRY", dbPath_.c_str(), 1);
    }
    void TearDown() override
    {
        for (HKEY k : open_)
            RegCloseKey(k);
        unsetenv("ORVANTA_REGISTRY");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    HKEY Create(const char* path, HKEY parent = HKEY_CURRENT_USER)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(parent, path, &key), ERROR_SUCCESS) << path;
        open_.push_back(key);
        return key;
    }
    static void SetString(HKEY key, const char* name, const std::string& text)
    {
        ASSERT_EQ(RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const unsigned char*>(text.c_str()),
                                static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    static void SetNumber(HKEY key, const char* name, DWORD value)
    {
        ASSERT_EQ(RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const unsigned char*>(&value), sizeof value),
                  ERROR_SUCCESS);
    }
    // The value as the caller sees it: text without the terminator, or "" when missing.
    static std::string GetString(HKEY key, const char* name)
    {
        unsigned char buf[512];
        DWORD size = sizeof buf;
        DWORD type = 0;
        if (RegQueryValueEx(key, name, &type, buf, &size) != ERROR_SUCCESS || type != REG_SZ)
            return "<none>";
        EXPECT_GE(size, 1u);
        EXPECT_EQ(buf[size - 1], 0);
        return std::string(reinterpret_cast<char*>(buf), size - 1);
    }
    static std::vector<std::string> Subkeys(HKEY key)
    {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[300];
            DWORD size = sizeof name;
            const LONG rc = RegEnumKeyEx(key, i, name, &size);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            EXPECT_EQ(rc, ERROR_SUCCESS);
            if (rc != ERROR_SUCCESS || i > 1000)
                break;
            EXPECT_EQ(size, std::strlen(name));
            names.emplace_back(name, size);
        }
        return names;
    }
    static std::vector<std::string> ValueNames(HKEY key)
    {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[300];
            DWORD size = sizeof name;
            const LONG rc = RegEnumValue(key, i, name, &size, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            EXPECT_EQ(rc, ERROR_SUCCESS);
            if (rc != ERROR_SUCCESS || i > 100000)
                break;
            names.emplace_back(name, size);
        }
        return names;
    }

    fs::path dir_;
    std::string dbPath_;
    std::vector<HKEY> open_;
};

TEST_F(RegistryTest, NamesIgnoreAsciiCaseAndKeepTheirFirstSpelling)
{
    DWORD disposition = 0;
    HKEY option = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kOption, &option, &disposition), ERROR_SUCCESS);
    open_.push_back(option);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    SetNumber(option, "POP3_PORT", 115);
    SetString(option, "Del_Term", "7");
    SetString(option, "DEL_TERM", "30");  // the same value, written in another capitalisation

    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\pellix TECHNOLOGY\\orvanta\\Option", &again), ERROR_SUCCESS);
    open_.push_back(again);
    DWORD port = 0, size = sizeof port, type = 0;
    ASSERT_EQ(RegQueryValueEx(again, "pop3_port", &type, reinterpret_cast<unsigned char*>(&port), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(port, 115u);
    EXPECT_EQ(GetString(again, "del_term"), "30");
    EXPECT_EQ(ValueNames(again), (std::vector<std::string>{"POP3_PORT", "Del_Term"}));

    HKEY third = Create("software\\PELLIX technology\\ORVANTA\\option", HKEY_CURRENT_USER);
    EXPECT_EQ(Subkeys(HKEY_CURRENT_USER), (std::vector<std::string>{"Software"}));
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "SOFTWARE", &third, &disposition), ERROR_SUCCESS);
    open_.push_back(third);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(Subkeys(third), (std::vector<std::string>{"Pellix Technology"}));

    // Doubled and trailing separators are tolerated; a missing key is reported.
    HKEY loose = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\\\Pellix Technology\\", &loose), ERROR_SUCCESS);
    RegCloseKey(loose);
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Nobody", &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(GetString(again, "NoSuchValue"), "<none>");
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderIgnoringCase)
{
    HKEY accounts = Create("Software\\Microsoft\\Internet Account Manager\\Accounts");
    for (const char* name : {"b", "00000002", "A", "_x", "B2", "c", "00000001", "a1"}) {
        RegCloseKey(Create(name, accounts));
        open_.pop_back();
    }
    // Upper-cased comparison, as the original platform sorts: "_" (0x5F) after the letters.
    EXPECT_EQ(Subkeys(accounts), (std::vector<std::string>{"00000001", "00000002", "A", "a1", "b", "B2", "c", "_x"}));
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(accounts, 8, name, &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyEx(accounts, 0, nullptr, &size), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderAndRewritingKeepsThePlace)
{
    HKEY update = Create("Software\\Pellix Technology\\Orvanta\\update");
    SetString(update, "zeta.dll", "1");
    SetString(update, "DATE", "20261207");
    SetNumber(update, "Mid", 3);
    SetString(update, "date", "20261208");  // rewrite: keeps second place and "DATE"
    EXPECT_EQ(ValueNames(update), (std::vector<std::string>{"zeta.dll", "DATE", "Mid"}));

    ASSERT_EQ(RegDeleteValue(update, "ZETA.DLL"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(update, "zeta.dll"), ERROR_FILE_NOT_FOUND);
    SetString(update, "Zeta.dll", "2");
    EXPECT_EQ(ValueNames(update), (std::vector<std::string>{"DATE", "Mid", "Zeta.dll"}));

    // Type and data come along with the enumeration; a value may change its type.
    SetString(update, "Mid", "three");
    char name[32];
    DWORD nameSize = sizeof name, type = 0;
    unsigned char data[32];
    DWORD dataSize = sizeof data;
    ASSERT_EQ(RegEnumValue(update, 1, name, &nameSize, &type, data, &dataSize), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, nameSize), "Mid");
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(dataSize, 6u);
    EXPECT_STREQ(reinterpret_cast<char*>(data), "three");
    nameSize = sizeof name;
    EXPECT_EQ(RegEnumValue(update, 3, name, &nameSize, &type, data, &dataSize), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, SizesAndMoreData)
{
    HKEY info = Create("Software\\Pellix Technology\\Orvanta\\info");
    SetString(info, "PROGRAM NAME", "Orvanta");
    SetNumber(info, "N", 0x12345678);
    // A REG_SZ passed without its terminator (strlen) is stored the same way.
    ASSERT_EQ(RegSetValueEx(info, "PROGRAM PATH", REG_SZ, reinterpret_cast<const unsigned char*>("/opt/o"), 6),
              ERROR_SUCCESS);
    EXPECT_EQ(GetString(info, "PROGRAM PATH"), "/opt/o");
    // Bytes after an embedded NUL are not part of the text.
    ASSERT_EQ(RegSetValueEx(info, "Cut", REG_SZ, reinterpret_cast<const unsigned char*>("ab\0cd"), 5), ERROR_SUCCESS);
    EXPECT_EQ(GetString(info, "Cut"), "ab");

    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(info, "program name", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);  // "Orvanta" and its terminator

    unsigned char buf[16];
    std::memset(buf, 'x', sizeof buf);
    size = 7;  // one short: no room for the terminator
    EXPECT_EQ(RegQueryValueEx(info, "PROGRAM NAME", &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buf[7], 'x');  // nothing written past the room given
    size = 8;
    ASSERT_EQ(RegQueryValueEx(info, "PROGRAM NAME", &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "Orvanta");

    size = 3;
    EXPECT_EQ(RegQueryValueEx(info, "N", &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RegQueryValueEx(info, "N", nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(info, "N", nullptr, nullptr, nullptr), ERROR_SUCCESS);  // existence test
    EXPECT_EQ(RegQueryValueEx(info, "Missing", &type, buf, &size), ERROR_FILE_NOT_FOUND);

    // Empty string: size 1. The default value answers to a null and to an empty name.
    SetString(info, nullptr, "");
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(info, "", &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(buf[0], 0);

    // Bad writes.
    const DWORD n = 1;
    EXPECT_EQ(RegSetValueEx(info, "D", REG_DWORD, reinterpret_cast<const unsigned char*>(&n), 2),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(info, "B", 3 /* REG_BINARY */, buf, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(info, "S", REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);

    // Enumeration: a name of 12 needs room 13; the data size is reported even when too small.
    char name[16];
    DWORD nameSize = 12;
    EXPECT_EQ(RegEnumValue(info, 0, name, &nameSize, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(nameSize, 13u);
    nameSize = 13;
    size = 2;
    EXPECT_EQ(RegEnumValue(info, 0, name, &nameSize, &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_STREQ(name, "PROGRAM NAME");
    EXPECT_EQ(nameSize, 12u);
    EXPECT_EQ(size, 8u);

    HKEY root = Create("Software");
    char keyName[32];
    DWORD keySize = 17;  // "Pellix Technology" is 17 long: no room for the terminator
    EXPECT_EQ(RegEnumKeyEx(root, 0, keyName, &keySize), ERROR_MORE_DATA);
    EXPECT_EQ(keySize, 18u);
    ASSERT_EQ(RegEnumKeyEx(root, 0, keyName, &keySize), ERROR_SUCCESS);
    EXPECT_EQ(keySize, 17u);
    EXPECT_STREQ(keyName, "Pellix Technology");
}

TEST_F(RegistryTest, DeletingAKeyTakesItsSubkeysAndValues)
{
    HKEY c = Create("Software\\A\\B\\C");
    SetString(c, "v", "1");
    HKEY d = Create("Software\\A\\B\\D\\E");
    SetNumber(d, "w", 2);
    HKEY sibling = Create("Software\\A\\BB");
    SetString(sibling, "keep", "yes");
    HKEY b = Create("Software\\A\\B");
    SetString(b, "own", "x");

    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Software\\A\\Nope"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "software\\a\\b"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Software\\A\\B"), ERROR_FILE_NOT_FOUND);

    HKEY probe = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\A\\B\\D\\E", &probe), ERROR_FILE_NOT_FOUND);
    HKEY a = Create("Software\\A");
    EXPECT_EQ(Subkeys(a), (std::vector<std::string>{"BB"}));
    EXPECT_EQ(GetString(sibling, "keep"), "yes");

    // Handles to the deleted keys see nothing and cannot write into the void.
    EXPECT_EQ(GetString(c, "v"), "<none>");
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueEx(c, "v", REG_DWORD, reinterpret_cast<const unsigned char*>(&one), 4), ERROR_KEY_DELETED);
    HKEY under = nullptr;
    EXPECT_EQ(RegCreateKeyEx(d, "F", &under), ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyEx(b, nullptr, &under), ERROR_KEY_DELETED);

    // A key made again under the same name starts empty, and old handles stay apart from it.
    HKEY bAgain = Create("Software\\A\\B");
    EXPECT_TRUE(Subkeys(bAgain).empty());
    EXPECT_TRUE(ValueNames(bAgain).empty());
    SetString(bAgain, "own", "new");
    EXPECT_EQ(GetString(b, "own"), "<none>");
}

TEST_F(RegistryTest, Cp949TextsRoundTripByteForByte)
{
    // "환경설정" in CP949, and two syllables whose second bytes are 'A' and 'a'.
    const std::string settings = "\xC8\xAF\xB0\xE6\xBC\xB3\xC1\xA4";
    const std::string gak = "\x81\x41";  // 갂
    const std::string gat = "\x81\x61";  // 갵
    HKEY key = Create(("Software\\" + settings).c_str());

    std::string everyByte;
    for (int c = 1; c < 256; ++c)
        everyByte.push_back(static_cast<char>(c));
    SetString(key, settings.c_str(), everyByte);
    SetString(key, gak.c_str(), "first");
    SetString(key, gat.c_str(), "second");
    SetString(key, "Abc", settings);

    EXPECT_EQ(GetString(key, settings.c_str()), everyByte);
    EXPECT_EQ(GetString(key, gak.c_str()), "first");
    EXPECT_EQ(GetString(key, gat.c_str()), "second");
    EXPECT_EQ(GetString(key, "aBC"), settings);
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{settings, gak, gat, "Abc"}));

    EXPECT_TRUE(RegNamesEqual("Pop3 Backup", "POP3 BACKUP"));
    EXPECT_FALSE(RegNamesEqual(gak, gat));
    EXPECT_FALSE(RegNamesEqual("a", "ab"));

    HKEY software = Create("Software");
    RegCloseKey(Create(gat.c_str(), software));
    open_.pop_back();
    RegCloseKey(Create(gak.c_str(), software));
    open_.pop_back();
    EXPECT_EQ(Subkeys(software), (std::vector<std::string>{gak, gat, settings}));
}

TEST_F(RegistryTest, HandlesAndDatabaseFiles)
{
    HKEY key = Create("Software\\X");
    SetString(key, "v", "in first file");
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Y", nullptr), ERROR_INVALID_PARAMETER);

    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyEx(key, "", &closed), ERROR_SUCCESS);
    EXPECT_EQ(GetString(closed, "V"), "in first file");
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(closed, "v", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

    // The file and its folder were created, for the owner only.
    struct stat st {};
    ASSERT_EQ(stat(dbPath_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(RegistryDatabasePath(), dbPath_);

    // Another file for HKEY_CURRENT_USER; the open handle keeps its own file.
    const std::string second = (dir_ / "second.db").string();
    setenv("ORVANTA_REGISTRY", second.c_str(), 1);
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\X", &other), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetString(key, "v"), "in first file");
    EXPECT_TRUE(fs::exists(second));

    // Without ORVANTA_REGISTRY: $XDG_CONFIG_HOME, else ~/.config (a relative XDG_CONFIG_HOME
    // does not count).
    unsetenv("ORVANTA_REGISTRY");
    const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    const char* oldXdg = getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
    EXPECT_EQ(RegistryDatabasePath(), (dir_ / "xdg" / "orvanta" / "registry.db").string());
    HKEY x = Create("Software\\Z");
    EXPECT_TRUE(fs::exists(dir_ / "xdg" / "orvanta" / "registry.db"));
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", (dir_ / "home").c_str(), 1);
    EXPECT_EQ(RegistryDatabasePath(), (dir_ / "home" / ".config" / "orvanta" / "registry.db").string());
    (void)x;
    setenv("HOME", oldHome.c_str(), 1);
    if (oldXdg) {
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(RegistryTest, AFileThatIsNoDatabaseIsReportedAndLeftAlone)
{
    const fs::path junk = dir_ / "junk.db";
    const std::string bytes(5000, 'j');
    {
        FILE* f = fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    setenv("ORVANTA_REGISTRY", junk.c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", &key), ERROR_CANTOPEN);
    EXPECT_EQ(key, nullptr);
    char name[8];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(HKEY_CURRENT_USER, 0, name, &size), ERROR_CANTOPEN);
    EXPECT_EQ(fs::file_size(junk), bytes.size());

    // A folder that cannot be made: also ERROR_CANTOPEN, not a crash.
    setenv("ORVANTA_REGISTRY", (junk / "below a file" / "r.db").c_str(), 1);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", &key), ERROR_CANTOPEN);
}

TEST_F(RegistryTest, Win32ShapedCallsWork)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kOption, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             &key, &disposition),
              ERROR_SUCCESS);
    open_.push_back(key);
    const char text[] = "localhost";
    ASSERT_EQ(RegSetValueEx(key, "POP3 SERVER", 0, REG_SZ, reinterpret_cast<const unsigned char*>(text), sizeof text),
              ERROR_SUCCESS);
    HKEY read = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kOption, 0, KEY_READ, &read), ERROR_SUCCESS);
    open_.push_back(read);
    unsigned char buf[100];
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueEx(read, "pop3 server", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof text);
    char name[100];
    DWORD nameSize = sizeof name;
    ASSERT_EQ(RegEnumValue(read, 0, name, &nameSize, nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_STREQ(name, "POP3 SERVER");
    HKEY parent = Create("Software\\Pellix Technology\\Orvanta");
    nameSize = sizeof name;
    ASSERT_EQ(RegEnumKeyEx(parent, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "OPTION");
}

TEST_F(RegistryTest, ThreadsShareHandlesSafely)
{
    HKEY shared = Create("Software\\Threads");
    constexpr int kThreads = 4, kEach = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([shared, t] {
            HKEY own = nullptr;
            if (RegCreateKeyEx(HKEY_CURRENT_USER, "software\\threads", &own) != ERROR_SUCCESS)
                return;
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
                const DWORD v = static_cast<DWORD>(i);
                RegSetValueEx(i % 2 ? own : shared, name.c_str(), REG_DWORD, reinterpret_cast<const unsigned char*>(&v),
                              4);
            }
            RegCloseKey(own);
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(ValueNames(shared).size(), static_cast<std::size_t>(kThreads * kEach));
}

// Writers in separate processes, each on its own connection; a child forked after the
// parent opened the database must not reuse the parent's connection.
TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing)
{
    HKEY key = Create("Software\\Shared");
    SetString(key, "before", "parent");
    constexpr int kWriters = 2, kEach = 400;

    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            HKEY k = nullptr;
            if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Shared", &k) != ERROR_SUCCESS)
                _exit(2);
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
                const std::string text = std::to_string(i * 7);
                if (RegSetValueEx(k, name.c_str(), REG_SZ, reinterpret_cast<const unsigned char*>(text.c_str()),
                                  static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
                    ++failures;
                }
                // A key per step too: creation races on the same names must end in one key each.
                HKEY sub = nullptr;
                if (RegCreateKeyEx(k, ("Sub" + std::to_string(i % 20)).c_str(), &sub) != ERROR_SUCCESS) {
                    ++failures;
                } else {
                    RegCloseKey(sub);
                }
            }
            RegCloseKey(k);
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    // The parent keeps writing meanwhile.
    for (int i = 0; i < 100; ++i)
        SetNumber(key, ("p_" + std::to_string(i)).c_str(), i);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    const auto names = ValueNames(key);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(1 + 100 + kWriters * kEach));
    // Each writer's values appear in the order it wrote them.
    std::map<std::string, int> last;
    for (const auto& n : names) {
        const auto cut = n.find('_');
        if (cut == std::string::npos)
            continue;
        const int i = std::stoi(n.substr(cut + 1));
        const std::string who = n.substr(0, cut);
        if (last.count(who)) {
            EXPECT_LT(last[who], i) << n;
        }
        last[who] = i;
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kEach; i += 37) {
            const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
            EXPECT_EQ(GetString(key, name.c_str()), std::to_string(i * 7)) << name;
        }
    }
    EXPECT_EQ(Subkeys(key).size(), 20u);
    EXPECT_EQ(GetString(key, "before"), "parent");
}

// Several processes that find no database yet and all create it at the same moment.
TEST_F(RegistryTest, ProcessesCreatingTheDatabaseAtOnce)
{
    ASSERT_FALSE(fs::exists(dbPath_));
    constexpr int kProcesses = 4, kEach = 50;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char c;
            if (read(gate[0], &c, 1) != 0)
                _exit(3);  // returns 0 once the parent closes its end
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                HKEY k = nullptr;
                const std::string path = "Software\\P" + std::to_string(p);
                if (RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), &k) != ERROR_SUCCESS) {
                    ++failures;
                    continue;
                }
                const DWORD v = static_cast<DWORD>(i);
                if (RegSetValueEx(k, ("v" + std::to_string(i)).c_str(), REG_DWORD,
                                  reinterpret_cast<const unsigned char*>(&v), 4) != ERROR_SUCCESS) {
                    ++failures;
                }
                RegCloseKey(k);
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    HKEY software = Create("Software");
    EXPECT_EQ(Subkeys(software), (std::vector<std::string>{"P0", "P1", "P2", "P3"}));
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_EQ(ValueNames(Create(("Software\\P" + std::to_string(p)).c_str())).size(),
                  static_cast<std::size_t>(kEach));
    }
}

}  // namespace
