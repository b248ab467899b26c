#pragma once

#include <string>
#include <string_view>
#include <vector>

// The update service's answers: the update check's reply and the update list "update.dat",
// and the choice of the files to fetch. Texts are the server's bytes (CP949).
namespace freshet {

// One file of the update list.
struct UPDATE_FILE {
    std::string fileName;      // relative to the installation directory
    std::string version;       // compared as text, byte by byte
    std::string subdirectory;  // of the installation directory; empty: the directory itself
};

struct UpdateList {
    std::string date;  // the update date as the server wrote it; empty for an empty list
    std::vector<UPDATE_FILE> files;
};

// A registry value of the installed version list: a file name and its version ("DATE" is one
// of them too).
struct InstalledVersion {
    std::string name;
    std::string version;
};

// Whether a line is at least 6 bytes long and starts with "update", ASCII case ignored: the
// first line of the update check's reply and of "update.dat".
bool StartsWithUpdate(std::string_view line);

// The update check's reply: the base URL from the 8th byte of its first line on (the 7th is a
// separator), or empty when the reply does not start with "update".
std::string UpdateBase(const std::vector<std::string>& reply);

// Parses "update.dat": line 1 "update", a separator and the date; then one record per line,
// fields split like the site list's (a leading field nobody reads, file name, version and an
// optional subdirectory). Lines with fewer than three fields are skipped.
UpdateList ParseUpdateList(const std::vector<std::string>& lines);

// The file names to fetch, in the list's order: every record unless an installed value of the
// same name (ASCII case ignored) has a version that is not smaller, as bytes compare. A name
// listed twice is chosen twice.
std::vector<std::string> SelectFiles(const UpdateList& list, const std::vector<InstalledVersion>& installed);

// The first record named exactly `fileName`, or null.
const UPDATE_FILE* FindRecord(const UpdateList& list, const std::string& fileName);

}  // namespace freshet
