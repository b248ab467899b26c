#include "orvanta/accounts/smtp_accounts.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "components/accountkeys/account_keys.h"

namespace orvanta {
namespace {

using accountkeys::Key;

std::mutex g_tableLock;
std::vector<SMTP_ACCOUNT> g_table;
bool g_built = false;

}  // namespace

void BuildSmtpAccountTable()
{
    std::vector<SMTP_ACCOUNT> table;
    Key store;
    if (accountkeys::OpenAccounts(store)) {
        for (const std::string& name : accountkeys::Pop3Accounts(store.get())) {
            Key acct;
            if (!accountkeys::OpenAccount(store.get(), name, acct))
                continue;
            SMTP_ACCOUNT rec;
            accountkeys::ReadText(acct.get(), "SMTP Email Address", rec.email);
            accountkeys::ReadText(acct.get(), "SMTP SERVER", rec.server);
            accountkeys::ReadText(acct.get(), "SMTP Display Name", rec.displayName);
            platform::DWORD n = 0;
            if (accountkeys::ReadNumber(acct.get(), "SMTP Port", n) && n != 0)
                rec.port = static_cast<int>(n);
            n = 0;
            if (accountkeys::ReadNumber(acct.get(), "SMTP Use Sicily", n))
                rec.useSicily = static_cast<int>(n);
            table.push_back(std::move(rec));
        }
    }
    std::lock_guard<std::mutex> lock(g_tableLock);
    g_table = std::move(table);
    g_built = true;
}

bool SmtpAccountTableBuilt()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    return g_built;
}

bool FindSmtpServer(const char* sender, char* server, int size, int* port)
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (g_table.empty())
        return false;
    const SMTP_ACCOUNT* hit = &g_table.front();
    if (sender) {
        for (const SMTP_ACCOUNT& rec : g_table)
            if (rec.email == sender) {
                hit = &rec;
                break;
            }
    }
    if (server && size > 0) {
        std::size_t n = std::min<std::size_t>(hit->server.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(server, hit->server.data(), n);
        server[n] = '\0';
    }
    if (port)
        *port = hit->port;
    return true;
}

std::optional<SMTP_ACCOUNT> FirstSmtpAccount()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (g_table.empty())
        return std::nullopt;
    return g_table.front();
}

std::vector<SMTP_ACCOUNT> SmtpAccountTable()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    return g_table;
}

}  // namespace orvanta
