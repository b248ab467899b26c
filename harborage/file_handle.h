#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace harborage {

// An open file descriptor, closed when the object goes. The store reads and writes its own
// files only through this: positioned reads and writes with no stdio buffer in between (a
// record written is in the file for the next reader at once), and a transfer cut short by a
// signal or a partial write is carried on until it is done or fails.
//
// The common case (the whole transfer in one call) is inline: a flag update is one open, one
// 6-byte read, one 23-byte write and a close, and it is done for every message of a STORE.
class FileHandle {
public:
    FileHandle() = default;
    // open(2) with `flags` (close-on-exec added); `mode` is used only when a file is created.
    FileHandle(const std::string& path, int flags, mode_t mode = 0644) { Open(path, flags, mode); }
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Closes any file held, then opens `path`. True when it is open.
    bool Open(const std::string& path, int flags, mode_t mode = 0644)
    {
        Close();
        do
            m_Fd = open(path.c_str(), flags | O_CLOEXEC, mode);
        while (m_Fd < 0 && errno == EINTR);
        return m_Fd >= 0;
    }
    bool IsOpen() const { return m_Fd >= 0; }

    // Reads `size` bytes at `offset` and returns how many came: fewer only where the file
    // ends, -1 when a read failed. `got`, when given, receives the bytes read in either case,
    // for a caller that keeps what came before a failure, as stdio would.
    long ReadAt(long offset, void* data, size_t size, size_t* got = nullptr) const
    {
        ssize_t n = m_Fd >= 0 ? pread(m_Fd, data, size, static_cast<off_t>(offset)) : -1;
        if (n != static_cast<ssize_t>(size))
            return ReadRest(offset, data, size, n, got);
        if (got != nullptr)
            *got = size;
        return static_cast<long>(size);
    }
    // Writes all `size` bytes at `offset`. False when they could not all be written.
    bool WriteAt(long offset, const void* data, size_t size) const
    {
        ssize_t n = m_Fd >= 0 ? pwrite(m_Fd, data, size, static_cast<off_t>(offset)) : -1;
        return n == static_cast<ssize_t>(size) || WriteRest(offset, data, size, n);
    }
    // The file's size in bytes; -1 when it cannot be examined.
    long Size() const;
    bool Truncate(long size) const;
    // Forces what was written to disk. False when that failed.
    bool Sync() const { return m_Fd >= 0 && fsync(m_Fd) == 0; }
    // Closes the file now. False when the close reported an error (a write the kernel could
    // not finish shows up here); closing nothing is no error. No retry on EINTR: on Linux
    // the descriptor is gone either way.
    bool Close()
    {
        if (m_Fd < 0)
            return true;
        int rc = close(m_Fd);
        m_Fd = -1;
        return rc == 0;
    }

private:
    // The rest of a transfer whose first call moved `first` bytes (or failed with -1).
    long ReadRest(long offset, void* data, size_t size, ssize_t first, size_t* got) const;
    bool WriteRest(long offset, const void* data, size_t size, ssize_t first) const;

    int m_Fd = -1;
};

// The files a delivery changed and has not forced to disk, with their directories. Writing a
// message and its record goes to the page cache only; forcing each to disk at once would cost
// a disk flush per message. Instead a delivery notes what it changed, and whoever is about to
// rely on those files surviving a power cut (the POP3 proxy, before it lets the server delete
// its copies) syncs everything noted at once. Process-wide, with a lock of its own.
//
// Notes `path` and its directory.
void NoteUnsynced(const std::string& path);
// Forces every noted file, then every noted directory, to disk, each once, and forgets them.
// A file that is gone meanwhile needs nothing. False when one could not be synced (it stays
// noted for the next call).
bool SyncNoted();

}  // namespace harborage
