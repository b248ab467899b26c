#pragma once

#include <cstdio>
#include <string>

namespace unmoor {

// One line of the uninstaller's log, on standard error. Nothing of it reaches the user's
// screen: the uninstaller reports nothing but the running main program.
inline void Log(const std::string& line) { std::fprintf(stderr, "unmoor: %s\n", line.c_str()); }

}  // namespace unmoor
