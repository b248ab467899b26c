#include "harborage/file_handle.h"

#include <mutex>
#include <set>
#include <sys/stat.h>
#include <vector>

#include "common/durable_file.h"

namespace harborage {
namespace {

// So many noted paths are synced at once: a store used only through IMAP (whose deliveries
// are noted too) must not make the list grow without end.
constexpr size_t kMaxNoted = 4096;

struct Noted {
    std::mutex lock;
    std::set<std::string> files;
    std::set<std::string> directories;
};

Noted& NotedPaths()
{
    static Noted noted;
    return noted;
}

// False only when the path exists and could not be synced.
bool SyncOrGone(const std::string& path)
{
    if (durable::SyncPath(path))
        return true;
    struct stat st {};
    return stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace

void NoteUnsynced(const std::string& path)
{
    Noted& noted = NotedPaths();
    bool full;
    {
        std::lock_guard guard(noted.lock);
        noted.files.insert(path);
        noted.directories.insert(durable::DirectoryOf(path));
        full = noted.files.size() + noted.directories.size() > kMaxNoted;
    }
    if (full)
        SyncNoted();
}

bool SyncNoted()
{
    Noted& noted = NotedPaths();
    std::set<std::string> files, directories;
    {
        std::lock_guard guard(noted.lock);
        files.swap(noted.files);
        directories.swap(noted.directories);
    }
    // The files first: a directory entry that survives must name contents that survive too.
    std::vector<std::string> failed;
    for (const std::string& f : files)
        if (!SyncOrGone(f))
            failed.push_back(f);
    std::vector<std::string> failedDirectories;
    for (const std::string& d : directories)
        if (!SyncOrGone(d))
            failedDirectories.push_back(d);
    if (failed.empty() && failedDirectories.empty())
        return true;
    std::lock_guard guard(noted.lock);
    noted.files.insert(failed.begin(), failed.end());
    noted.directories.insert(failedDirectories.begin(), failedDirectories.end());
    return false;
}

long FileHandle::ReadRest(long offset, void* data, size_t size, ssize_t first, size_t* got) const
{
    size_t done = 0;
    bool failed = m_Fd < 0;
    for (ssize_t n = first; !failed;) {
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0) {
            break;  // the end of the file
        } else if (errno != EINTR) {
            failed = true;
            break;
        }
        if (done == size)
            break;
        n = pread(m_Fd, static_cast<char*>(data) + done, size - done, static_cast<off_t>(offset + done));
    }
    if (got != nullptr)
        *got = done;
    return failed ? -1 : static_cast<long>(done);
}

bool FileHandle::WriteRest(long offset, const void* data, size_t size, ssize_t first) const
{
    if (m_Fd < 0)
        return false;
    size_t done = 0;
    for (ssize_t n = first;;) {
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            return false;
        if (done == size)
            return true;
        n = pwrite(m_Fd, static_cast<const char*>(data) + done, size - done, static_cast<off_t>(offset + done));
    }
}

long FileHandle::Size() const
{
    struct stat st {};
    return m_Fd >= 0 && fstat(m_Fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool FileHandle::Truncate(long size) const { return m_Fd >= 0 && ftruncate(m_Fd, static_cast<off_t>(size)) == 0; }

}  // namespace harborage
