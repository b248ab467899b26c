#pragma once

#include <string>
#include <string_view>

// File helpers shared by the folder store and the mail store (not part of the exported
// interface).
namespace harborage {

// The directory of folder `name` below `root`, each level matched without regard to case.
// Empty when the name is empty, names the root itself, or is refused (a "." or ".." level,
// an empty inner level, a leading "/", a backslash, a NUL byte).
std::string ResolveFolder(std::string_view root, std::string_view name);

// True for a directory that is not a symbolic link.
bool IsPlainDirectory(const std::string& path);

// Moves a file like the original platform's move: fails when `to` exists, and copies across
// file systems. True on success.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Copies a file to a new name; fails when `to` exists. A failed copy leaves no partial file.
bool CopyFileNoReplace(const std::string& from, const std::string& to);

// `name` with any trailing "/" removed.
std::string_view TrimTrailingSlashes(std::string_view name);

}  // namespace harborage
