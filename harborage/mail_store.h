#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// One message of a folder's list.
struct MAILINFO {
    int seq;  // 1-based position in the list
    int uid;
    char name[20];  // message file name, "mesg%08ld.msg"
    bool seen;
    bool answered;
    bool flagged;
    bool deleted;
    bool draft;
    bool recent;
};

// A folder's message list. Entries are owned by the list; a pointer to one stays valid until
// the entry itself is removed.
using MailInfoList = std::vector<std::unique_ptr<MAILINFO>>;

// The messages of one folder: message files "mesg%08ld.msg" in the folder's directory and the
// index "mail.qlt" that gives each a UID and its flags.
//
// Index layout (ASCII, no line ends): a 6-digit counter (the last UID handed out), then
// 23-byte records: 6-digit UID, 16-character file name, one flag byte. A record of 23 '0'
// characters is a deleted slot.
//
// Every operation of every object holds the one process-wide store lock for its whole
// duration; nested calls on the same thread re-enter it.
//
// The class is defined in four sources, one per concern: mail_store.cpp (the lock, the bound
// folder, the list), mail_index.cpp (the index file and its records), mail_rescan.cpp (the
// rescan that matches records with files) and mail_files.cpp (the message files).
class CIMAPMail {
public:
    // What CopyMailFile, DeleteMailFile, AddTempMailMesg and GetFileDate return.
    enum StoreResult : int {
        StoreFailed = 0,
        StoreOk = 1,
    };
    // A short English text for a log line about `result`.
    static const char* StoreResultText(int result);

    static constexpr int kRootSize = 256;  // the store root keeps up to 255 characters
    static constexpr int kRecordSize = 23;
    static constexpr int kHeaderSize = 6;
    static constexpr long kMaxUid = 999999;  // what six digits can hold

    explicit CIMAPMail(const char* rootPath);
    ~CIMAPMail();
    CIMAPMail(const CIMAPMail&) = delete;
    CIMAPMail& operator=(const CIMAPMail&) = delete;

    // Makes `folder` current and rescans it: index records first, in file order, then the
    // message files the index does not know yet (as \Recent, with fresh UIDs); entries whose
    // file is gone are dropped, and the index is rewritten.
    void FolderMailInit(const char* folder);
    // Makes `folder` current without reading it: enough to deliver into it with
    // AddTempMailMesg, whose record goes straight to the index. The list stays empty; the
    // next rescan (a client's SELECT) sees the folder whole.
    void BindFolder(const char* folder);

    // Appends the live records of the index at `indexPath` to the list.
    bool LoadMailList(const char* indexPath);
    // Rewrites the current folder's index from the list, with `counter` in the header.
    bool SaveInitMailList(long counter);

    // New entry at the end of `list` with the next UID of the current folder. Writes no record
    // (see SaveInsertMailInfo). Null when no UID is left.
    MAILINFO* InsertMailInfo(MailInfoList& list, const char* name, bool seen, bool answered, bool flagged, bool deleted,
                             bool draft, bool recent);
    // Removes the first entry named `name` (case ignored); later entries move up.
    void RemoveMailInfo(MailInfoList& list, const char* name);

    bool SaveInsertMailInfo(const MAILINFO* info);  // appends the entry's record
    bool SaveUpdateMailInfo(const MAILINFO* info);  // rewrites it in place (appends if missing)
    bool SaveDeleteMailInfo(const MAILINFO* info);  // overwrites it with a deleted slot

    // Positions `index` at the record with this UID, scanning from the first record.
    bool FindMailInfo(FILE* index, long uid);

    long LoadFID(const char* indexPath);              // the counter; 0 when missing or short
    bool SaveFID(const char* indexPath, long value);  // writes the counter, creating the index
    long IncFID();                                    // next UID of the current folder; 0 when none is left

    // What IMAP clients cache UIDs against. UIDs restart only when the index is made anew, so
    // the value is the index's birth time (its inode number where the file system keeps no
    // birth time), a 32-bit number of at least 1 (1 when the folder has no index).
    unsigned long GetUidValidity();
    // The UID the next message will get: the counter + 1.
    long GetUidNext();

    MAILINFO* GetMailInfo(int seq);  // 1-based; null outside 1..count
    int Size();
    int GetMessageCount();
    int GetRecentCount();
    // Number of entries without \Seen; `firstUnseen` gets the first one's sequence number and
    // is left alone when there is none.
    int GetUnseenCount(int& firstUnseen);

    // Message files of the current folder. Reading an opened file happens outside the lock.
    FILE* OpenMailFile(const char* name);
    void CloseMailFile(FILE* file);
    unsigned long GetFileSize(const char* name);  // 0 when it cannot be opened
    // Creation time (UTC seconds since 1970): birth time, else the modification time.
    // StoreOk (1) when the file could be examined, StoreFailed (0) otherwise.
    int GetFileDate(const char* name, time_t& utcTime);
    // The header (up to and including the first CRLF CRLF, or the whole file) as a new
    // NUL-terminated block allocated with malloc; the caller releases it with free().
    // Null when the file cannot be opened.
    char* LoadMailHeader(const char* name);

    // Names of the "mesg????????.msg" files (not directories) of `directory`, in listing order.
    bool GetMailFileList(const char* directory, std::vector<std::string>& files);
    // The directory's next free message file name (17 bytes with the terminator).
    bool GetMailFileName(const char* directory, char* name);

    // Copies message `seq` into `folder` under a new file name; that folder's next rescan
    // lists it. StoreOk (1) on success, StoreFailed (0) otherwise.
    int CopyMailFile(int seq, const char* folder);
    // Deletes message `seq`'s file, then its record and entry. StoreOk (1) on success,
    // StoreFailed (0) otherwise.
    int DeleteMailFile(int seq);
    // Moves the finished message file `tempPath` into `folder` under a new file name and
    // lists it with the given flags. StoreOk (1) when the move succeeded, else StoreFailed (0).
    // `text1`, `text2` are unused.
    int AddTempMailMesg(const char* folder, const char* tempPath, bool seen, bool answered, bool flagged, bool deleted,
                        bool draft, bool recent, const char* text1, const char* text2);

    const char* GetFolderName() const { return m_FolderName.c_str(); }
    const char* GetRootPath() const { return m_RootPath; }

    // The process-wide store lock (recursive).
    static std::recursive_mutex& StoreLock();

    std::string FolderFile(const char* name) const;  // F/name; empty for a bad name or no folder

private:
    bool HasFolder() const { return !m_FolderPath.empty(); }
    std::string IndexPath() const { return m_FolderPath + "/mail.qlt"; }
    void Rescan();
    bool RewriteIndex(const std::string& data);

    MailInfoList m_MailList;
    std::string m_FolderName;
    char m_RootPath[kRootSize];
    std::string m_FolderPath;                      // resolved F; empty when the name is refused
    std::unordered_map<int, long> m_RecordOffset;  // UID -> offset of its record, as last seen
};
