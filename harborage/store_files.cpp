#include "harborage/store_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    close(in);
    if (close(out) != 0)
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
