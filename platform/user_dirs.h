#pragma once

#include <string>

// The user's own directories, by the XDG base directory rules, and where the program keeps
// its data when its installation directory is not the user's to write.
namespace platform {

// $HOME, else the home of the user's password entry; empty when neither is known.
std::string UserHomeDirectory();
// $XDG_DATA_HOME, else ~/.local/share; $XDG_CONFIG_HOME, else ~/.config. A relative value of
// the variable is ignored, as the rules say. Empty when no home is known.
std::string UserDataHome();
std::string UserConfigHome();

// Whether the user may create and replace files in `directory`.
bool UserMayWrite(const std::string& directory);

// The directory that holds the program's "user/" and "temp/": the installation directory
// itself where the user may write it (a build tree, an install into the user's own prefix),
// else "orvanta" in the user's data home (a system-wide install). No trailing slash.
std::string DataRootFor(const std::string& programDirectory);

}  // namespace platform
