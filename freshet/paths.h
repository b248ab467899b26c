#pragma once

#include <filesystem>

namespace freshet {

// The updater's directories. Its own directory holds "user/update.lst" and "temp/": the home
// the main program also uses ($ORVANTA_HOME), else the directory of the executable, or the
// user's data home's "orvanta" where the user may not write that (a system-wide install), as
// the main program chooses. The main program it restarts is the one beside its executable.
struct FreshetPaths {
    std::filesystem::path ownDirectory;
    std::filesystem::path programDirectory;  // of the executable
    std::filesystem::path installDirectory;  // $ORVANTA_HOME, else programDirectory

    std::filesystem::path SiteList() const { return ownDirectory / "user" / "update.lst"; }
    std::filesystem::path TempDirectory() const { return ownDirectory / "temp"; }
};

FreshetPaths FindPaths();

// Starts the main program beside the updater's executable without waiting for it; logs the
// outcome.
void StartMainProgram(const FreshetPaths& paths);

}  // namespace freshet
