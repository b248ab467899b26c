#pragma once

// A registry of the test's own with the mail client's account store in it, and the means to
// seed it and look at it: shared by the tests of the account store and of the uninstaller.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/registry.h"

namespace account_store_test {

inline const std::string kAccounts = "Software\\Microsoft\\Internet Account Manager\\Accounts";

// Every value below the accounts key, as "key\value" -> data ("#<decimal>" for numbers).
using Snapshot = std::map<std::string, std::string>;

class AccountStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A fresh file per test: the registry keeps its database open once used.
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("account_store_" + std::to_string(::getpid()) + "_" + std::to_string(++serial) + ".db");
        std::filesystem::remove(path_);
        setenv("ORVANTA_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override
    {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(path_.string() + suffix);
    }

    static std::string KeyPath(const std::string& key) { return kAccounts + "\\" + key; }

    static void Text(const std::string& key, const char* name, const std::string& value)
    {
        platform::HKEY k = nullptr;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, KeyPath(key).c_str(), &k),
                  platform::ERROR_SUCCESS);
        ASSERT_EQ(platform::RegSetValueEx(k, name, platform::REG_SZ,
                                          reinterpret_cast<const unsigned char*>(value.c_str()),
                                          static_cast<platform::DWORD>(value.size() + 1)),
                  platform::ERROR_SUCCESS);
        platform::RegCloseKey(k);
    }
    static void Number(const std::string& key, const char* name, platform::DWORD value)
    {
        platform::HKEY k = nullptr;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, KeyPath(key).c_str(), &k),
                  platform::ERROR_SUCCESS);
        ASSERT_EQ(
            platform::RegSetValueEx(k, name, platform::REG_DWORD, reinterpret_cast<const unsigned char*>(&value), 4),
            platform::ERROR_SUCCESS);
        platform::RegCloseKey(k);
    }
    // "" when absent, "<no key>" without the key; texts as they are, numbers as "#<decimal>".
    static std::string Get(const std::string& key, const char* name)
    {
        platform::HKEY k = nullptr;
        if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, KeyPath(key).c_str(), &k) != platform::ERROR_SUCCESS)
            return "<no key>";
        unsigned char data[1024];
        platform::DWORD type = 0, size = sizeof(data);
        platform::LONG rc = platform::RegQueryValueEx(k, name, &type, data, &size);
        platform::RegCloseKey(k);
        if (rc != platform::ERROR_SUCCESS)
            return "";
        if (type == platform::REG_DWORD) {
            platform::DWORD v = 0;
            std::memcpy(&v, data, 4);
            return "#" + std::to_string(v);
        }
        return std::string(reinterpret_cast<char*>(data));
    }
    static bool KeyExists(const std::string& key) { return Get(key, "") != "<no key>"; }
    static Snapshot Take()
    {
        Snapshot out;
        platform::HKEY root = nullptr;
        if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, kAccounts.c_str(), &root) != platform::ERROR_SUCCESS)
            return out;
        for (platform::DWORD i = 0;; ++i) {
            char key[256];
            platform::DWORD size = sizeof(key);
            if (platform::RegEnumKeyEx(root, i, key, &size) != platform::ERROR_SUCCESS)
                break;
            out[std::string(key) + "\\"] = "key";
            platform::HKEY k = nullptr;
            if (platform::RegOpenKeyEx(root, key, &k) != platform::ERROR_SUCCESS)
                continue;
            for (platform::DWORD v = 0;; ++v) {
                char name[256];
                platform::DWORD nameSize = sizeof(name);
                if (platform::RegEnumValue(k, v, name, &nameSize, nullptr, nullptr, nullptr) != platform::ERROR_SUCCESS)
                    break;
                out[std::string(key) + "\\" + name] = Get(key, name);
            }
            platform::RegCloseKey(k);
        }
        platform::RegCloseKey(root);
        return out;
    }

    // An account as the main program leaves it once linked: the real values in the backups.
    static void Linked(const std::string& key, const std::string& user, const std::string& server, platform::DWORD port)
    {
        Text(key, "POP3 USER Name", user + "#" + server + "#" + std::to_string(port));
        Text(key, "POP3 Server", "localhost");
        Number(key, "POP3 Port", 115);
        Text(key, "POP3 BACKUP", server);
        Number(key, "POP3 PORT BACKUP", port);
        Text(key, "POP3 USER BACKUP", user);
        Number(key, "POP3 Timeout", 300);
        Number(key, "SMTP Timeout", 300);
    }
    // The spam-box account under `key`.
    static void SpamBox(const std::string& key)
    {
        Text(key, "ORVANTA ACCOUNT", "Orvanta");
        Text(key, "ACCOUNT NAME", "<Orvanta>");
        Text(key, "IMAP SERVER", "localhost");
        Number(key, "IMAP Port", 144);
    }

    std::filesystem::path path_;
};

}  // namespace account_store_test
