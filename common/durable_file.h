#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

// Writing small files so that a crash or a power cut leaves either the old file or the new one
// whole, never an empty or a half-written one, and syncing files that were written otherwise.
// Header-only: the filter library, the POP3 client library, the store and the main program
// each use it, and they share no source library of their own.
namespace durable {

// The directory part of a path ("." for a bare name); a trailing '/' of the directory is dropped.
inline std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Forces the file or directory at `path` to disk (its data, and for a directory its entries).
inline bool SyncPath(const std::string& path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Replaces `path` with `size` bytes: written to `path` + ".tmp", forced to disk, renamed over
// the file, and the directory forced to disk so that the rename itself survives. The data must
// be on disk before the rename: otherwise a power cut can leave the new name with no contents.
// False when a step failed; the old file is then untouched and the temporary removed.
inline bool ReplaceFile(const std::string& path, const void* data, size_t size)
{
    const std::string temp = path + ".tmp";
    int fd;
    do
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    bool ok = true;
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ok = false;
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // The new file is in place either way; a directory that cannot be synced only leaves the
    // rename less certain to survive a power cut, and that is reported.
    return SyncPath(DirectoryOf(path));
}

}  // namespace durable
