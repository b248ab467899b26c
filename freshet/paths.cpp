#include "freshet/paths.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include "freshet/log.h"
#include "platform/process.h"
#include "platform/program_files.h"
#include "platform/user_dirs.h"

namespace freshet {

namespace fs = std::filesystem;

FreshetPaths FindPaths()
{
    FreshetPaths paths;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    paths.programDirectory = ec ? fs::current_path(ec) : exe.parent_path();
    paths.installDirectory = paths.programDirectory;
    paths.ownDirectory = platform::DataRootFor(paths.programDirectory.string());
    if (const char* home = std::getenv("ORVANTA_HOME"); home && *home) {
        fs::path dir = fs::absolute(home, ec);
        paths.ownDirectory = ec ? fs::path(home) : dir.lexically_normal();
        paths.installDirectory = paths.ownDirectory;
    }
    return paths;
}

void StartMainProgram(const FreshetPaths& paths)
{
    fs::path program = paths.programDirectory / platform::kMainProgramFile.installed;
    pid_t pid = platform::SpawnProgram(program.string(), {});
    if (pid > 0)
        Log("started " + program.string() + " (pid " + std::to_string(pid) + ")");
    else
        Log("cannot start " + program.string());
}

}  // namespace freshet
