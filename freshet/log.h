#pragma once

#include <cstdio>
#include <string>

namespace freshet {

// One line of the updater's log, on standard error (UTF-8 or the server's bytes as they are).
inline void Log(const std::string& line) { std::fprintf(stderr, "freshet: %s\n", line.c_str()); }

}  // namespace freshet
