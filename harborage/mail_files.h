#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace harborage {

// The message files of `directory`: the names "mesg????????.msg" (case ignored) that are not
// directories, in name order without regard to case when `sorted`, else in the directory's
// own order.
std::vector<platform::DirEntry> ListMessageFiles(const std::string& directory, bool sorted);

}  // namespace harborage
