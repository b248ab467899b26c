#pragma once

#include <string>
#include <vector>

#include "components/ledgerly/update_sites.h"

// The update sites the user chooses from ("Update_Server" is an index into this list). The
// updater reads the same file with the same rules.
namespace orvanta::update {

// Reads "update.lst" of the data directory; when it is missing or names no site, the list is
// the one site "Pellix" at Almanac's update URL.
void LoadUpdateSiteList(const std::string& dataDirectory);

// The list as last loaded (empty before the first load).
std::vector<ledgerly::UpdateSite> UpdateSiteList();

}  // namespace orvanta::update
