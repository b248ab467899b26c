#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"

// The mail client's account store in the current user's registry, as far as the main program
// and the uninstaller share it: one subkey per account below kAccountsKey, the walk over the
// account keys, the deletion of the spam-box account and the restore of the POP3 accounts
// from their backup values. Texts are handled in 100-byte buffers (at most 99 characters),
// numbers as 4-byte REG_DWORD values. Needs nothing but the registry stand-in, so the
// uninstaller can build it without the rest of the system.
namespace accountkeys {

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
// The reason given for a value longer than 99 characters.
std::string TooLongReason(const char* value);
// Reads a text that must fit when present: *present tells whether it does; false (and the
// reason in `why`) when it is there but too long.
bool ReadFittingText(platform::HKEY key, const char* value, std::string& out, bool& present, std::string& why);
bool WriteNumber(platform::HKEY key, const char* name, platform::DWORD value);

// Account keys: subkeys of the accounts key whose name is 8 characters long and starts "00",
// in enumeration order.
std::vector<std::string> AccountKeys(platform::HKEY accounts);

// The POP3 account list: account keys that open and whose "POP3 USER Name" reads into 100
// bytes. The names whose user name is too long for that go to *overlong when given.
std::vector<std::string> Pop3Accounts(platform::HKEY accounts, std::vector<std::string>* overlong = nullptr);
std::vector<std::string> Pop3Accounts();

// Where an account that is left as it is gets reported: the account key's name and why (plain
// bytes of the client's code page). The caller decides where such lines go.
using SkipReport = std::function<void(const std::string& name, const std::string& why)>;

// Runs `step` on every POP3 account whose key opens; returns how many it carried out. The
// accounts whose user name is too long to handle are reported when `reportOverlong` is set.
int ForEachPop3Account(const std::function<bool(platform::HKEY, const std::string&)>& step,
                       const SkipReport& report = {}, bool reportOverlong = false);

// Restores one POP3 account (open) from its backups and deletes them. False when the account
// was left as it is, fully or in part (the reason goes to `report`): a backup that does not
// fit is not put back, and a backup whose value could not be written back is kept.
bool RestorePop3Account(platform::HKEY account, const std::string& name, const SkipReport& report);
// Puts the outgoing server and port back from their backups and deletes those backups.
bool PutBackSmtpBackup(platform::HKEY account, const std::string& name, const SkipReport& report);

// The account keys marked "ORVANTA ACCOUNT" (the spam-box account, and any copy of it).
std::vector<std::string> SpamBoxAccounts(platform::HKEY accounts);
// Deletes every account key marked "ORVANTA ACCOUNT"; returns how many.
int DeleteSpamBoxAccounts();

struct RestoreCounts {
    int spamBoxesDeleted = 0;
    int accountsRestored = 0;  // POP3 accounts fully restored, or with nothing to restore
};
// Undoes the link of the mail client: deletes the spam-box account(s), then restores every
// POP3 account. Shows nothing.
RestoreCounts RestoreMailClient(const SkipReport& report);

}  // namespace accountkeys
