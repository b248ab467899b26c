#include "orvanta/update/update_check.h"

#include <optional>
#include <string>
#include <vector>

#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "platform/http.h"
#include "platform/registry.h"

namespace orvanta::update {
namespace {

// The installed date is read into a buffer of this size; a longer value counts as missing.
constexpr platform::DWORD kDateBuffer = 300;

// The first line of the document at `url`; nothing when it could not be read or is empty.
std::optional<std::string> FirstLine(const std::string& url, std::string* error)
{
    std::vector<std::string> lines;
    if (!platform::HttpReadLines(url, &lines, error))
        return std::nullopt;
    if (lines.empty()) {
        *error = url + ": empty";
        return std::nullopt;
    }
    return lines.front();
}

// What follows "update" and its separator in a first line; empty when the line ends before.
std::string AfterUpdate(const std::string& line) { return line.size() > 7 ? line.substr(7) : std::string(); }

}  // namespace

bool UpdateCheckDue(std::time_t now)
{
    const int term = GetSetting(IntSetting::UpdateTerm);
    if (term < 1)
        return false;
    const int year = GetSetting(IntSetting::UpdateYear);
    if (year == 0)
        return true;
    std::tm last{};
    last.tm_year = year - 1900;
    last.tm_mon = GetSetting(IntSetting::UpdateMonth) - 1;
    last.tm_mday = GetSetting(IntSetting::UpdateDay);
    last.tm_isdst = -1;  // local midnight, whatever the daylight saving time of that day
    const std::time_t midnight = std::mktime(&last);
    if (midnight == static_cast<std::time_t>(-1))
        return true;
    const long long elapsedDays = static_cast<long long>(now - midnight) / 86400;  // truncated toward zero
    switch (term) {
    case 1: return elapsedDays >= 3;
    case 2: return elapsedDays >= 7;
    case 3: return elapsedDays >= 10;
    default: return true;
    }
}

long long InstalledUpdateDate()
{
    const std::string path = std::string(kRegistryRoot) + "\\update";
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &key) != platform::ERROR_SUCCESS)
        return 0;
    unsigned char data[kDateBuffer + 1] = {};  // and a terminator of our own
    platform::DWORD type = 0, size = kDateBuffer;
    const platform::LONG rc = platform::RegQueryValueEx(key, "DATE", &type, data, &size);
    platform::RegCloseKey(key);
    if (rc != platform::ERROR_SUCCESS || type != platform::REG_SZ)
        return 0;
    return LeadingNumber(reinterpret_cast<const char*>(data));
}

CheckOutcome CheckForUpdate(const UpdateEnvironment& env)
{
    if (!UpdateCheckDue(env.now())) {
        LogUtf8("Update check: not due.");
        return CheckOutcome::kNotDue;
    }

    // The web server names the update location: "update", a separator and a URL.
    std::string error;
    std::optional<std::string> reply = FirstLine(env.webUrl + kCheckUpdatePath, &error);
    if (!reply) {
        LogUtf8("Update check: the web server was not reached (" + error + ").");
        return CheckOutcome::kNoLocation;
    }
    // A line of "update" alone names no location; it would leave "/express" as the address.
    const std::string base = AfterUpdate(*reply);
    if (!BeginsWithUpdate(*reply) || base.empty()) {
        LogUtf8("Update check: the web server named no update location.");
        return CheckOutcome::kNoLocation;
    }
    SetUpdateLocation(base + "/express");

    const std::time_t now = env.now();
    if (!UpdateCheckDue(now))
        return CheckOutcome::kNotDue;
    std::tm today{};
    localtime_r(&now, &today);
    SetSetting(IntSetting::UpdateYear, today.tm_year + 1900);
    SetSetting(IntSetting::UpdateMonth, today.tm_mon + 1);
    SetSetting(IntSetting::UpdateDay, today.tm_mday);

    const long long installed = InstalledUpdateDate();
    std::optional<std::string> first = FirstLine(UpdateLocation() + "/update.dat", &error);
    if (!first || !BeginsWithUpdate(*first)) {
        LogUtf8("Update check: no update description at the update location" + (first ? "." : " (" + error + ")."));
        return CheckOutcome::kNoServerDate;
    }
    const long long serverDate = LeadingNumber(AfterUpdate(*first));
    if (installed >= serverDate) {
        LogUtf8("Update check: the installed update (" + std::to_string(installed) + ") is current.");
        return CheckOutcome::kUpToDate;
    }
    LogUtf8("Update check: the update server has a newer update (" + std::to_string(serverDate) +
            "); starting the updater.");
    if (!env.startUpdater())
        LogUtf8("Update check: the updater could not be started.");
    return CheckOutcome::kNewerOnServer;
}

}  // namespace orvanta::update
