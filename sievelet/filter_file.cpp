#include "sievelet/filter_file.h"

#include "common/durable_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <cstdint>
#include <sys/stat.h>

namespace sievelet {

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& out)
{
    return ReadWholeFile(path, out, SIZE_MAX) == FileRead::kDone;
}

FileRead ReadWholeFile(const std::string& path, std::vector<unsigned char>& out, size_t limit)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return FileRead::kFailed;
    out.clear();
    // The size as the file is opened, to refuse an oversized one unread and to read the rest
    // into one block; a file that grows meanwhile is still held to the limit.
    struct stat info;
    if (fstat(fileno(file.get()), &info) == 0 && info.st_size > 0) {
        if (static_cast<uintmax_t>(info.st_size) > limit)
            return FileRead::kTooLarge;
        out.reserve(static_cast<size_t>(info.st_size));
    }
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (n > limit - out.size()) {
            out.clear();
            out.shrink_to_fit();
            return FileRead::kTooLarge;
        }
        out.insert(out.end(), chunk, chunk + n);
    }
    return std::ferror(file.get()) ? FileRead::kFailed : FileRead::kDone;
}

bool FilterFileReader::ReadU32(uint32_t& value)
{
    if (m_pos > m_data.size() || m_data.size() - m_pos < 4)
        return false;
    const unsigned char* p = m_data.data() + m_pos;
    value = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    m_pos += 4;
    return true;
}

bool FilterFileReader::ReadInt32(int32_t& value)
{
    uint32_t raw;
    if (!ReadU32(raw))
        return false;
    value = static_cast<int32_t>(raw);
    return true;
}

bool FilterFileReader::ReadByte(uint8_t& value)
{
    if (m_pos >= m_data.size())
        return false;
    value = m_data[m_pos++];
    return true;
}

bool FilterFileReader::ReadText(char* field, size_t fieldSize)
{
    uint8_t length;
    if (!ReadByte(length))
        return false;
    if (m_data.size() - m_pos < length)
        return false;
    size_t keep = length < fieldSize - 1 ? length : fieldSize - 1;
    std::memcpy(field, m_data.data() + m_pos, keep);
    field[keep] = '\0';
    m_pos += length;
    return true;
}

void FilterFileWriter::PutU32(uint32_t value)
{
    m_data.push_back(static_cast<unsigned char>(value >> 24));
    m_data.push_back(static_cast<unsigned char>(value >> 16));
    m_data.push_back(static_cast<unsigned char>(value >> 8));
    m_data.push_back(static_cast<unsigned char>(value));
}

void FilterFileWriter::PutText(const char* field, size_t fieldSize)
{
    size_t limit = fieldSize < 256 ? fieldSize : 256;
    size_t length = strnlen(field, limit);
    if (length > 255)
        length = 255;
    m_data.push_back(static_cast<unsigned char>(length));
    m_data.insert(m_data.end(), field, field + length);
}

bool FilterFileWriter::WriteTo(const std::string& path) const
{
    // Forced to disk before the rename: a power cut right after it must not leave an empty
    // filter file where the user's rules were.
    return durable::ReplaceFile(path, m_data.data(), m_data.size());
}

void LowerAscii(char* text)
{
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z')
            *text = static_cast<char>(*text - 'A' + 'a');
}

int32_t NextFidAfterLoad(uint32_t header, bool anyRecord, int32_t maxFid)
{
    int64_t next = static_cast<int32_t>(header);
    if (anyRecord && next <= maxFid)
        next = int64_t(maxFid) + 1;
    if (next < 1 || next > INT32_MAX)
        next = next < 1 ? 1 : INT32_MAX;
    return static_cast<int32_t>(next);
}

}  // namespace sievelet
