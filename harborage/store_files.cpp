#include "harborage/store_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harborage/file_handle.h"
#include "platform/files.h"

namespace harborage {

std::string_view TrimTrailingSlashes(std::string_view name)
{
    while (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    return name;
}

std::string ResolveFolder(std::string_view root, std::string_view name)
{
    // An empty name (or only slashes) would be the store root itself: never a folder.
    if (TrimTrailingSlashes(name).empty())
        return {};
    std::optional<std::filesystem::path> path = platform::ResolveBelow(std::filesystem::path(std::string(root)), name);
    if (!path)
        return {};
    std::string out = path->string();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    // A symbolic link below the root (made by hand) could lead out of it: no level may be one.
    std::string rootText(root);
    while (rootText.size() > 1 && rootText.back() == '/')
        rootText.pop_back();
    for (size_t slash = out.find('/', rootText.size() + 1);; slash = out.find('/', slash + 1)) {
        std::string level = out.substr(0, slash);
        struct stat st {};
        if (lstat(level.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return {};
        if (slash == std::string::npos)
            break;
    }
    return out;
}

bool IsPlainDirectory(const std::string& path)
{
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyFileNoReplace(const std::string& from, const std::string& to)
{
    FileHandle in(from, O_RDONLY);
    if (!in.IsOpen())
        return false;
    FileHandle out(to, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (!out.IsOpen())
        return false;
    bool ok = true;
    char buffer[65536];
    for (long offset = 0;;) {
        long n = in.ReadAt(offset, buffer, sizeof buffer);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!out.WriteAt(offset, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
        offset += n;
    }
    in.Close();
    if (!out.Close())
        ok = false;
    if (!ok)
        unlink(to.c_str());
    return ok;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the no-replace rename: a hard link fails on an existing target.
        if (link(from.c_str(), to.c_str()) == 0) {
            unlink(from.c_str());
            return true;
        }
    }
    if (errno != EXDEV && errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return false;  // EEXIST, a missing source or directory, no permission
    // Another file system (or no hard links): copy, then remove the source.
    if (!CopyFileNoReplace(from, to))
        return false;
    unlink(from.c_str());
    return true;
}

}  // namespace harborage
