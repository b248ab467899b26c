#pragma once

#include <string>

// The program's directories. The program directory is the executable's directory, or the
// home given with --home / $ORVANTA_HOME; it is held without a trailing slash. The data
// directory ("user/") and the scratch directory ("temp/") end in a slash, so names are
// appended with "%s/name" like everywhere else in the system. They lie in the program
// directory, except in an installation the user may not write (a system-wide package), where
// they lie in $XDG_DATA_HOME/orvanta.
namespace orvanta {

struct AppPaths {
    std::string programDirectory;  // no trailing slash
    std::string rootDirectory;     // holds the two below; no trailing slash
    std::string dataDirectory;     // rootDirectory + "/user/"
    std::string storeDirectory;    // the same text, the copy given to the mail store and IMAP server
    std::string scratchDirectory;  // rootDirectory + "/temp/"
};

// Builds the paths; `home` empty means the executable's own directory.
AppPaths MakeAppPaths(const std::string& home);
// Creates the data and scratch directories; an existing one is no error and a failure is
// not reported (the components that use them report their own errors).
void CreateAppDirectories(const AppPaths& paths);

// Directory of the running executable.
std::string ExecutableDirectory();

}  // namespace orvanta
