#include "orvanta/update/update_environment.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <strings.h>

#include "components/almanac/program_info.h"
#include "components/almanac/update_address.h"
#include "orvanta/update/updater_program.h"

namespace orvanta::update {
namespace {

struct Location {
    std::mutex lock;
    std::optional<std::string> url;  // not yet taken from Almanac
};

Location& TheLocation()
{
    static Location location;
    return location;
}

}  // namespace

UpdateEnvironment StartUpEnvironment(const AppPaths& paths)
{
    UpdateEnvironment env;
    env.webUrl = almanac::WebURL();
    env.programDirectory = paths.programDirectory;
    env.scratchDirectory = paths.scratchDirectory;
    env.now = [] { return std::time(nullptr); };
    env.startUpdater = [dir = paths.programDirectory] { return StartUpdater(dir); };
    return env;
}

std::string UpdateLocation()
{
    Location& l = TheLocation();
    std::lock_guard guard(l.lock);
    if (!l.url) {
        char buffer[almanac::kUpdateURLSize] = {};
        CProgramInfo::GetUpdateURL(buffer, 1);
        l.url = buffer;
    }
    return *l.url;
}

void SetUpdateLocation(const std::string& url)
{
    Location& l = TheLocation();
    std::lock_guard guard(l.lock);
    l.url = url;
}

std::string LocalDateText(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

long long LeadingNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

bool BeginsWithUpdate(const std::string& line)
{
    return line.size() >= 6 && strncasecmp(line.c_str(), "update", 6) == 0;
}

}  // namespace orvanta::update
