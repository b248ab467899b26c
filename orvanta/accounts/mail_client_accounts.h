#pragma once

#include <string>

#include "platform/registry.h"

// Links the mail client's POP3 accounts to the local proxies and adds the spam-box account
// that shows the local mail store, and undoes both. The real POP3 server, port and user stay
// in backup values of each account key; the rewritten user name user#server#port tells the
// POP3 proxy where to connect.
namespace orvanta {

class FrontEnd;

// The login name the spam-box account gives the local IMAP server (which takes any).
inline constexpr const char* kSpamBoxImapUser = "orvanta";
// The spam-box account's sender address while the client has no POP3 account.
inline constexpr const char* kOwnSenderAddress = "orvanta@localhost";

// Rewrites every POP3 account, writes the spam-box account, rebuilds the account SMTP table,
// then shows message 61210.
void LinkMailClient(FrontEnd& frontEnd);
// Deletes the spam-box account(s) and restores every POP3 account from its backups, then
// shows message 61213. The account SMTP table stays as it is.
void UnlinkMailClient(FrontEnd& frontEnd);
// The pass at every start: the accounts end up linked whatever the user chose before. No
// message.
void RefreshAccountLinks();

namespace accounts {

// One account key (open). False when the account was left as it is because a value it
// needs does not fit a 100-byte buffer (the reason is logged); nothing is then written to it.
// The restore, which the uninstaller shares, lives in components/accountkeys.
bool LinkPop3Account(platform::HKEY account, const std::string& name, int pop3Port);

// Creates or updates the key named by the AccountKey setting; false when it cannot be
// created.
bool WriteSpamBoxAccount();

}  // namespace accounts
}  // namespace orvanta
