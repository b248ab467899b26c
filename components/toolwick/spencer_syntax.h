#pragma once

#include <optional>
#include <string>

namespace toolwick {

// Translates a pattern in Henry Spencer's classic syntax into an equivalent RE2 pattern for
// Latin-1 text (every byte one character). Only constructs the translator emits itself reach
// RE2, so none of RE2's own extensions ({n}, \d, (?i) ...) can be written in a pattern.
// Returns nothing for a pattern the classic syntax rejects.
std::optional<std::string> TranslateSpencer(const char* pattern);

}  // namespace toolwick
