#include "orvanta/accounts/mail_client_accounts.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "components/accountkeys/account_keys.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/log.h"
#include "orvanta/core/front_end.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"

namespace orvanta {

using platform::DWORD;
using platform::HKEY;

namespace accounts {

using accountkeys::Key;
using accountkeys::ReadFittingText;
using accountkeys::ReadNumber;
using accountkeys::WriteNumber;
using accountkeys::WriteText;

namespace {

constexpr DWORD kDefaultPop3Port = 110;
constexpr DWORD kTimeout = 300;

// Account key names are plain bytes of the client's code page, like the log's texts.
void LogSkipped(const std::string& name, const std::string& why)
{
    LogText("Mail client account " + name + " left as it is: " + why + ".");
}

DWORD PortOr(HKEY account, const char* value, DWORD fallback)
{
    DWORD port = 0;
    return ReadNumber(account, value, port) && port != 0 ? port : fallback;
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
    if (!ReadFittingText(account, "POP3 BACKUP", server, serverBackup, why))
        return refuse();
    DWORD port = 0;
    if (serverBackup) {
        // Already linked: the live values are ours, the real ones are in the backups.
        port = PortOr(account, "POP3 PORT BACKUP", kDefaultPop3Port);
    } else {
        if (!ReadFittingText(account, "POP3 SERVER", server, present, why))
            return refuse();
        port = PortOr(account, "POP3 Port", kDefaultPop3Port);
    }
    if (!ReadFittingText(account, "POP3 USER BACKUP", user, userBackup, why))
        return refuse();
    if (!userBackup && !ReadFittingText(account, "POP3 USER NAME", user, present, why))
        return refuse();

    char composed[accountkeys::kTextRoom];
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

bool WriteSpamBoxAccount()
{
    const std::string path = std::string(accountkeys::kAccountsKey) + "\\" + GetSetting(StringSetting::AccountKey);
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

}  // namespace accounts

namespace {

int LinkAll()
{
    const int pop3Port = GetSetting(IntSetting::Pop3Port);
    return accountkeys::ForEachPop3Account(
        [pop3Port](HKEY account, const std::string& name) {
            return accounts::LinkPop3Account(account, name, pop3Port);
        },
        accounts::LogSkipped, true);
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
    int restored = accountkeys::RestoreMailClient(accounts::LogSkipped).accountsRestored;
    LogUtf8("Mail client accounts restored: " + std::to_string(restored) + ".");
    ShowInformation(frontEnd, text::Get(text::Id::AccountsRestored));
}

void RefreshAccountLinks()
{
    accountkeys::DeleteSpamBoxAccounts();
    accountkeys::ForEachPop3Account([](HKEY account, const std::string& name) {
        return accountkeys::PutBackSmtpBackup(account, name, accounts::LogSkipped);
    });
    BuildSmtpAccountTable();
    int linked = LinkAll();
    accounts::WriteSpamBoxAccount();
    BuildSmtpAccountTable();
    LogUtf8("Mail client accounts linked at start: " + std::to_string(linked) + ".");
}

}  // namespace orvanta
