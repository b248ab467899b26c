#pragma once

#include <string>
#include <unordered_set>
#include <vector>

class CPop3Account;

namespace orvanta::pipeline {

// The UIDs of the messages the examination took out of one mailbox whose deletion on the server
// is not confirmed yet. A DELE takes effect only when the session ends with QUIT; until the
// server has said "+OK" to that QUIT the message may still be there although its UID is in the
// history, and without this record the next log-in would offer it to the mail client as
// examined. At every log-in the UIDs still on the server are hidden and deleted again.
//
// The file lies beside the account's history: <history file without ".his">.dele, one UID a
// line, each ended by LF (a UID holds no LF or space); a last line without its LF is not read.
// It is replaced whole and durably, and removed when the record is empty.
class TakenOutRecord {
public:
    explicit TakenOutRecord(std::string path = std::string());
    // The record of the account's mailbox; an empty path when the account has no history file.
    static std::string PathFor(const CPop3Account& account);

    // Reads the file; a missing or unreadable one gives an empty record (false).
    bool Load();
    // Writes the record (or removes the file when it is empty); false when that failed.
    bool Save() const;

    bool Contains(const std::string& uid) const;
    // Adds a UID (an empty one is not kept); true when it was not there yet.
    bool Add(const std::string& uid);
    void Remove(const std::string& uid);
    // Keeps only the UIDs in `present` (the mailbox as listed now); true when some went.
    bool KeepOnly(const std::vector<std::string>& present);
    bool Empty() const { return uids_.empty(); }
    const std::vector<std::string>& Uids() const { return uids_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> uids_;           // in the order they were taken out
    std::unordered_set<std::string> lookup_;  // the same, for the check of every listed message
};

}  // namespace orvanta::pipeline
