#include "orvanta/core/paths.h"

#include <filesystem>
#include <system_error>

#include "platform/user_dirs.h"

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
    std::string program = home.empty() ? ExecutableDirectory() : home;
    if (!home.empty()) {
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(home, ec);
        if (!ec)
            program = abs.lexically_normal().string();
    }
    while (program.size() > 1 && program.back() == '/')
        program.pop_back();
    // A home given is the whole of it; an installation the user may not write keeps the
    // user's data in their own data home.
    std::string root = home.empty() ? platform::DataRootFor(program) : program;
    AppPaths paths;
    paths.programDirectory = program;
    paths.rootDirectory = root;
    paths.dataDirectory = root + "/user/";
    paths.storeDirectory = paths.dataDirectory;
    paths.scratchDirectory = root + "/temp/";
    return paths;
}

void CreateAppDirectories(const AppPaths& paths)
{
    std::error_code ec;
    std::filesystem::create_directories(paths.scratchDirectory, ec);
    std::filesystem::create_directories(paths.dataDirectory, ec);
}

}  // namespace orvanta
