#pragma once

#include <string>
#include <unordered_map>
#include <vector>

// One account on a real POP3 server and its UID history: the UIDs of the messages already
// examined, kept in memory during a session and in one file per account between sessions.
//
// The history file is <directory>/<name>.<user>.his, a plain run of 100-byte records (the
// UID, then zero bytes). Characters a file name cannot safely hold are written as %XX in the
// name and user parts, so ordinary host and user names give the file name unchanged and
// no name can reach outside the directory.
class CPop3Account {
public:
    static constexpr int kUidSize = 100;  // history record, at most 99 characters

    CPop3Account(const char* directory, const char* name, const char* server, const char* user, const char* password,
                 int port);

    // Replaces the history with the file's records; false (history untouched) when the file
    // cannot be opened.
    bool LoadHistoryFile();
    // Writes the whole history; false when the file cannot be written.
    bool SaveHistoryFile();

    // True when an entry equals the UID without regard to ASCII case; false for null.
    bool IsExistUID(const char* uid) const;
    // Appends the UID (cut to 99 characters); null is ignored, duplicates are not checked.
    void AddHistory(const char* uid);
    // Removes the first entry equal to the UID (exact case).
    void RemoveHistory(const char* uid);
    // Appends every entry, in order.
    void GetUidList(std::vector<std::string>& uids) const;
    // Keeps only the entries that equal (exact case) some UID in `current`, in their order.
    void RemoveUidList(std::vector<std::string>& current);

    // Deletes <directory>/<name>.his; `name` is the account name and user already joined by
    // ".". False when there was no such file or it could not be deleted.
    static bool RemoveHistoryFile(const char* directory, const char* name);

    // The file name part for a host or user name: unchanged except for the bytes that are
    // unsafe in a file name ('/', '\\', '%', control bytes), which become %XX.
    static std::string EncodeFileNamePart(const char* text);

    // <directory>/<name>.<user>.his with the parts encoded; empty when the directory did not
    // fit its field (the file is then neither read nor written, rather than the wrong one).
    std::string GetHistoryFilePath() const;

    const char* GetName() const { return m_szName; }
    const char* GetDirectory() const { return m_szDirectory; }
    const char* GetServer() const { return m_szServer; }
    const char* GetUser() const { return m_szUser; }
    const char* GetPassword() const { return m_szPassword; }
    int GetPort() const { return m_nPort; }
    int GetHistoryCount() const { return static_cast<int>(m_History.size()); }

private:
    char m_szName[100];
    char m_szDirectory[252];
    char m_szServer[100];
    char m_szUser[100];  // 99 characters: full e-mail addresses fit
    char m_szPassword[100];
    int m_nPort;
    bool m_bDirectoryCut;
    std::vector<std::string> m_History;
    // The history's UIDs folded to lower case, each with how often it occurs: the examination
    // asks for every message on the server, and a scan of the list made each log-in cost the
    // square of the mailbox.
    std::unordered_map<std::string, int> m_Folded;

    void Count(const std::string& uid, int delta);
    void RebuildFolded();
};
