#pragma once

#include <string>

// The start at log-in on a Linux desktop: the user's XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/orvanta.desktop, ~/.config when unset), which runs this program
// with "/start". "Auto_Start" 0 still ends such a start at once, so a system-wide entry of the
// package does nothing while the box is off.
namespace orvanta {

std::string AutostartEntryPath();
// Writes the entry for `program` (an absolute path), or removes it. False when the file could
// not be written or removed; a missing entry is no error when removing.
bool SetAutostartEntry(bool on, const std::string& program);

}  // namespace orvanta
