#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The folder store: IMAP mailbox names (modified UTF-7, "/" between levels) mapped to
// directories below the store root, one status byte per folder in "folder.qlt", the listing
// for LIST and LSUB, and the conversion of names between CP949 text and modified UTF-7.
//
// Names are matched against the file system without regard to case. A name with a "." or
// ".." component, an empty inner component, a leading "/", a backslash or a NUL byte is
// refused: every operation treats it as a missing folder and touches nothing.
//
// The object holds only the root; all state lives in the file system, so no lock is taken.
class CIMAPFolder {
public:
    // What CreateFolder, DeleteFolder and RenameFolder return.
    enum FolderResult : int {
        FolderFailed = 0,
        FolderOk = 1,
    };
    // A short English text for a log line about `result`.
    static const char* FolderResultText(int result);

    static constexpr int kRootSize = 255;  // the store root keeps up to 254 characters

    explicit CIMAPFolder(const char* rootPath);

    // out = the folder's directory (store root + name, resolved without regard to case).
    // False, with out empty, for a refused name.
    bool MakeAbsolutePath(const char* name, char* out, std::size_t outSize = 260);

    // Creates the folder directory (its parent must exist, the directory must not) and its
    // status byte subscribed + 2 x second. FolderOk (1) on success, else FolderFailed (0).
    int CreateFolder(const char* name, int subscribed, int second);
    int CreateFolder(const char* name);  // subscribed and second set
    bool MakeInfoFile(const char* name, int subscribed, int second);
    bool UpdateFolderStatus(const char* name, int subscribed);
    int GetFolderStatus(const char* name);  // 1 when subscribed, else 0
    int ExistFolder(const char* name);      // 1 when the name is a folder directory

    // Deletes the folder with everything in it; "INBOX" (any case) is never deleted.
    // FolderOk (1) when the folder is gone, else FolderFailed (0).
    int DeleteFolder(const char* name);
    void DeleteFolderRecursive(const char* directory);
    // Moves a folder (messages, index, subfolders) to a new name that must not exist yet.
    // FolderOk (1) on success, else FolderFailed (0).
    int RenameFolder(const char* oldName, const char* newName);

    // LIST / LSUB: folders matching reference + pattern ("*" and "?" wildcards in the last
    // level, case ignored), each followed by its whole subtree, parents before children.
    // status -1 takes every folder, 1 only subscribed ones. Always true.
    bool FindFolderList(const char* reference, const char* pattern, int status, std::vector<std::string>& out);
    // One level: `prefix` is the reported name of the listed directory ("" for the root),
    // `searchPattern` that directory followed by "/" and a wildcard.
    void FindFolderListRecursive(const char* prefix, const char* searchPattern, int status,
                                 std::vector<std::string>& out);

    unsigned long GetFolderID(const char* name);  // the directory's inode number, 0xFFFFFFFF when unknown

    // Tidies a mailbox argument in place: quotes around it, a leading "~/", and the Korean
    // client's inbox name folded onto "inbox". `text` must point into a writable buffer.
    static void GetCorrectFolder(char*& text);

    // CP949 text <-> modified UTF-7. The output is cut to outSize - 1 bytes and terminated.
    static void EncodingFolder(const char* local, char* out, std::size_t outSize = 100);
    static void DecodingFolder(const char* encoded, char* out, std::size_t outSize = 100);
    static std::string EncodeFolderName(std::string_view local);
    static std::string DecodeFolderName(std::string_view encoded);

    // Base64 with the alphabet A-Z a-z 0-9 + , and no padding. EncodeMBase64 takes the index
    // of the last byte (length - 1) and returns the characters written; DecodeMBase64 skips
    // characters outside the alphabet and returns the bytes written.
    static int EncodeMBase64(const unsigned char* data, int lastIndex, char* out);
    static int DecodeMBase64(const char* text, int length, unsigned char* out);
    static unsigned char ValueToAscii(unsigned char value);  // 0xFF outside 0..63
    static unsigned char AsciiToValue(char c);               // 0xFF outside the alphabet
    // The value of the next alphabet character at or after pos (pos moves past it); 0xFF at the end.
    static unsigned char GetCorrectChar(const char* text, int& pos, int length);

    // Free bytes on the file system holding `path`; -1 when the path cannot be examined.
    static long CheckFreeSpace(const char* path);
    // 1 on the old consumer family of the original platform; never on this one.
    static int GetWindowVersion();

    const char* GetRootPath() const { return m_RootPath; }

private:
    std::string Resolve(const char* name) const;  // empty for a refused or empty name

    char m_RootPath[kRootSize];
};
