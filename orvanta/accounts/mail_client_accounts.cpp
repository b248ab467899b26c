#include "orvanta/accounts/mail_client_accounts.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "orvanta/accounts/account_store.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/log.h"
#include "orvanta/core/front_end.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"

namespace orvanta {

using platform::DWORD;
using platform::HKEY;

namespace accounts {
namespace {

constexpr DWORD kDefaultPop3Port = 110;
constexpr DWORD kTimeout = 300;

// Account key names are plain bytes of the client's code page, like the log's texts.
void LogSkipped(const std::string& name, const std::string& why)
{
    LogText("Mail client account " + name + " left as it is: " + why + ".");
}

std::string TooLong(const char* value)
{
    return std::string("its \"") + value + "\" value is longer than 99 characters";
}

// Reads a text that must fit when present; false (and the reason) when it does not.
bool ReadFitting(HKEY account, const char* value, std::string& out, bool& present, std::string& why)
{
    TextRead r = ReadText(account, value, out);
    present = r == TextRead::Ok;
    if (r == TextRead::TooLong) {
        why = TooLong(value);
        return false;
    }
    return true;
}

DWORD PortOr(HKEY account, const char* value, DWORD fallback)
{
    DWORD port = 0;
    return ReadNumber(account, value, port) && port != 0 ? port : fallback;
}

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
        platform::RegDeleteValue(account, value);
}

// Runs `step` on every POP3 account whose key opens; returns how many it carried out.
int ForEachPop3Account(const std::function<bool(HKEY, const std::string&)>& step, bool logOverlong = false)
{
    Key accounts;
    if (!OpenAccounts(accounts))
        return 0;
    std::vector<std::string> overlong;
    std::vector<std::string> names = Pop3Accounts(accounts.get(), &overlong);
    if (logOverlong)
        for (const std::string& name : overlong)
            LogSkipped(name, TooLong("POP3 USER NAME"));
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

}  // namespace

bool LinkPop3Account(HKEY account, const std::string& name, int pop3Port)
{
    // Everything is read and checked first, so a refused account is not half rewritten.
    std::string why, server, user;
    bool serverBackup = false, userBackup = false, present = false;
    auto refuse = [&] {
        LogSkipped(name, why);
        return false;
    };
    if (!ReadFitting(account, "POP3 BACKUP", server, serverBackup, why))
        return refuse();
    DWORD port = 0;
    if (serverBackup) {
        // Already linked: the live values are ours, the real ones are in the backups.
        port = PortOr(account, "POP3 PORT BACKUP", kDefaultPop3Port);
    } else {
        if (!ReadFitting(account, "POP3 SERVER", server, present, why))
            return refuse();
        port = PortOr(account, "POP3 Port", kDefaultPop3Port);
    }
    if (!ReadFitting(account, "POP3 USER BACKUP", user, userBackup, why))
        return refuse();
    if (!userBackup && !ReadFitting(account, "POP3 USER NAME", user, present, why))
        return refuse();

    char composed[kTextRoom];
    int n = std::snprintf(composed, sizeof(composed), "%s#%s#%d", user.c_str(), server.c_str(), static_cast<int>(port));
    if (n < 0 || static_cast<unsigned>(n) >= sizeof(composed)) {
        why = "the user name " + user + "#" + server + "#" + std::to_string(static_cast<int>(port)) +
              " would be longer than 99 characters";
        return refuse();
    }

    // The backups first: while one is not written the real server lives only in the live
    // values, and those are then left as they are.
    bool backedUp = true;
    if (!serverBackup) {
        backedUp = WriteText(account, "POP3 BACKUP", server);
        backedUp = backedUp && WriteNumber(account, "POP3 PORT BACKUP", port);
    }
    if (!userBackup)
        backedUp = backedUp && WriteText(account, "POP3 USER BACKUP", user);
    if (!backedUp) {
        why = "its settings could not be backed up (the registry could not be written)";
        return refuse();
    }
    bool ok = WriteText(account, "POP3 USER NAME", composed);
    ok = WriteText(account, "POP3 SERVER", "localhost") && ok;
    ok = WriteNumber(account, "POP3 Port", static_cast<DWORD>(pop3Port)) && ok;
    ok = WriteNumber(account, "POP3 Timeout", kTimeout) && ok;
    ok = WriteNumber(account, "SMTP Timeout", kTimeout) && ok;
    if (!ok) {
        why = "the registry could not be written; the next start tries again";
        return refuse();
    }
    return true;
}

bool RestorePop3Account(HKEY account, const std::string& name)
{
    // A backup that does not fit is not put back, and then none is deleted: it may be the
    // only copy of the user's real setting.
    std::string why, smtp, server, user;
    bool haveSmtp = false, haveServer = false, haveUser = false;
    if (!ReadFitting(account, "SMTP BACKUP", smtp, haveSmtp, why) ||
        !ReadFitting(account, "POP3 BACKUP", server, haveServer, why) ||
        !ReadFitting(account, "POP3 USER BACKUP", user, haveUser, why)) {
        LogSkipped(name, why);
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
        LogSkipped(name, "the registry could not be written; its backups are kept for the next try");
    return ok;
}

bool PutBackSmtpBackup(HKEY account, const std::string& name)
{
    std::string why, smtp;
    bool haveSmtp = false;
    if (!ReadFitting(account, "SMTP BACKUP", smtp, haveSmtp, why)) {
        LogSkipped(name, why);
        return false;
    }
    if (haveSmtp && !PutBackSmtp(account, smtp)) {
        LogSkipped(name, "the registry could not be written; its outgoing backups are kept for the next try");
        return false;
    }
    DeleteValues(account, {"SMTP BACKUP", "SMTP PORT BACKUP"});
    return true;
}

bool WriteSpamBoxAccount()
{
    const std::string path = std::string(kAccountsKey) + "\\" + GetSetting(StringSetting::AccountKey);
    Key key;
    if (platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), key.out()) != platform::ERROR_SUCCESS)
        return false;
    // Sent through the first account's server; with no account, through our own proxy.
    std::optional<SMTP_ACCOUNT> first = FirstSmtpAccount();
    HKEY k = key.get();
    WriteText(k, "ORVANTA ACCOUNT", "Orvanta");
    WriteText(k, "ACCOUNT NAME", "<Orvanta>");
    WriteText(k, "SMTP SERVER", first ? first->server : std::string("localhost"));
    WriteText(k, "IMAP SERVER", "localhost");
    WriteText(k, "IMAP USER NAME", kSpamBoxImapUser);
    WriteText(k, "SMTP DISPLAY NAME", first ? first->displayName : std::string("user"));
    WriteText(k, "SMTP EMAIL ADDRESS", first ? first->email : std::string(kOwnSenderAddress));
    WriteNumber(k, "IMAP Svr-side Special Folders", 0);
    WriteNumber(k, "Connection Type", 3);
    WriteNumber(k, "SMTP Port", static_cast<DWORD>(first ? first->port : GetSetting(IntSetting::SmtpPort)));
    WriteNumber(k, "IMAP Port", static_cast<DWORD>(GetSetting(IntSetting::ImapPort)));
    WriteNumber(k, "IMAP Timeout", kTimeout);
    WriteNumber(k, "SMTP Timeout", kTimeout);
    return true;
}

int DeleteSpamBoxAccounts()
{
    Key accounts;
    if (!OpenAccounts(accounts))
        return 0;
    // Collected first: deleting while enumerating by index would skip the key after each
    // deleted one.
    std::vector<std::string> marked;
    for (const std::string& name : AccountKeys(accounts.get())) {
        Key account;
        if (!OpenAccount(accounts.get(), name, account))
            continue;
        std::string marker;
        if (ReadText(account.get(), "ORVANTA ACCOUNT", marker) == TextRead::Ok)
            marked.push_back(name);
    }
    int deleted = 0;
    for (const std::string& name : marked)
        if (platform::RegDeleteKey(accounts.get(), name.c_str()) == platform::ERROR_SUCCESS)
            ++deleted;
    return deleted;
}

}  // namespace accounts

namespace {

int LinkAll()
{
    const int pop3Port = GetSetting(IntSetting::Pop3Port);
    return accounts::ForEachPop3Account(
        [pop3Port](HKEY account, const std::string& name) {
            return accounts::LinkPop3Account(account, name, pop3Port);
        },
        true);
}

}  // namespace

void LinkMailClient(FrontEnd& frontEnd)
{
    int linked = LinkAll();
    accounts::WriteSpamBoxAccount();
    BuildSmtpAccountTable();
    LogUtf8("Mail client accounts linked: " + std::to_string(linked) + ".");
    ShowInformation(frontEnd, text::Get(text::Id::AccountsLinked));
}

void UnlinkMailClient(FrontEnd& frontEnd)
{
    accounts::DeleteSpamBoxAccounts();
    int restored = accounts::ForEachPop3Account(accounts::RestorePop3Account);
    LogUtf8("Mail client accounts restored: " + std::to_string(restored) + ".");
    ShowInformation(frontEnd, text::Get(text::Id::AccountsRestored));
}

void RefreshAccountLinks()
{
    accounts::DeleteSpamBoxAccounts();
    accounts::ForEachPop3Account(accounts::PutBackSmtpBackup);
    BuildSmtpAccountTable();
    int linked = LinkAll();
    accounts::WriteSpamBoxAccount();
    BuildSmtpAccountTable();
    LogUtf8("Mail client accounts linked at start: " + std::to_string(linked) + ".");
}

}  // namespace orvanta
