#include "harborage/file_handle.h"

#include <sys/stat.h>

namespace harborage {

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
