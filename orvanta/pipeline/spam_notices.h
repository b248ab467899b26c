#pragma once

#include <array>
#include <string>

#include "sievelet/spam_filter_record.h"

namespace orvanta::pipeline {

// The three warning texts (CP949 bytes), numbered 1 to 3 on disk, 0 to 2 here.
std::array<std::string, 3>& WarningTexts();

// Reads "warn1.dat".."warn3.dat" from `directory` (ends in a slash). The first missing
// file stops the reading: it and the later texts keep what they held.
void LoadWarningTexts(const std::string& directory);
// Writes the three files; the first one that cannot be created stops the writing.
void SaveWarningTexts(const std::string& directory);

// Overwrites `path` with the notice that stands in for a deleted spam message (CP949,
// CR LF line ends). Empty sender or subject leave their line's value out. False when the
// file cannot be created or written.
bool WriteDeletionNotice(const std::string& path, const std::string& sender, const std::string& recipient,
                         const std::string& subject, const SPAM_FILTER& rule);

}  // namespace orvanta::pipeline
