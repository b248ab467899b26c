#include "components/accountkeys/account_keys.h"

#include <cstring>

namespace accountkeys {

using namespace platform;

namespace {

// The outgoing server and port back from their backups (the first step of a restore).
// False when a write failed: the backups are then the only copy and must stay.
bool PutBackSmtp(HKEY account, const std::string& smtpBackup)
{
    bool ok = WriteText(account, "SMTP SERVER", smtpBackup);
    DWORD port = 0;
    if (ReadNumber(account, "SMTP PORT BACKUP", port) && port != 0)
        ok = WriteNumber(account, "SMTP Port", port) && ok;
    return ok;
}

void DeleteValues(HKEY account, std::initializer_list<const char*> values)
{
    for (const char* value : values)
        RegDeleteValue(account, value);
}

void Report(const SkipReport& report, const std::string& name, const std::string& why)
{
    if (report)
        report(name, why);
}

}  // namespace

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

std::string TooLongReason(const char* value)
{
    return std::string("its \"") + value + "\" value is longer than 99 characters";
}

bool ReadFittingText(HKEY key, const char* value, std::string& out, bool& present, std::string& why)
{
    TextRead r = ReadText(key, value, out);
    present = r == TextRead::Ok;
    if (r == TextRead::TooLong) {
        why = TooLongReason(value);
        return false;
    }
    return true;
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

int ForEachPop3Account(const std::function<bool(HKEY, const std::string&)>& step, const SkipReport& report,
                       bool reportOverlong)
{
    Key accounts;
    if (!OpenAccounts(accounts))
        return 0;
    std::vector<std::string> overlong;
    std::vector<std::string> names = Pop3Accounts(accounts.get(), &overlong);
    if (reportOverlong)
        for (const std::string& name : overlong)
            Report(report, name, TooLongReason("POP3 USER NAME"));
    int done = 0;
    for (const std::string& name : names) {
        Key account;
        if (!OpenAccount(accounts.get(), name, account))
            continue;
        if (step(account.get(), name))
            ++done;
    }
    return done;
}

bool RestorePop3Account(HKEY account, const std::string& name, const SkipReport& report)
{
    // A backup that does not fit is not put back, and then none is deleted: it may be the
    // only copy of the user's real setting.
    std::string why, smtp, server, user;
    bool haveSmtp = false, haveServer = false, haveUser = false;
    if (!ReadFittingText(account, "SMTP BACKUP", smtp, haveSmtp, why) ||
        !ReadFittingText(account, "POP3 BACKUP", server, haveServer, why) ||
        !ReadFittingText(account, "POP3 USER BACKUP", user, haveUser, why)) {
        Report(report, name, why);
        return false;
    }
    // Each backup goes only once the value it restores was written.
    bool ok = true;
    if (!haveSmtp || PutBackSmtp(account, smtp))
        DeleteValues(account, {"SMTP BACKUP", "SMTP PORT BACKUP"});
    else
        ok = false;
    bool serverBack = true;
    if (haveServer) {
        serverBack = WriteText(account, "POP3 SERVER", server);
        DWORD port = 0;
        if (ReadNumber(account, "POP3 PORT BACKUP", port) && port != 0)
            serverBack = WriteNumber(account, "POP3 Port", port) && serverBack;
    }
    if (serverBack)
        DeleteValues(account, {"POP3 BACKUP", "POP3 PORT BACKUP"});
    else
        ok = false;
    if (!haveUser || WriteText(account, "POP3 USER NAME", user))
        DeleteValues(account, {"POP3 USER BACKUP"});
    else
        ok = false;
    if (!ok)
        Report(report, name, "the registry could not be written; its backups are kept for the next try");
    return ok;
}

bool PutBackSmtpBackup(HKEY account, const std::string& name, const SkipReport& report)
{
    std::string why, smtp;
    bool haveSmtp = false;
    if (!ReadFittingText(account, "SMTP BACKUP", smtp, haveSmtp, why)) {
        Report(report, name, why);
        return false;
    }
    if (haveSmtp && !PutBackSmtp(account, smtp)) {
        Report(report, name, "the registry could not be written; its outgoing backups are kept for the next try");
        return false;
    }
    DeleteValues(account, {"SMTP BACKUP", "SMTP PORT BACKUP"});
    return true;
}

std::vector<std::string> SpamBoxAccounts(HKEY accounts)
{
    std::vector<std::string> marked;
    for (const std::string& name : AccountKeys(accounts)) {
        Key account;
        if (!OpenAccount(accounts, name, account))
            continue;
        std::string marker;
        if (ReadText(account.get(), "ORVANTA ACCOUNT", marker) == TextRead::Ok)
            marked.push_back(name);
    }
    return marked;
}

int DeleteSpamBoxAccounts()
{
    Key accounts;
    if (!OpenAccounts(accounts))
        return 0;
    // Collected first: deleting while enumerating by index would skip the key after each
    // deleted one.
    int deleted = 0;
    for (const std::string& name : SpamBoxAccounts(accounts.get()))
        if (RegDeleteKey(accounts.get(), name.c_str()) == ERROR_SUCCESS)
            ++deleted;
    return deleted;
}

RestoreCounts RestoreMailClient(const SkipReport& report)
{
    RestoreCounts counts;
    counts.spamBoxesDeleted = DeleteSpamBoxAccounts();
    counts.accountsRestored = ForEachPop3Account(
        [&report](HKEY account, const std::string& name) { return RestorePop3Account(account, name, report); }, report);
    return counts;
}

}  // namespace accountkeys
