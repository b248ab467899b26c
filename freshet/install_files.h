#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "freshet/update_list.h"

// Where the files of the update list go, and how one is put in place.
namespace freshet {

// `relative` (a name from the update list; '\' separates directories as on the original
// platform) below `root`, every existing component matched without regard to case. Nullopt
// when the path would leave `root` or name no file below it: a ".." or "." component, an
// absolute name, an empty name, or a directory on the way that is a link to elsewhere.
std::optional<std::filesystem::path> PathBelow(const std::filesystem::path& root, std::string relative);

// The installed file for `record`: programPath/subdirectory/fileName, or programPath/fileName
// without a subdirectory, where a program file goes by its Linux name. A file for the user's
// data directory (subdirectory "user" or below it) goes below `dataRoot` instead, which is
// the installation directory itself unless that is not the user's to write. Nullopt when
// that leaves the directory it belongs in.
std::optional<std::filesystem::path> InstallDestination(const std::filesystem::path& programPath,
                                                        const std::filesystem::path& dataRoot,
                                                        const UPDATE_FILE& record);

enum class InstallResult {
    kInstalled,
    // The destination's directory is not the user's to write (a system-wide installation,
    // whose program files the package manager updates); nothing was changed.
    kNotPermitted,
    kFailed,
};

// Copies `source` over `destination` so that the destination is the old file or the whole new
// one at every moment: written beside it under a temporary name, flushed, then renamed into
// place. The copy keeps the replaced file's mode; a new program file ("orvanta", "freshet",
// "unmoor") is made executable. Anything but kInstalled comes with the reason in *error.
InstallResult InstallFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                          std::string* error);

}  // namespace freshet
