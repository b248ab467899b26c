#include "unmoor/removal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/program_files.h"
#include "unmoor/log.h"

namespace unmoor {

namespace fs = std::filesystem;

namespace {

std::string Joined(const std::vector<std::string>& argv)
{
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty())
            line += ' ';
        bool plain = !arg.empty() && arg.find_first_of(" \t\"'\\$`") == std::string::npos;
        line += plain ? arg : "'" + arg + "'";
    }
    return line;
}

Removal Of(std::vector<std::string> argv)
{
    Removal removal;
    removal.shown = Joined(argv);
    removal.argv = std::move(argv);
    return removal;
}

// Whether dpkg's record of the package lists `file`: then the package manager owns it.
bool PackageLists(const fs::path& dpkgInfo, const fs::path& file)
{
    std::ifstream list(dpkgInfo / (std::string(kPackageName) + ".list"));
    std::string line;
    while (std::getline(list, line))
        if (line == file.string())
            return true;
    return false;
}

std::string ErrnoText(int err) { return std::system_category().message(err); }

// An entry of the list as it may be acted on: absolute and already in normal form, so that
// no "." or ".." leads elsewhere than the line says.
bool Acceptable(const std::string& line)
{
    fs::path path(line);
    return path.is_absolute() && path.lexically_normal().string() == line && line != "/";
}

}  // namespace

std::optional<Removal> FindRemoval(const fs::path& programDirectory, const fs::path& dpkgInfo)
{
    if (const char* command = std::getenv(kRemoveCommandVariable); command && *command) {
        Removal removal = Of({"/bin/sh", "-c", command});
        removal.shown = command;
        return removal;
    }
    const fs::path uninstaller = programDirectory / platform::kUninstallerFile.installed;
    const fs::path list = programDirectory / kInstalledFilesName;
    std::error_code ec;
    if (fs::is_regular_file(list, ec))
        return Of({uninstaller.string(), kRemoveFilesOption, list.string()});
    if (PackageLists(dpkgInfo, uninstaller)) {
        // Removing a package takes root; the desktop asks for it.
        std::vector<std::string> argv{"apt-get", "remove", "-y", kPackageName};
        if (::geteuid() != 0)
            argv.insert(argv.begin(), "pkexec");
        return Of(argv);
    }
    return std::nullopt;
}

bool StartRemoval(const Removal& removal)
{
    if (removal.argv.empty())
        return false;
    std::vector<std::string> args(removal.argv.begin() + 1, removal.argv.end());
    pid_t pid = platform::SpawnProgram(removal.argv.front(), args);
    if (pid <= 0) {
        Log("cannot start the removal: " + removal.shown);
        return false;
    }
    Log("started the removal (pid " + std::to_string(pid) + "): " + removal.shown);
    return true;
}

int RemoveInstalledFiles(const fs::path& list)
{
    std::ifstream in(list);
    if (!in) {
        Log("cannot read " + list.string());
        return 1;
    }
    std::vector<std::string> files, directories;
    int failures = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (!Acceptable(line)) {
            Log("not removed, not an absolute path in normal form: " + line);
            ++failures;
            continue;
        }
        (line.back() == '/' ? directories : files).push_back(line);
    }
    in.close();

    // The list goes last, so that a removal cut short can be run again.
    const std::string self = list.lexically_normal().string();
    files.erase(std::remove(files.begin(), files.end(), self), files.end());
    files.push_back(self);
    for (const std::string& file : files) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                Log("cannot remove " + file + ": " + ErrnoText(errno));
                ++failures;
            }
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Log("not removed, a directory where the list names a file: " + file);
            ++failures;
            continue;
        }
        if (::unlink(file.c_str()) != 0) {
            Log("cannot remove " + file + ": " + ErrnoText(errno));
            ++failures;
        }
    }

    auto depth = [](const std::string& dir) { return std::count(dir.begin(), dir.end(), '/'); };
    std::stable_sort(directories.begin(), directories.end(),
                     [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
    for (const std::string& dir : directories) {
        if (::rmdir(dir.c_str()) == 0 || errno == ENOENT || errno == ENOTEMPTY || errno == EEXIST)
            continue;
        Log("cannot remove " + dir + ": " + ErrnoText(errno));
        ++failures;
    }
    return failures;
}

}  // namespace unmoor
