#include "orvanta/accounts/smtp_accounts.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/registry.h"

namespace orvanta {
namespace {

constexpr const char* kAccountsKey = "Software\\Microsoft\\Internet Account Manager\\Accounts";
constexpr unsigned kTextRoom = 100;

std::mutex g_tableLock;
std::vector<SMTP_ACCOUNT> g_table;

// Reads a string value; a value that does not fit the 100-byte buffer counts as absent.
bool ReadText(platform::HKEY key, const char* name, std::string& out) {
  char buf[kTextRoom] = {};
  platform::DWORD type = 0, size = sizeof(buf);
  if (platform::RegQueryValueEx(key, name, &type, reinterpret_cast<unsigned char*>(buf),
                                &size) != platform::ERROR_SUCCESS ||
      type != platform::REG_SZ)
    return false;
  buf[kTextRoom - 1] = '\0';
  out = buf;
  return true;
}

bool ReadNumber(platform::HKEY key, const char* name, platform::DWORD& out) {
  platform::DWORD type = 0, value = 0, size = sizeof(value);
  if (platform::RegQueryValueEx(key, name, &type, reinterpret_cast<unsigned char*>(&value),
                                &size) != platform::ERROR_SUCCESS ||
      type != platform::REG_DWORD)
    return false;
  out = value;
  return true;
}

// POP3 accounts: 8-character key names starting "00" whose "POP3 USER Name" reads.
std::vector<std::string> Pop3AccountKeys(platform::HKEY accounts) {
  std::vector<std::string> keys;
  for (platform::DWORD i = 0; i <= 100; ++i) {
    char name[256];
    platform::DWORD size = sizeof(name);
    platform::LONG rc = platform::RegEnumKeyEx(accounts, i, name, &size);
    if (rc == platform::ERROR_NO_MORE_ITEMS) break;
    if (rc != platform::ERROR_SUCCESS) continue;
    if (std::strlen(name) != 8 || name[0] != '0' || name[1] != '0') continue;
    platform::HKEY acct = nullptr;
    if (platform::RegOpenKeyEx(accounts, name, &acct) != platform::ERROR_SUCCESS) continue;
    std::string user;
    if (ReadText(acct, "POP3 USER Name", user)) keys.push_back(name);
    platform::RegCloseKey(acct);
  }
  return keys;
}

}  // namespace

void BuildSmtpAccountTable() {
  std::vector<SMTP_ACCOUNT> table;
  platform::HKEY accounts = nullptr;
  if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, kAccountsKey, &accounts) ==
      platform::ERROR_SUCCESS) {
    for (const std::string& name : Pop3AccountKeys(accounts)) {
      platform::HKEY acct = nullptr;
      if (platform::RegOpenKeyEx(accounts, name.c_str(), &acct) != platform::ERROR_SUCCESS)
        continue;
      SMTP_ACCOUNT rec;
      ReadText(acct, "SMTP Email Address", rec.email);
      ReadText(acct, "SMTP SERVER", rec.server);
      ReadText(acct, "SMTP Display Name", rec.displayName);
      platform::DWORD n = 0;
      if (ReadNumber(acct, "SMTP Port", n) && n != 0) rec.port = static_cast<int>(n);
      n = 0;
      if (ReadNumber(acct, "SMTP Use Sicily", n)) rec.useSicily = static_cast<int>(n);
      platform::RegCloseKey(acct);
      table.push_back(std::move(rec));
    }
    platform::RegCloseKey(accounts);
  }
  std::lock_guard<std::mutex> lock(g_tableLock);
  g_table = std::move(table);
}

bool FindSmtpServer(const char* sender, char* server, int size, int* port) {
  std::lock_guard<std::mutex> lock(g_tableLock);
  if (g_table.empty()) return false;
  const SMTP_ACCOUNT* hit = &g_table.front();
  if (sender) {
    for (const SMTP_ACCOUNT& rec : g_table)
      if (rec.email == sender) { hit = &rec; break; }
  }
  if (server && size > 0) {
    std::size_t n = std::min<std::size_t>(hit->server.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(server, hit->server.data(), n);
    server[n] = '\0';
  }
  if (port) *port = hit->port;
  return true;
}

std::optional<SMTP_ACCOUNT> FirstSmtpAccount() {
  std::lock_guard<std::mutex> lock(g_tableLock);
  if (g_table.empty()) return std::nullopt;
  return g_table.front();
}

std::vector<SMTP_ACCOUNT> SmtpAccountTable() {
  std::lock_guard<std::mutex> lock(g_tableLock);
  return g_table;
}

}  // namespace orvanta
