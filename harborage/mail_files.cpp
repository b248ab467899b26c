// The message files of the store, "mesg%08ld.msg": naming, reading, delivering, copying and
// deleting them, and the memory of the numbers already used in each folder.
#include "harborage/mail_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harborage/file_handle.h"
#include "harborage/mail_index.h"
#include "harborage/mail_store.h"
#include "harborage/store_files.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr const char* kMessagePattern = "mesg????????.msg";
constexpr long kMaxFileNumber = 99999999;  // what eight digits can hold

// The number in a message file's name.
long FileNumber(const char* name) { return harborage::ParseNumber(name + 4, 8); }

// The largest number among the message files of `directory`, 0 for none.
long LargestFileNumber(const std::string& directory)
{
    long largest = 0;
    for (const platform::DirEntry& e : harborage::ListMessageFiles(directory, false))
        largest = std::max(largest, FileNumber(e.name.c_str()));
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
        long number = FileNumber(fileName);
        Used(directory, number);
        auto it = m_Known.find(directory);
        // Known before this file came: the new time covers only our own change.
        if (it != m_Known.end() && it->second.largest < number) {
            it->second = Entry{st.st_mtim, number};
            return;
        }
        if (m_Known.size() >= kMaxDirectories)
            m_Known.clear();
        // First file here: list once to learn the rest.
        m_Known[directory] = Entry{st.st_mtim, LargestFileNumber(directory)};
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
    std::unordered_map<std::string, long> m_Used;  // one number per folder, never cleared
};

LargestNumberCache g_LargestFileNumber;

}  // namespace

namespace harborage {

std::vector<platform::DirEntry> ListMessageFiles(const std::string& directory, bool sorted)
{
    std::vector<platform::DirEntry> files = platform::ListDirectory(directory, kMessagePattern, false, sorted);
    files.erase(std::remove_if(files.begin(), files.end(), [](const platform::DirEntry& e) { return e.isDirectory; }),
                files.end());
    return files;
}

}  // namespace harborage

using harborage::FileHandle;

// ---------------------------------------------------------------------------------------------
// Reading

FILE* CIMAPMail::OpenMailFile(const char* name)
{
    std::string path;
    {
        Guard guard(StoreLock());
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
    Guard guard(StoreLock());
    std::string path = FolderFile(name);
    if (path.empty())
        return 0;
    FileHandle file(path, O_RDONLY);
    long size = file.Size();
    return size < 0 ? 0 : static_cast<unsigned long>(size);
}

int CIMAPMail::GetFileDate(const char* name, time_t& utcTime)
{
    Guard guard(StoreLock());
    std::string path = FolderFile(name);
    time_t t = 0;
    if (path.empty() || !platform::GetCreationTime(path, &t))
        return StoreFailed;
    utcTime = t;
    return StoreOk;
}

char* CIMAPMail::LoadMailHeader(const char* name)
{
    Guard guard(StoreLock());
    std::string path = FolderFile(name);
    if (path.empty())
        return nullptr;
    FileHandle file(path, O_RDONLY);
    if (!file.IsOpen())
        return nullptr;

    // Search for the first CRLF CRLF in 100-byte reads; the match may span two reads. A read
    // that fails ends the search as the end of the file would.
    static const char kBlank[] = "\r\n\r\n";
    long length = 0, total = 0;
    int matched = 0;
    char piece[100];
    while (length == 0) {
        size_t n = 0;
        file.ReadAt(total, piece, sizeof piece, &n);
        if (n == 0)
            break;
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
    if (header != nullptr) {
        size_t got = 0;
        file.ReadAt(0, header, static_cast<size_t>(length), &got);
        header[got] = '\0';
    }
    return header;
}

// ---------------------------------------------------------------------------------------------
// Naming

bool CIMAPMail::GetMailFileList(const char* directory, std::vector<std::string>& files)
{
    Guard guard(StoreLock());
    std::error_code ec;
    if (directory == nullptr || !std::filesystem::is_directory(directory, ec))
        return false;
    for (platform::DirEntry& e : harborage::ListMessageFiles(directory, true))
        files.push_back(std::move(e.name));
    return true;
}

bool CIMAPMail::GetMailFileName(const char* directory, char* name)
{
    Guard guard(StoreLock());
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

// ---------------------------------------------------------------------------------------------
// Delivering, copying, deleting

int CIMAPMail::CopyMailFile(int seq, const char* folder)
{
    Guard guard(StoreLock());
    MAILINFO* info = GetMailInfo(seq);
    if (info == nullptr || folder == nullptr)
        return StoreFailed;
    std::string source = FolderFile(info->name);
    std::string target = harborage::ResolveFolder(m_RootPath, folder);
    if (source.empty() || !harborage::IsPlainDirectory(target))
        return StoreFailed;
    char name[20];
    if (!GetMailFileName(target.c_str(), name))
        return StoreFailed;
    if (!harborage::CopyFileNoReplace(source, target + "/" + name)) {
        g_LargestFileNumber.Forget(target);  // as in AddTempMailMesg
        if (!GetMailFileName(target.c_str(), name) || !harborage::CopyFileNoReplace(source, target + "/" + name))
            return StoreFailed;
    }
    g_LargestFileNumber.Added(target, name);
    return StoreOk;
}

int CIMAPMail::DeleteMailFile(int seq)
{
    Guard guard(StoreLock());
    MAILINFO* info = GetMailInfo(seq);
    if (info == nullptr)
        return StoreFailed;
    std::string path = FolderFile(info->name);
    if (path.empty() || unlink(path.c_str()) != 0)
        return StoreFailed;
    g_LargestFileNumber.Used(m_FolderPath, FileNumber(info->name));
    SaveDeleteMailInfo(info);
    // The entry itself goes (file names are unique in the list), without a search by name,
    // so an EXPUNGE from the last message down stays linear.
    auto it = m_MailList.erase(m_MailList.begin() + (seq - 1));
    for (; it != m_MailList.end(); ++it)
        --(*it)->seq;
    return StoreOk;
}

int CIMAPMail::AddTempMailMesg(const char* folder, const char* tempPath, bool seen, bool answered, bool flagged,
                               bool deleted, bool draft, bool recent, const char*, const char*)
{
    Guard guard(StoreLock());
    if (folder == nullptr || tempPath == nullptr)
        return StoreFailed;
    std::string target = harborage::ResolveFolder(m_RootPath, folder);
    if (!harborage::IsPlainDirectory(target))
        return StoreFailed;
    // The new record belongs in the target folder's own index: bind to it if the caller has
    // not (a record in another folder's index would list a file that is not there).
    if (target != m_FolderPath)
        FolderMailInit(folder);

    char name[20];
    if (!GetMailFileName(target.c_str(), name))
        return StoreFailed;
    if (!harborage::MoveFileNoReplace(tempPath, target + "/" + name)) {
        // The name may have been taken behind the remembered listing: list and try once more.
        g_LargestFileNumber.Forget(target);
        if (!GetMailFileName(target.c_str(), name) || !harborage::MoveFileNoReplace(tempPath, target + "/" + name))
            return StoreFailed;
    }
    g_LargestFileNumber.Added(target, name);
    const std::string stored = target + "/" + name;
    MAILINFO* info = InsertMailInfo(m_MailList, name, seen, answered, flagged, deleted, draft, recent);
    if (info == nullptr || !SaveInsertMailInfo(info)) {
        // No record (no UID left, or the disk is full): the file goes back where it came from,
        // so the store keeps no message its index does not list and the caller still has it.
        if (info != nullptr)
            RemoveMailInfo(m_MailList, name);
        if (harborage::MoveFileNoReplace(stored, tempPath))
            return StoreFailed;
        // It cannot go back: it stays, and the folder's next rescan lists it.
    }
    // On disk only once the caller syncs (harborage::SyncNoted), before it relies on the copy.
    harborage::NoteUnsynced(stored);
    harborage::NoteUnsynced(IndexPath());
    return StoreOk;
}
