#include "platform/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

std::string BaseDirectory(const char* variable, const char* belowHome)
{
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/')
        return value;
    std::string home = UserHomeDirectory();
    return home.empty() ? std::string() : home + belowHome;
}

}  // namespace

std::string UserHomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return {};
}

std::string UserDataHome() { return BaseDirectory("XDG_DATA_HOME", "/.local/share"); }

std::string UserConfigHome() { return BaseDirectory("XDG_CONFIG_HOME", "/.config"); }

bool UserMayWrite(const std::string& directory)
{
    return !directory.empty() && ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::string DataRootFor(const std::string& programDirectory)
{
    if (UserMayWrite(programDirectory))
        return programDirectory;
    std::string data = UserDataHome();
    return data.empty() ? programDirectory : data + "/orvanta";
}

}  // namespace platform
