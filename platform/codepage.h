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

// Text in a mail's own character set (any name iconv knows: "euc-kr", "iso-8859-1", ...) as
// UTF-8, unconvertible bytes as U+FFFD. False, with `out` untouched, for a character set iconv
// does not know.
bool CharsetToUtf8(std::string_view text, const std::string& charset, std::string* out);

}  // namespace platform
