#pragma once

#include <functional>
#include <string>

namespace orvanta::learn {

// Calls `each` with every message of a mail folder, line ends made CR LF as the program's
// store keeps them: an mbox file (messages after "From " lines, ">From " unquoted), a maildir
// (the files of its cur/ and new/), a directory of message files (each file one message,
// walked in name order, subdirectories too) or a single message file. False when the source
// cannot be read at all.
bool ReadMailSource(const std::string& path, const std::function<void(const std::string& message)>& each);

}  // namespace orvanta::learn
