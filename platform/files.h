#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// File and directory helpers with the original platform's habits: listings sorted by name
// without regard to case, wildcard patterns (`*`, `?`) without regard to case, and names
// resolved without regard to case on case-sensitive file systems.
namespace platform {

struct DirEntry {
    std::string name;  // file name only
    bool isDirectory = false;
    std::uintmax_t size = 0;  // 0 for directories, and unless sizes were asked for
};

// True when `name` matches `pattern` (`*` any run, `?` one byte), ASCII case ignored.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Entries of `dir` (not "." or "..") whose names match `pattern`, sorted by name without
// regard to case unless `sorted` is false (then in the directory's own order, for callers
// that only look names up). An unreadable or missing directory lists nothing. Sizes cost one
// stat per entry, so they are filled only on request; the kind comes from the directory itself.
std::vector<DirEntry> ListDirectory(const std::filesystem::path& dir, std::string_view pattern = "*",
                                    bool withSizes = false, bool sorted = true);

// The order ListDirectory sorts by: ASCII case ignored, names that differ only in case in
// byte order.
bool LessNameNoCase(const std::string& a, const std::string& b);

// Whether two names are equal when ASCII case is ignored.
bool EqualNoCase(std::string_view a, std::string_view b);

// Resolves the relative path `rel` ('/'-separated) below `root`, matching every component
// against the existing entries without regard to case; components that do not exist are
// kept as given. Refuses (nullopt) an empty component that is not at the end, a "." or ".."
// component, an absolute path, a backslash or a NUL byte, so the result never leaves root.
std::optional<std::filesystem::path> ResolveBelow(const std::filesystem::path& root, std::string_view rel);

// Creation time (UTC seconds): the birth time where the file system records it, else the
// modification time. False when the file cannot be examined.
bool GetCreationTime(const std::filesystem::path& file, time_t* utcSeconds);

// Free bytes for an unprivileged user on the file system holding `path`; 0 when unknown.
std::uintmax_t FreeDiskSpace(const std::filesystem::path& path);

}  // namespace platform
