#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace winnow {

// Appends the UTF-8 form of a code point.
void AppendUtf8(uint32_t code, std::string& out);

// Decodes the code point at text[at]; `length` receives its bytes (1 for a byte that starts no
// valid sequence, which decodes as U+FFFD).
uint32_t DecodeUtf8(std::string_view text, size_t at, size_t* length);

// True when the whole text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// The text with every malformed sequence replaced by U+FFFD.
std::string WellFormedUtf8(std::string_view text);

}  // namespace winnow
