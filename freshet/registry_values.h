#pragma once

#include <string>
#include <vector>

#include "freshet/update_list.h"

// The values the updater shares with the main program, below the current user's
// "Software\Pellix Technology\Orvanta".
namespace freshet {

// "UPDATE_SERVER" under "OPTION": the index of the chosen update site; 0 when absent.
unsigned ReadUpdateServer();

// "PROGRAM NAME" under "info" (the title of the main program's window, up to 100 bytes) and
// "PROGRAM PATH" (its installation directory, up to 150 bytes); empty when missing or longer.
std::string ReadProgramName();
std::string ReadProgramPath();

// The installed version list: the string values of the "update" subkey, at most 100 of them,
// in the registry's order. A name of 100 bytes or more, or data of 300 or more, is passed over.
std::vector<InstalledVersion> LoadInstalledVersions();

// Writes "DATE" := the list's date and, for every record, the value named by its file name :=
// its version (in the list's order, so of a name listed twice the last record's version stays),
// except for the names in `skipped`. Other values stay. False when a write failed.
bool RecordVersions(const UpdateList& list, const std::vector<std::string>& skipped);

}  // namespace freshet
