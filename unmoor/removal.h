#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The removal of the installation, which the uninstaller starts and does not wait for.
namespace unmoor {

// Names the removal command instead of the one the installation implies; a command line run
// by /bin/sh.
inline constexpr const char kRemoveCommandVariable[] = "ORVANTA_REMOVE_COMMAND";
// The list of installed files that `make install` leaves in the program directory.
inline constexpr const char kInstalledFilesName[] = "installed-files.txt";
// The uninstaller's own option that removes the files of such a list.
inline constexpr const char kRemoveFilesOption[] = "--remove-files";
inline constexpr const char kPackageName[] = "orvanta";
inline constexpr const char kDpkgInfoDirectory[] = "/var/lib/dpkg/info";

struct Removal {
    std::vector<std::string> argv;  // the program and its arguments
    std::string shown;              // as a command line, for the log and the console
};

// The removal of the installation whose programs are in `programDirectory`, the first of:
// the command line in $ORVANTA_REMOVE_COMMAND; the uninstaller of that directory removing the
// files of its list (a `make install`); the package manager removing the package when its
// record of the package lists the uninstaller (through pkexec unless already root). Nullopt
// when none applies: programs run from a build tree, nothing is installed.
std::optional<Removal> FindRemoval(const std::filesystem::path& programDirectory,
                                   const std::filesystem::path& dpkgInfo = kDpkgInfoDirectory);

// Starts the removal in a session of its own, without waiting for it; false when it could not
// be started.
bool StartRemoval(const Removal& removal);

// The work of kRemoveFilesOption: deletes every file the list names, then the directories it
// names (lines ending in "/") that are empty by then, deepest first, and the list itself. Only
// absolute, normal paths are taken; a listed file is unlinked, never followed, and a listed
// directory is never emptied: what the user keeps there (the data directory) stays, and so do
// the directories that hold it. Returns how many entries could not be removed; each goes to
// the log.
int RemoveInstalledFiles(const std::filesystem::path& list);

}  // namespace unmoor
