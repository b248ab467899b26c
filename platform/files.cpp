#include "platform/files.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform {
namespace {

// ASCII only, as the names are compared on Windows; inline, because sorting a large folder's
// listing folds every byte of every comparison.
inline unsigned char Fold(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool LessNoCase(const std::string& a, const std::string& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;  // names that differ only in case keep a fixed order
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name)
{
    // Iterative matcher with one backtrack point: linear in practice, never exponential.
    size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && Fold(pattern[p]) == Fold(name[n])))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool LessNameNoCase(const std::string& a, const std::string& b) { return LessNoCase(a, b); }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

std::vector<DirEntry> ListDirectory(const std::filesystem::path& dir, std::string_view pattern, bool withSizes,
                                    bool sorted)
{
    std::vector<DirEntry> out;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return out;
    while (dirent* e = readdir(d)) {
        std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (!WildcardMatch(pattern, name))
            continue;
        DirEntry entry;
        entry.name = name;
        // Links and file systems that do not report the kind still need a stat.
        bool known = e->d_type == DT_DIR || e->d_type == DT_REG;
        if (known && !withSizes) {
            entry.isDirectory = e->d_type == DT_DIR;
        } else {
            struct stat st {};
            if (fstatat(dirfd(d), e->d_name, &st, 0) == 0) {
                entry.isDirectory = S_ISDIR(st.st_mode);
                entry.size = entry.isDirectory ? 0 : static_cast<std::uintmax_t>(st.st_size);
            } else {
                entry.isDirectory = e->d_type == DT_DIR;
            }
        }
        out.push_back(std::move(entry));
    }
    closedir(d);
    if (sorted)
        std::sort(out.begin(), out.end(),
                  [](const DirEntry& a, const DirEntry& b) { return LessNoCase(a.name, b.name); });
    return out;
}

std::optional<std::filesystem::path> ResolveBelow(const std::filesystem::path& root, std::string_view rel)
{
    if (!rel.empty() && rel.front() == '/')
        return std::nullopt;
    if (rel.find('\\') != std::string_view::npos || rel.find('\0') != std::string_view::npos)
        return std::nullopt;

    std::filesystem::path current = root;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t slash = rel.find('/', start);
        bool last = slash == std::string_view::npos;
        std::string_view part = rel.substr(start, last ? std::string_view::npos : slash - start);
        if (part.empty()) {
            if (last)
                break;  // a trailing "/" names the directory itself
            return std::nullopt;
        }
        if (part == "." || part == "..")
            return std::nullopt;

        std::string chosen(part);
        std::error_code ec;
        if (!std::filesystem::exists(current / chosen, ec)) {
            // Case-insensitive match against what is there; the first in listing order wins.
            for (const DirEntry& e : ListDirectory(current)) {
                if (EqualNoCase(e.name, part)) {
                    chosen = e.name;
                    break;
                }
            }
        }
        current /= chosen;
        if (last)
            break;
        start = slash + 1;
    }
    return current;
}

bool GetCreationTime(const std::filesystem::path& file, time_t* utcSeconds)
{
    struct statx stx {};
    if (statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) == 0) {
        if ((stx.stx_mask & STATX_BTIME) && stx.stx_btime.tv_sec != 0)
            *utcSeconds = static_cast<time_t>(stx.stx_btime.tv_sec);
        else
            *utcSeconds = static_cast<time_t>(stx.stx_mtime.tv_sec);
        return true;
    }
    struct stat st {};
    if (stat(file.c_str(), &st) != 0)
        return false;
    *utcSeconds = st.st_mtime;
    return true;
}

std::uintmax_t FreeDiskSpace(const std::filesystem::path& path)
{
    struct statvfs vfs {};
    if (statvfs(path.c_str(), &vfs) != 0)
        return 0;
    return static_cast<std::uintmax_t>(vfs.f_bavail) * vfs.f_frsize;
}

}  // namespace platform
