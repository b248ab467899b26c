#pragma once

#include <string>

// The menu entry of the uninstaller, "Orvanta 제거" in the program's menu folder, written at
// every start. A desktop entry file stands in for the shell link.
namespace orvanta::update {

// The program's menu folder: $XDG_DATA_HOME/applications/Orvanta Zidevoz 1.0, with
// XDG_DATA_HOME defaulting to ~/.local/share; empty when neither is known.
std::string MenuFolder();

// Writes "Orvanta 제거.desktop" into the menu folder, starting `unmoor` of the program
// directory, over any file of that name. Nothing with "FLAG" (section "UNINSTALL") 1. The
// folder belongs to the installation and is not made here: without it nothing is written and
// nothing is reported. True when the entry was written.
bool CreateUninstallShortcut(const std::string& programDirectory);

}  // namespace orvanta::update
