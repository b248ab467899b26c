#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CMailHeader;

constexpr int PASS_ADDRESS_SIZE = 81;      // 80 bytes and the terminator
constexpr int PASS_DESCRIPTION_SIZE = 51;  // 50 bytes and the terminator

// One pass entry: an address, a domain or any part of one whose mail always gets through.
struct PASS_FILTER {
    int32_t fid;  // unique within the list, never reused
    int32_t hit;  // messages let through so far
    char address[PASS_ADDRESS_SIZE];
    char description[PASS_DESCRIPTION_SIZE];
};

// The user's pass list, tied to "pass.flt". Loaded at construction, saved at destruction
// and by SavePassFilter. Nothing inside locks: the owner holds GetLock() (or uses the
// object as a lockable) for the whole of one match or one edit.
class CPassFilter {
public:
    explicit CPassFilter(const char* path);
    ~CPassFilter();  // saves the list, then releases it
    CPassFilter(const CPassFilter&) = delete;
    CPassFilter& operator=(const CPassFilter&) = delete;

    // As for the block lists: load replaces the list (false when the file cannot be opened,
    // list unchanged, or holds fewer than 4 bytes, list empty); save rewrites the file.
    bool LoadPassFilter();
    bool SavePassFilter();

    PASS_FILTER* AddPassFilter(const char* address, const char* description);
    PASS_FILTER* EditPassFilter(int fid, const char* address, const char* description);
    void DelPassFilter(int fid);
    PASS_FILTER* GetPassFilter(int index);
    PASS_FILTER* GetPassFilterByFID(int fid);
    int GetSize() const { return static_cast<int>(m_filters.size()); }

    // True when an entry occurs (byte-wise) in the From address or the From display name;
    // only the first such entry has its hit count raised.
    bool DoPassFiltering(CMailHeader* header);

    std::mutex& GetLock() { return m_lock; }
    void lock() { m_lock.lock(); }
    void unlock() { m_lock.unlock(); }
    bool try_lock() { return m_lock.try_lock(); }

    const std::string& GetPath() const { return m_path; }

private:
    std::vector<PASS_FILTER> m_filters;
    std::string m_path;  // at most 499 bytes
    int32_t m_nextFid = 1;

    std::mutex m_lock;
};
