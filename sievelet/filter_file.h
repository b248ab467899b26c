#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reading and writing the filter files ("private.flt", "online.flt", "pass.flt"): big-endian
// numbers and length-prefixed texts, no padding. The reader never trusts the file: every
// read is checked against the end, and texts are cut to the caller's field.
namespace sievelet {

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& out);

enum class FileRead { kDone, kFailed, kTooLarge };
// The same for a file of at most `limit` bytes; a larger one is not read (out is then empty).
FileRead ReadWholeFile(const std::string& path, std::vector<unsigned char>& out, size_t limit);

class FilterFileReader {
public:
    explicit FilterFileReader(const std::vector<unsigned char>& data) : m_data(data) {}

    bool AtEnd() const { return m_pos >= m_data.size(); }
    bool ReadU32(uint32_t& value);
    bool ReadInt32(int32_t& value);
    bool ReadByte(uint8_t& value);
    // One length byte, then that many bytes; the text lands in field (fieldSize bytes,
    // always terminated, cut to fieldSize - 1). False when the file ends inside the text.
    bool ReadText(char* field, size_t fieldSize);

private:
    const std::vector<unsigned char>& m_data;
    size_t m_pos = 0;
};

class FilterFileWriter {
public:
    void PutU32(uint32_t value);
    void PutInt32(int32_t value) { PutU32(static_cast<uint32_t>(value)); }
    void PutByte(uint8_t value) { m_data.push_back(value); }
    // The text of a fixed field (read up to its terminator or the field's end), at most
    // 255 bytes, after its length byte.
    void PutText(const char* field, size_t fieldSize);

    // Replaces the file with the bytes collected: written beside it, forced to disk and
    // renamed over it, so a failed write or a power cut leaves the old file whole. False when
    // the file cannot be written.
    bool WriteTo(const std::string& path) const;

private:
    std::vector<unsigned char> m_data;
};

// Lower-cases 'A'-'Z' in place; every other byte (CP949 included) is kept.
void LowerAscii(char* text);

// The next FID after a load: the header's value, but never at or below a FID already in
// use and never below 1, so a damaged header cannot make a later add reuse an identifier.
int32_t NextFidAfterLoad(uint32_t header, bool anyRecord, int32_t maxFid);

// The FID for a new record. The counter stops at INT32_MAX; once there it may already be in
// use, and a shared FID would make a delete or an edit hit another record: the smallest
// free one is taken instead.
template <typename Records>
int32_t FidForNewRecord(const Records& records, int32_t next)
{
    if (next < INT32_MAX)
        return next;
    std::vector<int32_t> used;
    used.reserve(records.size());
    for (const auto& r : records)
        used.push_back(r.fid);
    std::sort(used.begin(), used.end());
    int32_t fid = 1;
    for (int32_t u : used)
        if (u == fid)
            ++fid;
        else if (u > fid)
            break;
    return fid;
}

}  // namespace sievelet
