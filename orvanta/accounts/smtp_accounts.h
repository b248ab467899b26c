#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// Outgoing-server settings of one mail client POP3 account.
struct SMTP_ACCOUNT {
    std::string email;        // "SMTP Email Address", empty when absent
    std::string server;       // "SMTP SERVER", empty when absent
    std::string displayName;  // "SMTP Display Name", empty when absent
    int port = 25;            // "SMTP Port", 25 when absent or 0
    int useSicily = 0;        // "SMTP Use Sicily" as stored, 0 when absent
};

// Empties the table and appends one record per POP3 account, in account-list order.
void BuildSmtpAccountTable();
// Whether the table was built in this process (a short run that only links the accounts
// builds it first, as the start-up pass of a running program would have).
bool SmtpAccountTableBuilt();

// Copies the server (at most size characters, always terminated when size > 0) and port
// of the first record whose email equals sender byte for byte; without a match the first
// record's. An empty table leaves server and port untouched. Returns true when it wrote.
bool FindSmtpServer(const char* sender, char* server, int size, int* port);

// The first record of the table, if any.
std::optional<SMTP_ACCOUNT> FirstSmtpAccount();

// A copy of the whole table (for tests and diagnostics).
std::vector<SMTP_ACCOUNT> SmtpAccountTable();

}  // namespace orvanta
