#pragma once

#include <string>
#include <vector>

#include "platform/registry.h"

// The mail client's account store in the current user's registry: one subkey per account
// below kAccountsKey. Texts are handled in 100-byte buffers (at most 99 characters), numbers
// as 4-byte REG_DWORD values.
namespace orvanta::accounts {

inline constexpr const char* kAccountsKey = "Software\\Microsoft\\Internet Account Manager\\Accounts";
inline constexpr unsigned kTextRoom = 100;
// Enumeration looks at the subkey indices 0 to kLastIndex.
inline constexpr platform::DWORD kLastIndex = 100;

// A registry handle closed when it goes out of scope.
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { Reset(); }
    void Reset()
    {
        if (key_)
            platform::RegCloseKey(key_);
        key_ = nullptr;
    }
    platform::HKEY get() const { return key_; }
    platform::HKEY* out()
    {
        Reset();
        return &key_;
    }
    explicit operator bool() const { return key_ != nullptr; }

private:
    platform::HKEY key_ = nullptr;
};

bool OpenAccounts(Key& accounts);
bool OpenAccount(platform::HKEY accounts, const std::string& name, Key& account);

enum class TextRead { Absent, Ok, TooLong };
// A string value that fits the 100-byte buffer; a value of another type counts as absent.
TextRead ReadText(platform::HKEY key, const char* name, std::string& out);
// A REG_DWORD value; false when it does not read.
bool ReadNumber(platform::HKEY key, const char* name, platform::DWORD& out);
bool WriteText(platform::HKEY key, const char* name, const std::string& value);
bool WriteNumber(platform::HKEY key, const char* name, platform::DWORD value);

// Account keys: subkeys of the accounts key whose name is 8 characters long and starts "00",
// in enumeration order.
std::vector<std::string> AccountKeys(platform::HKEY accounts);

// The POP3 account list: account keys that open and whose "POP3 USER Name" reads into 100
// bytes. The names whose user name is too long for that go to *overlong when given.
std::vector<std::string> Pop3Accounts(platform::HKEY accounts, std::vector<std::string>* overlong = nullptr);
std::vector<std::string> Pop3Accounts();

}  // namespace orvanta::accounts
