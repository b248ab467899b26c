#pragma once

#include <string>
#include <string_view>
#include <vector>

// The update site list "update.lst" that the updater and the main program both read: one site
// per line, a quoted display name and a quoted base URL separated by spaces. Names and URLs
// are kept as the file's bytes (CP949).
namespace ledgerly {

struct UpdateSite {
    std::string name;
    std::string url;  // base URL of the site, without a trailing "/"
};

// Splits a line at the spaces that are not inside double quotes; the quotes stay part of the
// fields and runs of spaces give no empty fields. A line of 500 bytes or more gives no fields.
// The same rule splits the lines of "update.dat".
std::vector<std::string> SplitFields(std::string_view line);

// Reads the list at `path`. Lines are read as a 100-byte line buffer returns them (99 bytes at
// most; a longer line goes on as the next line) without their line end; reading stops at the
// end of the file or at the first line shorter than 4 bytes. A line with at least two fields
// gives a site, its first two fields without their first and last character. When the file is
// missing or gives no site, the list holds the one site {defaultName, defaultUrl}. The list's
// order is the index order of the "UPDATE_SERVER" setting.
std::vector<UpdateSite> LoadUpdateSites(const std::string& path, const std::string& defaultName,
                                        const std::string& defaultUrl);

}  // namespace ledgerly
