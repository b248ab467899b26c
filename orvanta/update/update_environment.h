#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "orvanta/core/paths.h"

// What the main program's side of the update reaches: the maker's web server (update check
// and notice), the program's directories, the clock and the updater's start. The start-up
// takes them from $ORVANTA_WEB_URL, the program's paths and the system clock; tests put in
// their own server, clock and launcher.
namespace orvanta::update {

// Request paths on the maker's web server.
inline constexpr const char kCheckUpdatePath[] = "/orvanta/jsp/login/CheckUpdate.jsp";
inline constexpr const char kNoticePath[] = "/orvanta/html/news/notice.html";

struct UpdateEnvironment {
    std::string webUrl;            // scheme://host[:port] of the maker's web server, no trailing slash
    std::string programDirectory;  // where the updater and the uninstaller live, no trailing slash
    std::string scratchDirectory;  // the downloads' scratch directory, ends in a slash
    std::function<std::time_t()> now;
    // Starts the updater without waiting for it; false when it could not be started.
    std::function<bool()> startUpdater;
};

// The environment of the running program.
UpdateEnvironment StartUpEnvironment(const AppPaths& paths);

// The update location, the directory of the update service that "update.dat" and the
// updater program come from: Almanac's update URL until an update check names another.
std::string UpdateLocation();
void SetUpdateLocation(const std::string& url);

// The local date of `t` as YYYYMMDD.
std::string LocalDateText(std::time_t t);

// The text's leading decimal number, read as the C library's atol reads it (spaces, a sign,
// digits; 0 when there are none, the nearest limit when it does not fit).
long long LeadingNumber(const std::string& text);

// True when `line` begins with "update" in any case: the first line of every answer of the
// update service that carries something.
bool BeginsWithUpdate(const std::string& line);

}  // namespace orvanta::update
