#include "harborage/mail_store.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <strings.h>
#include <unistd.h>
#include <string_view>
#include <unordered_set>

#include "components/toolwick/spam_util.h"
#include "harborage/store_files.h"
#include "platform/files.h"

namespace {

// Created when the library is loaded; guards every CIMAPMail operation in the process.
std::recursive_mutex g_StoreLock;

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr const char* kIndexName = "mail.qlt";
constexpr const char* kIndexTemp = "mail.qlt.new";
constexpr const char* kMessagePattern = "mesg????????.msg";
constexpr long kMaxFileNumber = 99999999;  // what eight digits can hold

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

// A decimal number of `n` bytes as the original atol read it: blanks, a sign, then leading
// digits only. By hand: a rescan reads one for every record.
long ParseNumber(const char* p, size_t n)
{
    size_t i = 0;
    while (i < n && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (p[i] == '+' || p[i] == '-'))
        negative = p[i++] == '-';
    long value = 0;
    for (size_t digits = 0; i < n && digits < 15 && p[i] >= '0' && p[i] <= '9'; ++i, ++digits)
        value = value * 10 + (p[i] - '0');
    return negative ? -value : value;
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
    std::memset(out + 6, 0, 16);
    std::memcpy(out + 6, m.name, strnlen(m.name, 16));
    out[22] = static_cast<char>(PackFlags(m));
}

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The file names of one rescan, ASCII case folded, in one flat open-addressing table. The
// listing lets only 16-byte names through and the index holds at most 16 bytes, so a name is
// its two folded 8-byte halves and its length: a lookup follows no pointer and nothing is
// allocated per name, and a large folder costs per message what a small one does.
class FoldedNameTable {
public:
    struct Slot {
        std::uint64_t low = 0, high = 0;
        std::uint32_t length = 0;  // 0: empty (a listed name is never empty)
        bool kept = false;         // an index entry has claimed the file
    };

    explicit FoldedNameTable(size_t count)
    {
        size_t size = 16;
        while (size < count * 2)
            size <<= 1;
        m_Slots.resize(size);
        m_Mask = size - 1;
    }

    // The slot of `name`, added if it is not there yet.
    Slot& Add(std::string_view name) { return *Probe(name, true); }
    // The slot of `name`, or nullptr.
    Slot* Find(std::string_view name) { return name.empty() ? nullptr : Probe(name, false); }

private:
    Slot* Probe(std::string_view name, bool add)
    {
        char folded[16] = {};
        for (size_t i = 0; i < std::min<size_t>(name.size(), 16); ++i)
            folded[i] = FoldAscii(name[i]);
        Slot key;
        std::memcpy(&key.low, folded, 8);
        std::memcpy(&key.high, folded + 8, 8);
        key.length = static_cast<std::uint32_t>(name.size());
        std::uint64_t h = key.low * 0x9E3779B97F4A7C15ull ^ key.high * 0xC2B2AE3D27D4EB4Full ^ key.length;
        h ^= h >> 31;
        for (size_t i = static_cast<size_t>(h) & m_Mask;; i = (i + 1) & m_Mask) {
            Slot& s = m_Slots[i];
            if (s.length == 0) {
                if (!add)
                    return nullptr;
                s = key;
                return &s;
            }
            if (s.low == key.low && s.high == key.high && s.length == key.length)
                return &s;
        }
    }

    std::vector<Slot> m_Slots;
    size_t m_Mask = 0;
};

bool ReadWholeFile(FILE* f, std::string& out)
{
    if (std::fseek(f, 0, SEEK_END) != 0)
        return false;
    long size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0)
        return false;
    out.resize(static_cast<size_t>(size));
    out.resize(std::fread(out.data(), 1, out.size(), f));
    return true;
}

// The index opened for one record operation: positioned reads and writes, no stdio buffer.
class IndexFile {
public:
    IndexFile(const std::string& path, bool create)
        : m_Fd(open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644)) {}
    ~IndexFile() { Close(); }
    IndexFile(const IndexFile&) = delete;
    IndexFile& operator=(const IndexFile&) = delete;

    bool IsOpen() const { return m_Fd >= 0; }
    int Fd() const { return m_Fd; }
    bool WriteAt(long offset, const char* data, size_t size)
    {
        return pwrite(m_Fd, data, size, offset) == static_cast<ssize_t>(size);
    }
    bool Close()
    {
        int rc = m_Fd >= 0 ? close(m_Fd) : 0;
        m_Fd = -1;
        return rc == 0;
    }

private:
    int m_Fd;
};

long FileSize(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool ReadAll(int fd, std::string& out)
{
    long size = FileSize(fd);
    if (size < 0)
        return false;
    out.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < out.size()) {
        ssize_t n = pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(got));
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return true;
}

// Where the next record goes: after the last complete record, over any short tail, so a
// damaged tail never shifts the records that follow it. -1 when there is no header.
long AppendOffset(int fd)
{
    long size = FileSize(fd);
    if (size < CIMAPMail::kHeaderSize)
        return -1;
    return CIMAPMail::kHeaderSize + (size - CIMAPMail::kHeaderSize) / CIMAPMail::kRecordSize * CIMAPMail::kRecordSize;
}

bool WriteAt(FILE* f, long offset, const char* data, size_t size)
{
    return std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(data, 1, size, f) == size;
}

// The largest number among the message files (not directories) of `directory`, 0 for none.
long LargestFileNumber(const std::string& directory)
{
    long largest = 0;
    for (const platform::DirEntry& e : platform::ListDirectory(directory, kMessagePattern, false, false))
        if (!e.isDirectory)
            largest = std::max(largest, ParseNumber(e.name.c_str() + 4, 8));
    return largest;
}

// The largest message file number of each directory we put a file into, with the directory's
// modification time just after: while that time stays the same nothing else was added, and
// the next file name follows without listing the directory again (each spam delivered into
// a large spam box would otherwise list all of it). Guarded by the store lock. A change
// that slipped in unseen can only make a name taken; the move refuses it and the directory
// is listed afresh.
class LargestNumberCache {
public:
    bool Find(const std::string& directory, const timespec& changed, long* largest) const
    {
        auto it = m_Known.find(directory);
        if (it == m_Known.end() || it->second.changed.tv_sec != changed.tv_sec ||
            it->second.changed.tv_nsec != changed.tv_nsec)
            return false;
        *largest = it->second.largest;
        return true;
    }
    void Added(const std::string& directory, const char* fileName)
    {
        struct stat st {};
        if (stat(directory.c_str(), &st) != 0) {
            m_Known.erase(directory);
            return;
        }
        long number = ParseNumber(fileName + 4, 8);
        Used(directory, number);
        auto it = m_Known.find(directory);
        // Known before this file came: the new time covers only our own change.
        if (it != m_Known.end() && it->second.largest < number) {
            it->second = Entry {st.st_mtim, number};
            return;
        }
        if (m_Known.size() >= kMaxDirectories)
            m_Known.clear();
        // First file here: list once to learn the rest.
        m_Known[directory] = Entry {st.st_mtim, LargestFileNumber(directory)};
    }
    void Forget(const std::string& directory) { m_Known.erase(directory); }

    // A number once handed out or deleted here is not handed out again while we run: another
    // session that listed the folder before still holds that file name for its old message,
    // and would read, flag or expunge a new message that took the name.
    void Used(const std::string& directory, long number)
    {
        long& used = m_Used[directory];
        used = std::max(used, number);
    }
    long UsedUpTo(const std::string& directory) const
    {
        auto it = m_Used.find(directory);
        return it == m_Used.end() ? 0 : it->second;
    }

private:
    struct Entry {
        timespec changed;
        long largest;
    };
    static constexpr size_t kMaxDirectories = 1000;
    std::unordered_map<std::string, Entry> m_Known;
    std::unordered_map<std::string, long> m_Used;   // one number per folder, never cleared
};

LargestNumberCache g_LargestFileNumber;

}  // namespace

std::recursive_mutex& CIMAPMail::StoreLock() { return g_StoreLock; }

CIMAPMail::CIMAPMail(const char* rootPath)
{
    CSpamUtil::STRNCPY(m_RootPath, rootPath ? rootPath : "", kRootSize);
}

CIMAPMail::~CIMAPMail() = default;

std::string CIMAPMail::FolderFile(const char* name) const
{
    if (!HasFolder() || name == nullptr || *name == '\0')
        return {};
    // Only plain file names: nothing reaches another directory.
    if (std::strchr(name, '/') || std::strchr(name, '\\') || !std::strcmp(name, ".") || !std::strcmp(name, ".."))
        return {};
    return m_FolderPath + "/" + name;
}

// ---------------------------------------------------------------------------------------------
// Rescan

void CIMAPMail::FolderMailInit(const char* folder)
{
    Guard guard(g_StoreLock);
    BindFolder(folder);
    if (HasFolder())
        Rescan();
}

void CIMAPMail::BindFolder(const char* folder)
{
    Guard guard(g_StoreLock);
    m_MailList.clear();
    m_RecordOffset.clear();
    std::string name = folder ? folder : "";  // `folder` may be our own GetFolderName()
    m_FolderName = std::move(name);
    m_FolderPath = harborage::ResolveFolder(m_RootPath, m_FolderName);
}

void CIMAPMail::Rescan()
{
    const std::string index = IndexPath();
    // The names are only looked up, so the listing stays unsorted; the few files the index
    // does not know are put in order below.
    std::vector<platform::DirEntry> files;
    {
        Guard guard(g_StoreLock);
        files = platform::ListDirectory(m_FolderPath, kMessagePattern, false, false);
    }
    files.erase(std::remove_if(files.begin(), files.end(), [](const platform::DirEntry& e) { return e.isDirectory; }),
                files.end());
    if (!LoadMailList(index.c_str())) {
        // UIDs start again from 1: a file of its own, so that it is born anew and clients
        // see a new UID validity even when a damaged index was left behind.
        unlink(index.c_str());
        SaveFID(index.c_str(), 0);
    }

    FoldedNameTable names(files.size());
    std::vector<FoldedNameTable::Slot*> fileSlots;
    fileSlots.reserve(files.size());
    for (const platform::DirEntry& f : files)
        fileSlots.push_back(&names.Add(f.name));

    // Keep the entries whose file is there, each file and each UID once. The counter never
    // falls below a UID the index has held, even if its header was damaged.
    long counter = LoadFID(index.c_str());
    for (const auto& e : m_MailList)
        counter = std::max<long>(counter, e->uid);
    // UIDs are checked for repeats by their order while they climb, as an index written by us
    // has them; a set is built only for one that does not.
    int lastUid = 0;
    std::unordered_set<int> uids;
    bool ascending = true;
    MailInfoList entries;
    entries.reserve(m_MailList.size());
    std::vector<MAILINFO*> needUid;
    for (auto& e : m_MailList) {
        FoldedNameTable::Slot* slot = names.Find(e->name);
        if (slot == nullptr || slot->kept)
            continue;
        slot->kept = true;
        if (ascending && e->uid > lastUid) {
            lastUid = e->uid;
        } else {
            if (ascending) {
                ascending = false;
                for (const auto& k : entries)
                    uids.insert(k->uid);
            }
            if (!uids.insert(e->uid).second)
                needUid.push_back(e.get());
        }
        entries.push_back(std::move(e));
    }
    // A damaged index may repeat a UID: the later record gets a fresh one.
    for (MAILINFO* e : needUid) {
        if (counter >= kMaxUid)
            break;
        e->uid = static_cast<int>(++counter);
    }
    // Files the index does not know: new \Recent messages with the next UIDs, in name order.
    std::vector<std::string> unknown;
    for (size_t i = 0; i < files.size(); ++i)
        if (!fileSlots[i]->kept)
            unknown.push_back(std::move(files[i].name));
    std::sort(unknown.begin(), unknown.end(), platform::LessNameNoCase);
    for (const std::string& f : unknown) {
        if (counter >= kMaxUid)
            continue;
        auto e = std::make_unique<MAILINFO>();
        std::memset(e.get(), 0, sizeof(MAILINFO));
        e->uid = static_cast<int>(++counter);
        CSpamUtil::STRNCPY(e->name, f.c_str(), sizeof e->name);
        e->recent = true;
        entries.push_back(std::move(e));
    }
    m_MailList = std::move(entries);
    for (size_t i = 0; i < m_MailList.size(); ++i)
        m_MailList[i]->seq = static_cast<int>(i + 1);
    SaveInitMailList(counter);
}

bool CIMAPMail::LoadMailList(const char* indexPath)
{
    Guard guard(g_StoreLock);
    FILE* f = indexPath ? std::fopen(indexPath, "rb") : nullptr;
    if (f == nullptr)
        return false;
    std::string data;
    bool read = ReadWholeFile(f, data);
    std::fclose(f);
    if (!read || data.size() < static_cast<size_t>(kHeaderSize))
        return false;

    for (size_t pos = kHeaderSize; pos + kRecordSize <= data.size(); pos += kRecordSize) {
        const char* rec = data.data() + pos;
        long uid = ParseNumber(rec, 6);
        if (uid <= 0)
            continue;  // a deleted slot (or a damaged UID)
        auto e = std::make_unique<MAILINFO>();
        std::memset(e.get(), 0, sizeof(MAILINFO));
        e->seq = static_cast<int>(m_MailList.size() + 1);
        e->uid = static_cast<int>(uid);
        std::memcpy(e->name, rec + 6, 16);
        e->name[16] = '\0';
        UnpackFlags(static_cast<unsigned char>(rec[22]), *e);
        m_MailList.push_back(std::move(e));
    }
    return true;
}

bool CIMAPMail::SaveInitMailList(long counter)
{
    Guard guard(g_StoreLock);
    if (!HasFolder())
        return false;
    std::string data(kHeaderSize + kRecordSize * m_MailList.size(), '\0');
    FormatCounter(counter, data.data());
    for (size_t i = 0; i < m_MailList.size(); ++i)
        FormatRecord(*m_MailList[i], data.data() + kHeaderSize + kRecordSize * i);

    if (!RewriteIndex(data)) {
        // Written beside the index and moved over it, so a failed write never loses the
        // index. The moved file is a new one: clients will fetch the folder afresh.
        const std::string temp = m_FolderPath + "/" + kIndexTemp;
        FILE* f = std::fopen(temp.c_str(), "wb");
        if (f == nullptr)
            return false;
        bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
        ok = std::fclose(f) == 0 && ok;
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
    IndexFile index(IndexPath(), false);
    if (!index.IsOpen())
        return false;
    std::string old;
    if (!ReadAll(index.Fd(), old))
        return false;
    if (old == data)
        return index.Close();
    size_t keep = std::min(old.size(), data.size());
    if (data.size() > old.size() && !index.WriteAt(static_cast<long>(keep), data.data() + keep, data.size() - keep)) {
        if (ftruncate(index.Fd(), static_cast<off_t>(old.size())) != 0) {
            // The old records are intact either way; a longer file is only read to its last record.
        }
        return false;
    }
    if (!index.WriteAt(0, data.data(), keep))
        return false;
    if (data.size() < old.size() && ftruncate(index.Fd(), static_cast<off_t>(data.size())) != 0)
        return false;
    return index.Close();
}

unsigned long CIMAPMail::GetUidValidity()
{
    Guard guard(g_StoreLock);
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
    Guard guard(g_StoreLock);
    if (!HasFolder())
        return 1;
    return LoadFID(IndexPath().c_str()) + 1;
}

// ---------------------------------------------------------------------------------------------
// The list

MAILINFO* CIMAPMail::InsertMailInfo(MailInfoList& list, const char* name, bool seen, bool answered, bool flagged,
                                    bool deleted, bool draft, bool recent)
{
    Guard guard(g_StoreLock);
    long uid = IncFID();
    if (uid <= 0)
        return nullptr;
    auto e = std::make_unique<MAILINFO>();
    std::memset(e.get(), 0, sizeof(MAILINFO));
    e->seq = static_cast<int>(list.size() + 1);
    e->uid = static_cast<int>(uid);
    CSpamUtil::STRNCPY(e->name, name ? name : "", sizeof e->name);
    e->seen = seen;
    e->answered = answered;
    e->flagged = flagged;
    e->deleted = deleted;
    e->draft = draft;
    e->recent = recent;
    list.push_back(std::move(e));
    return list.back().get();
}

void CIMAPMail::RemoveMailInfo(MailInfoList& list, const char* name)
{
    Guard guard(g_StoreLock);
    if (name == nullptr)
        return;
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return strcasecmp(e->name, name) == 0; });
    if (it == list.end())
        return;
    it = list.erase(it);
    for (; it != list.end(); ++it)
        --(*it)->seq;
}

MAILINFO* CIMAPMail::GetMailInfo(int seq)
{
    Guard guard(g_StoreLock);
    if (seq < 1 || seq > static_cast<int>(m_MailList.size()))
        return nullptr;
    return m_MailList[seq - 1].get();
}

int CIMAPMail::Size()
{
    Guard guard(g_StoreLock);
    return static_cast<int>(m_MailList.size());
}

int CIMAPMail::GetMessageCount() { return Size(); }

int CIMAPMail::GetRecentCount()
{
    Guard guard(g_StoreLock);
    return static_cast<int>(std::count_if(m_MailList.begin(), m_MailList.end(), [](const auto& e) { return e->recent; }));
}

int CIMAPMail::GetUnseenCount(int& firstUnseen)
{
    Guard guard(g_StoreLock);
    int count = 0;
    for (const auto& e : m_MailList) {
        if (e->seen)
            continue;
        if (count++ == 0)
            firstUnseen = e->seq;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Index records

bool CIMAPMail::FindMailInfo(FILE* index, long uid)
{
    Guard guard(g_StoreLock);
    if (index == nullptr || std::fseek(index, kHeaderSize, SEEK_SET) != 0)
        return false;
    char buf[6];
    for (;;) {
        if (std::fread(buf, 1, 6, index) != 6)
            return false;
        if (ParseNumber(buf, 6) == uid)
            return std::fseek(index, -6, SEEK_CUR) == 0;
        if (std::fseek(index, kRecordSize - 6, SEEK_CUR) != 0)
            return false;
    }
}

void CIMAPMail::RebuildOffsets(int indexFd)
{
    m_RecordOffset.clear();
    std::string data;
    if (!ReadAll(indexFd, data))
        return;
    for (size_t pos = kHeaderSize; pos + kRecordSize <= data.size(); pos += kRecordSize) {
        long uid = ParseNumber(data.data() + pos, 6);
        if (uid > 0)
            m_RecordOffset.emplace(static_cast<int>(uid), static_cast<long>(pos));  // first record wins
    }
}

// The offset of the record with this UID. The remembered offset is checked against the file
// first (another object may have rewritten the index since); only when it is stale is the
// index read again, once, for all records.
long CIMAPMail::FindRecordOffset(int indexFd, int uid)
{
    if (uid <= 0)
        return -1;
    auto it = m_RecordOffset.find(uid);
    if (it != m_RecordOffset.end()) {
        char buf[6];
        if (pread(indexFd, buf, 6, it->second) == 6 && ParseNumber(buf, 6) == uid)
            return it->second;
    }
    RebuildOffsets(indexFd);
    it = m_RecordOffset.find(uid);
    return it == m_RecordOffset.end() ? -1 : it->second;
}

bool CIMAPMail::SaveInsertMailInfo(const MAILINFO* info)
{
    Guard guard(g_StoreLock);
    if (info == nullptr || !HasFolder())
        return false;
    IndexFile index(IndexPath(), true);
    if (!index.IsOpen())
        return false;
    long offset = AppendOffset(index.Fd());
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
    ok = ok && index.WriteAt(offset, rec, kRecordSize);
    ok = index.Close() && ok;
    if (ok)
        m_RecordOffset[info->uid] = offset;
    return ok;
}

bool CIMAPMail::SaveUpdateMailInfo(const MAILINFO* info)
{
    Guard guard(g_StoreLock);
    if (info == nullptr || !HasFolder())
        return false;
    IndexFile index(IndexPath(), false);
    if (!index.IsOpen())
        return false;
    long offset = FindRecordOffset(index.Fd(), info->uid);
    if (offset < 0) {
        offset = AppendOffset(index.Fd());
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
    Guard guard(g_StoreLock);
    if (info == nullptr || !HasFolder())
        return false;
    IndexFile index(IndexPath(), false);
    if (!index.IsOpen())
        return false;
    long offset = FindRecordOffset(index.Fd(), info->uid);
    bool ok = false;
    if (offset >= 0) {
        char slot[kRecordSize];
        std::memset(slot, '0', sizeof slot);
        ok = index.WriteAt(offset, slot, kRecordSize);
        m_RecordOffset.erase(info->uid);
    }
    ok = index.Close() && ok;
    return ok;
}

long CIMAPMail::LoadFID(const char* indexPath)
{
    Guard guard(g_StoreLock);
    FILE* f = indexPath ? std::fopen(indexPath, "rb") : nullptr;
    if (f == nullptr)
        return 0;
    char buf[kHeaderSize];
    size_t n = std::fread(buf, 1, kHeaderSize, f);
    std::fclose(f);
    return n == static_cast<size_t>(kHeaderSize) ? ParseNumber(buf, kHeaderSize) : 0;
}

bool CIMAPMail::SaveFID(const char* indexPath, long value)
{
    Guard guard(g_StoreLock);
    if (indexPath == nullptr)
        return false;
    FILE* f = std::fopen(indexPath, "r+b");
    if (f == nullptr)
        f = std::fopen(indexPath, "w+b");
    if (f == nullptr)
        return false;
    char buf[kHeaderSize];
    FormatCounter(value, buf);
    bool ok = WriteAt(f, 0, buf, kHeaderSize);
    return std::fclose(f) == 0 && ok;
}

long CIMAPMail::IncFID()
{
    Guard guard(g_StoreLock);
    if (!HasFolder())
        return 0;
    const std::string index = IndexPath();
    long next = LoadFID(index.c_str()) + 1;
    // Six digits hold no more UIDs; a counter that could not be stored would repeat one.
    if (next > kMaxUid || next < 1 || !SaveFID(index.c_str(), next))
        return 0;
    return next;
}

// ---------------------------------------------------------------------------------------------
// Message files

FILE* CIMAPMail::OpenMailFile(const char* name)
{
    std::string path;
    {
        Guard guard(g_StoreLock);
        path = FolderFile(name);
    }
    return path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
}

void CIMAPMail::CloseMailFile(FILE* file)
{
    if (file != nullptr)
        std::fclose(file);
}

unsigned long CIMAPMail::GetFileSize(const char* name)
{
    Guard guard(g_StoreLock);
    FILE* f = OpenMailFile(name);
    if (f == nullptr)
        return 0;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0)
        size = std::ftell(f);
    std::fclose(f);
    return size < 0 ? 0 : static_cast<unsigned long>(size);
}

int CIMAPMail::GetFileDate(const char* name, time_t& utcTime)
{
    Guard guard(g_StoreLock);
    std::string path = FolderFile(name);
    time_t t = 0;
    if (path.empty() || !platform::GetCreationTime(path, &t))
        return 0;
    utcTime = t;
    return 1;
}

char* CIMAPMail::LoadMailHeader(const char* name)
{
    Guard guard(g_StoreLock);
    FILE* f = OpenMailFile(name);
    if (f == nullptr)
        return nullptr;

    // Search for the first CRLF CRLF in 100-byte reads; the match may span two reads.
    static const char kBlank[] = "\r\n\r\n";
    long length = 0, total = 0;
    int matched = 0;
    char piece[100];
    size_t n;
    while (length == 0 && (n = std::fread(piece, 1, sizeof piece, f)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            char c = piece[i];
            matched = c == kBlank[matched] ? matched + 1 : (c == '\r' ? 1 : 0);
            if (matched == 4) {
                length = total + static_cast<long>(i) + 1;
                break;
            }
        }
        total += static_cast<long>(n);
    }
    if (length == 0)
        length = total;  // no blank line: the whole file is the header

    char* header = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    size_t got = 0;
    if (header != nullptr && std::fseek(f, 0, SEEK_SET) == 0)
        got = std::fread(header, 1, static_cast<size_t>(length), f);
    if (header != nullptr)
        header[got] = '\0';
    std::fclose(f);
    return header;
}

bool CIMAPMail::GetMailFileList(const char* directory, std::vector<std::string>& files)
{
    Guard guard(g_StoreLock);
    std::error_code ec;
    if (directory == nullptr || !std::filesystem::is_directory(directory, ec))
        return false;
    for (const platform::DirEntry& e : platform::ListDirectory(directory, kMessagePattern))
        if (!e.isDirectory)
            files.push_back(e.name);
    return true;
}

bool CIMAPMail::GetMailFileName(const char* directory, char* name)
{
    Guard guard(g_StoreLock);
    struct stat st {};
    if (directory == nullptr || stat(directory, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    long largest = 0;
    if (!g_LargestFileNumber.Find(directory, st.st_mtim, &largest))
        largest = LargestFileNumber(directory);
    largest = std::max(largest, g_LargestFileNumber.UsedUpTo(directory));
    if (largest >= kMaxFileNumber)
        return false;  // a ninth digit would fall outside the scan pattern
    // 8 digits at most (checked above); the buffer bound is only for the compiler's sake.
    char buf[32];
    std::snprintf(buf, sizeof buf, "mesg%08ld.msg", largest + 1);
    std::memcpy(name, buf, 17);
    return true;
}

int CIMAPMail::CopyMailFile(int seq, const char* folder)
{
    Guard guard(g_StoreLock);
    MAILINFO* info = GetMailInfo(seq);
    if (info == nullptr || folder == nullptr)
        return 0;
    std::string source = FolderFile(info->name);
    std::string target = harborage::ResolveFolder(m_RootPath, folder);
    if (source.empty() || !harborage::IsPlainDirectory(target))
        return 0;
    char name[20];
    if (!GetMailFileName(target.c_str(), name))
        return 0;
    if (!harborage::CopyFileNoReplace(source, target + "/" + name)) {
        g_LargestFileNumber.Forget(target);   // as in AddTempMailMesg
        if (!GetMailFileName(target.c_str(), name) || !harborage::CopyFileNoReplace(source, target + "/" + name))
            return 0;
    }
    g_LargestFileNumber.Added(target, name);
    return 1;
}

int CIMAPMail::DeleteMailFile(int seq)
{
    Guard guard(g_StoreLock);
    MAILINFO* info = GetMailInfo(seq);
    if (info == nullptr)
        return 0;
    std::string path = FolderFile(info->name);
    if (path.empty() || unlink(path.c_str()) != 0)
        return 0;
    g_LargestFileNumber.Used(m_FolderPath, ParseNumber(info->name + 4, 8));
    SaveDeleteMailInfo(info);
    // The entry itself goes (file names are unique in the list), without a search by name,
    // so an EXPUNGE from the last message down stays linear.
    auto it = m_MailList.erase(m_MailList.begin() + (seq - 1));
    for (; it != m_MailList.end(); ++it)
        --(*it)->seq;
    return 1;
}

int CIMAPMail::AddTempMailMesg(const char* folder, const char* tempPath, bool seen, bool answered, bool flagged,
                               bool deleted, bool draft, bool recent, const char*, const char*)
{
    Guard guard(g_StoreLock);
    if (folder == nullptr || tempPath == nullptr)
        return 0;
    std::string target = harborage::ResolveFolder(m_RootPath, folder);
    if (!harborage::IsPlainDirectory(target))
        return 0;
    // The new record belongs in the target folder's own index: bind to it if the caller has
    // not (a record in another folder's index would list a file that is not there).
    if (target != m_FolderPath)
        FolderMailInit(folder);

    char name[20];
    if (!GetMailFileName(target.c_str(), name))
        return 0;
    if (!harborage::MoveFileNoReplace(tempPath, target + "/" + name)) {
        // The name may have been taken behind the remembered listing: list and try once more.
        g_LargestFileNumber.Forget(target);
        if (!GetMailFileName(target.c_str(), name) || !harborage::MoveFileNoReplace(tempPath, target + "/" + name))
            return 0;
    }
    g_LargestFileNumber.Added(target, name);
    if (MAILINFO* info = InsertMailInfo(m_MailList, name, seen, answered, flagged, deleted, draft, recent))
        SaveInsertMailInfo(info);
    return 1;
}
