#include "orvanta/core/paths.h"

#include <filesystem>
#include <system_error>

namespace orvanta {
std::string ExecutableDirectory()
{
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::filesystem::current_path(ec).string();
    return exe.parent_path().string();
}

AppPaths MakeAppPaths(const std::string& home)
{
    std::string dir = home.empty() ? ExecutableDirectory() : home;
    if (!home.empty()) {
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(home, ec);
        if (!ec)
            dir = abs.lexically_normal().string();
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    AppPaths paths;
    paths.programDirectory = dir;
    paths.dataDirectory = dir + "/user/";
    paths.storeDirectory = paths.dataDirectory;
    paths.scratchDirectory = dir + "/temp/";
    return paths;
}

void CreateAppDirectories(const AppPaths& paths)
{
    std::error_code ec;
    std::filesystem::create_directories(paths.scratchDirectory, ec);
    std::filesystem::create_directories(paths.dataDirectory, ec);
}

}  // namespace orvanta
