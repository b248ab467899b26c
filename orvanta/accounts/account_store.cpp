#include "orvanta/accounts/account_store.h"

#include <cstring>

namespace orvanta::accounts {

using namespace platform;

bool OpenAccounts(Key& accounts)
{
    return RegOpenKeyEx(HKEY_CURRENT_USER, kAccountsKey, accounts.out()) == ERROR_SUCCESS;
}

bool OpenAccount(HKEY accounts, const std::string& name, Key& account)
{
    return RegOpenKeyEx(accounts, name.c_str(), account.out()) == ERROR_SUCCESS;
}

TextRead ReadText(HKEY key, const char* name, std::string& out)
{
    char buf[kTextRoom] = {};
    DWORD type = 0, size = sizeof(buf);
    LONG rc = RegQueryValueEx(key, name, &type, reinterpret_cast<unsigned char*>(buf), &size);
    if (rc == ERROR_MORE_DATA)
        return type == REG_SZ ? TextRead::TooLong : TextRead::Absent;
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return TextRead::Absent;
    buf[kTextRoom - 1] = '\0';
    out = buf;
    return TextRead::Ok;
}

bool ReadNumber(HKEY key, const char* name, DWORD& out)
{
    DWORD type = 0, value = 0, size = sizeof(value);
    if (RegQueryValueEx(key, name, &type, reinterpret_cast<unsigned char*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    out = value;
    return true;
}

bool WriteText(HKEY key, const char* name, const std::string& value)
{
    return RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const unsigned char*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool WriteNumber(HKEY key, const char* name, DWORD value)
{
    return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const unsigned char*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

std::vector<std::string> AccountKeys(HKEY accounts)
{
    std::vector<std::string> keys;
    for (DWORD i = 0; i <= kLastIndex; ++i) {
        char name[kTextRoom];
        DWORD size = sizeof(name);
        LONG rc = RegEnumKeyEx(accounts, i, name, &size);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        // A name too long for the buffer cannot be an account key.
        if (rc != ERROR_SUCCESS)
            continue;
        if (std::strlen(name) == 8 && name[0] == '0' && name[1] == '0')
            keys.push_back(name);
    }
    return keys;
}

std::vector<std::string> Pop3Accounts(HKEY accounts, std::vector<std::string>* overlong)
{
    std::vector<std::string> keys;
    for (const std::string& name : AccountKeys(accounts)) {
        Key account;
        if (!OpenAccount(accounts, name, account))
            continue;
        std::string user;
        TextRead r = ReadText(account.get(), "POP3 USER Name", user);
        if (r == TextRead::Ok)
            keys.push_back(name);
        else if (r == TextRead::TooLong && overlong)
            overlong->push_back(name);
    }
    return keys;
}

std::vector<std::string> Pop3Accounts()
{
    Key accounts;
    if (!OpenAccounts(accounts))
        return {};
    return Pop3Accounts(accounts.get());
}

}  // namespace orvanta::accounts
