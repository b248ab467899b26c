// The index "mail.qlt" of the current folder (layout in mail_store.h): encoding and decoding
// its records, reading and writing the file, and the CIMAPMail operations on it.
#include "harborage/mail_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harborage/file_handle.h"
#include "harborage/mail_store.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
using harborage::FileHandle;
using harborage::ParseNumber;

constexpr const char* kIndexTemp = "mail.qlt.new";
constexpr int kUidSize = 6;    // a record: the UID,
constexpr int kNameSize = 16;  // the file name (NUL-padded),
constexpr int kFlagsAt = 22;   // the flag byte
static_assert(kUidSize + kNameSize + 1 == CIMAPMail::kRecordSize);

// ---------------------------------------------------------------------------------------------
// Records

unsigned char PackFlags(const MAILINFO& m)
{
    return static_cast<unsigned char>((m.seen ? 0x20 : 0) | (m.answered ? 0x10 : 0) | (m.flagged ? 0x08 : 0) |
                                      (m.deleted ? 0x04 : 0) | (m.draft ? 0x02 : 0) | (m.recent ? 0x01 : 0));
}

void UnpackFlags(unsigned char b, MAILINFO& m)
{
    m.seen = b & 0x20;
    m.answered = b & 0x10;
    m.flagged = b & 0x08;
    m.deleted = b & 0x04;
    m.draft = b & 0x02;
    m.recent = b & 0x01;
}

void FormatCounter(long value, char out[CIMAPMail::kHeaderSize])
{
    long v = std::clamp(value, 0L, CIMAPMail::kMaxUid);
    for (int i = CIMAPMail::kHeaderSize - 1; i >= 0; --i, v /= 10)
        out[i] = static_cast<char>('0' + v % 10);
}

void FormatRecord(const MAILINFO& m, char out[CIMAPMail::kRecordSize])
{
    FormatCounter(m.uid, out);
    std::memset(out + kUidSize, 0, kNameSize);
    std::memcpy(out + kUidSize, m.name, strnlen(m.name, kNameSize));
    out[kFlagsAt] = static_cast<char>(PackFlags(m));
}

// The UID of the record at `rec`; 0 or less for a deleted slot (or a damaged UID).
long RecordUid(const char* rec) { return ParseNumber(rec, kUidSize); }

// A new entry from the live record at `rec`; null for a deleted slot (or a damaged UID).
std::unique_ptr<MAILINFO> DecodeRecord(const char* rec)
{
    long uid = RecordUid(rec);
    if (uid <= 0)
        return nullptr;
    auto e = std::make_unique<MAILINFO>();
    std::memset(e.get(), 0, sizeof(MAILINFO));
    e->uid = static_cast<int>(uid);
    std::memcpy(e->name, rec + kUidSize, kNameSize);
    e->name[kNameSize] = '\0';
    UnpackFlags(static_cast<unsigned char>(rec[kFlagsAt]), *e);
    return e;
}

// The whole index as it stands: the counter, then every record.
std::string EncodeIndex(long counter, const MailInfoList& list)
{
    std::string data(CIMAPMail::kHeaderSize + CIMAPMail::kRecordSize * list.size(), '\0');
    FormatCounter(counter, data.data());
    for (size_t i = 0; i < list.size(); ++i)
        FormatRecord(*list[i], data.data() + CIMAPMail::kHeaderSize + CIMAPMail::kRecordSize * i);
    return data;
}

// ---------------------------------------------------------------------------------------------
// The file

// What the file holds. A read that fails part way keeps what came before it; false only when
// the file cannot be examined.
bool ReadAll(const FileHandle& file, std::string& out)
{
    long size = file.Size();
    if (size < 0)
        return false;
    out.resize(static_cast<size_t>(size));
    size_t got = 0;
    file.ReadAt(0, out.data(), out.size(), &got);
    out.resize(got);
    return true;
}

// Where the next record goes: after the last complete record, over any short tail, so a
// damaged tail never shifts the records that follow it. -1 when there is no header.
long AppendOffset(const FileHandle& index)
{
    long size = index.Size();
    if (size < CIMAPMail::kHeaderSize)
        return -1;
    return CIMAPMail::kHeaderSize + (size - CIMAPMail::kHeaderSize) / CIMAPMail::kRecordSize * CIMAPMail::kRecordSize;
}

using RecordOffsets = std::unordered_map<int, long>;

void RebuildOffsets(RecordOffsets& offsets, const FileHandle& index)
{
    offsets.clear();
    std::string data;
    if (!ReadAll(index, data))
        return;
    for (size_t pos = CIMAPMail::kHeaderSize; pos + CIMAPMail::kRecordSize <= data.size();
         pos += CIMAPMail::kRecordSize) {
        long uid = RecordUid(data.data() + pos);
        if (uid > 0)
            offsets.emplace(static_cast<int>(uid), static_cast<long>(pos));  // first record wins
    }
}

// The offset of the record with this UID. The remembered offset is checked against the file
// first (another object may have rewritten the index since); only when it is stale is the
// index read again, once, for all records.
long FindRecordOffset(RecordOffsets& offsets, const FileHandle& index, int uid)
{
    if (uid <= 0)
        return -1;
    auto it = offsets.find(uid);
    if (it != offsets.end()) {
        char buf[kUidSize];
        if (index.ReadAt(it->second, buf, kUidSize) == kUidSize && ParseNumber(buf, kUidSize) == uid)
            return it->second;
    }
    RebuildOffsets(offsets, index);
    it = offsets.find(uid);
    return it == offsets.end() ? -1 : it->second;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The whole index

bool CIMAPMail::LoadMailList(const char* indexPath)
{
    Guard guard(StoreLock());
    if (indexPath == nullptr)
        return false;
    std::string data;
    {
        FileHandle index(indexPath, O_RDONLY);
        if (!index.IsOpen() || !ReadAll(index, data))
            return false;
    }
    if (data.size() < static_cast<size_t>(kHeaderSize))
        return false;

    for (size_t pos = kHeaderSize; pos + kRecordSize <= data.size(); pos += kRecordSize) {
        std::unique_ptr<MAILINFO> e = DecodeRecord(data.data() + pos);
        if (e == nullptr)
            continue;
        e->seq = static_cast<int>(m_MailList.size() + 1);
        m_MailList.push_back(std::move(e));
    }
    return true;
}

bool CIMAPMail::SaveInitMailList(long counter)
{
    Guard guard(StoreLock());
    if (!HasFolder())
        return false;
    const std::string data = EncodeIndex(counter, m_MailList);
    if (!RewriteIndex(data)) {
        // Written beside the index and moved over it, so a failed write never loses the
        // index. The moved file is a new one: clients will fetch the folder afresh.
        const std::string temp = m_FolderPath + "/" + kIndexTemp;
        FileHandle file(temp, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (!file.IsOpen())
            return false;
        // On disk before it replaces the index: a power cut must not leave an empty index.
        bool ok = file.WriteAt(0, data.data(), data.size()) && file.Sync();
        ok = file.Close() && ok;
        if (!ok || std::rename(temp.c_str(), IndexPath().c_str()) != 0) {
            unlink(temp.c_str());
            return false;
        }
    }
    m_RecordOffset.clear();
    m_RecordOffset.reserve(m_MailList.size() * 2);
    for (size_t i = 0; i < m_MailList.size(); ++i)
        m_RecordOffset.emplace(m_MailList[i]->uid, static_cast<long>(kHeaderSize + kRecordSize * i));
    return true;
}

// The index keeps its identity across a rescan (its birth time is the folder's UID validity),
// so it is rewritten in place. The part beyond the old end is written first: when the disk is
// full that fails before any old byte is touched. Unchanged contents are not written at all.
bool CIMAPMail::RewriteIndex(const std::string& data)
{
    FileHandle index(IndexPath(), O_RDWR);
    if (!index.IsOpen())
        return false;
    std::string old;
    if (!ReadAll(index, old))
        return false;
    if (old == data)
        return index.Close();
    size_t keep = std::min(old.size(), data.size());
    if (data.size() > old.size() && !index.WriteAt(static_cast<long>(keep), data.data() + keep, data.size() - keep)) {
        if (!index.Truncate(static_cast<long>(old.size()))) {
            // The old records are intact either way; a longer file is only read to its last record.
        }
        return false;
    }
    if (!index.WriteAt(0, data.data(), keep))
        return false;
    if (data.size() < old.size() && !index.Truncate(static_cast<long>(data.size())))
        return false;
    return index.Close();
}

unsigned long CIMAPMail::GetUidValidity()
{
    Guard guard(StoreLock());
    if (!HasFolder())
        return 1;
    const std::string index = IndexPath();
    unsigned long long value = 0;
    struct statx stx {};
    if (statx(AT_FDCWD, index.c_str(), 0, STATX_BTIME | STATX_INO, &stx) != 0)
        return 1;  // no index (no folder): nothing a client could have cached
    if ((stx.stx_mask & STATX_BTIME) && stx.stx_btime.tv_sec > 0)
        value = static_cast<unsigned long long>(stx.stx_btime.tv_sec);
    else
        value = stx.stx_ino;
    value &= 0xFFFFFFFFULL;
    return value == 0 ? 1 : static_cast<unsigned long>(value);
}

long CIMAPMail::GetUidNext()
{
    Guard guard(StoreLock());
    if (!HasFolder())
        return 1;
    return LoadFID(IndexPath().c_str()) + 1;
}

// ---------------------------------------------------------------------------------------------
// One record

// The caller's own stream: it is left positioned for the caller's write, so this one works
// through stdio rather than a FileHandle.
bool CIMAPMail::FindMailInfo(FILE* index, long uid)
{
    Guard guard(StoreLock());
    if (index == nullptr || std::fseek(index, kHeaderSize, SEEK_SET) != 0)
        return false;
    char buf[kUidSize];
    for (;;) {
        if (std::fread(buf, 1, kUidSize, index) != kUidSize)
            return false;
        if (ParseNumber(buf, kUidSize) == uid)
            return std::fseek(index, -kUidSize, SEEK_CUR) == 0;
        if (std::fseek(index, kRecordSize - kUidSize, SEEK_CUR) != 0)
            return false;
    }
}

bool CIMAPMail::SaveInsertMailInfo(const MAILINFO* info)
{
    Guard guard(StoreLock());
    if (info == nullptr || !HasFolder())
        return false;
    FileHandle index(IndexPath(), O_RDWR | O_CREAT, 0644);
    if (!index.IsOpen())
        return false;
    long offset = AppendOffset(index);
    bool ok = true;
    if (offset < 0) {
        // No header to append to: start the index with this UID as its counter.
        char header[kHeaderSize];
        FormatCounter(info->uid, header);
        ok = index.WriteAt(0, header, kHeaderSize);
        offset = kHeaderSize;
    }
    char rec[kRecordSize];
    FormatRecord(*info, rec);
    if (ok && !index.WriteAt(offset, rec, kRecordSize)) {
        // A full disk may take part of the record: cut it off again rather than leave a
        // half-written record that a later append would have to write over.
        index.Truncate(offset);
        ok = false;
    }
    ok = index.Close() && ok;
    if (ok)
        m_RecordOffset[info->uid] = offset;
    return ok;
}

bool CIMAPMail::SaveUpdateMailInfo(const MAILINFO* info)
{
    Guard guard(StoreLock());
    if (info == nullptr || !HasFolder())
        return false;
    FileHandle index(IndexPath(), O_RDWR);
    if (!index.IsOpen())
        return false;
    long offset = FindRecordOffset(m_RecordOffset, index, info->uid);
    if (offset < 0) {
        offset = AppendOffset(index);
        if (offset < 0) {
            index.Close();
            return SaveInsertMailInfo(info);
        }
    }
    char rec[kRecordSize];
    FormatRecord(*info, rec);
    bool ok = index.WriteAt(offset, rec, kRecordSize);
    ok = index.Close() && ok;
    if (ok)
        m_RecordOffset[info->uid] = offset;
    return ok;
}

bool CIMAPMail::SaveDeleteMailInfo(const MAILINFO* info)
{
    Guard guard(StoreLock());
    if (info == nullptr || !HasFolder())
        return false;
    FileHandle index(IndexPath(), O_RDWR);
    if (!index.IsOpen())
        return false;
    long offset = FindRecordOffset(m_RecordOffset, index, info->uid);
    bool ok = false;
    if (offset >= 0) {
        char slot[kRecordSize];
        std::memset(slot, '0', sizeof slot);  // a deleted slot
        ok = index.WriteAt(offset, slot, kRecordSize);
        m_RecordOffset.erase(info->uid);
    }
    ok = index.Close() && ok;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// The counter

long CIMAPMail::LoadFID(const char* indexPath)
{
    Guard guard(StoreLock());
    if (indexPath == nullptr)
        return 0;
    FileHandle index(indexPath, O_RDONLY);
    char buf[kHeaderSize];
    return index.IsOpen() && index.ReadAt(0, buf, kHeaderSize) == kHeaderSize ? ParseNumber(buf, kHeaderSize) : 0;
}

bool CIMAPMail::SaveFID(const char* indexPath, long value)
{
    Guard guard(StoreLock());
    if (indexPath == nullptr)
        return false;
    // An existing index keeps its records (and its identity); a missing one is made.
    FileHandle index(indexPath, O_RDWR);
    if (!index.IsOpen() && !index.Open(indexPath, O_RDWR | O_CREAT | O_TRUNC, 0666))
        return false;
    char buf[kHeaderSize];
    FormatCounter(value, buf);
    bool ok = index.WriteAt(0, buf, kHeaderSize);
    return index.Close() && ok;
}

long CIMAPMail::IncFID()
{
    Guard guard(StoreLock());
    if (!HasFolder())
        return 0;
    const std::string index = IndexPath();
    long next = LoadFID(index.c_str()) + 1;
    // Six digits hold no more UIDs; a counter that could not be stored would repeat one.
    if (next > kMaxUid || next < 1 || !SaveFID(index.c_str(), next))
        return 0;
    return next;
}
