#pragma once

#include <string_view>

// The program's event log. Texts arrive as CP949 bytes (the system's code page); once the
// program turns it on, each becomes one time-stamped UTF-8 line on standard output.
namespace orvanta {

void SetLogToStdout(bool on);
// Logs one CP949 text.
void LogText(std::string_view cp949);
// Logs one line that is already UTF-8 (the program's own English start-up lines).
void LogUtf8(std::string_view utf8);

}  // namespace orvanta
