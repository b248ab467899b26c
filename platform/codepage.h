#pragma once

#include <string>
#include <string_view>

// Conversion between the Korean code page (CP949, the system's local code page whatever the
// locale) and Unicode. Bytes that do not convert become U+FFFD towards Unicode and '?' towards
// CP949; a conversion never fails as a whole.
namespace platform {

std::u16string Cp949ToUtf16(std::string_view cp949);
std::string Utf16ToCp949(std::u16string_view utf16);
std::string Cp949ToUtf8(std::string_view cp949);
std::string Utf8ToCp949(std::string_view utf8);

}  // namespace platform
