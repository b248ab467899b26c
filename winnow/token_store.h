#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace winnow {

// A token as the store keys it: 64 bits of FNV-1a over its text.
uint64_t TokenHash(std::string_view token);

enum class Label { Ham = 0, Spam = 1 };

struct TokenCounts {
    long spam = 0;  // spam messages trained that held the token
    long ham = 0;
};

// What one training did.
enum class TrainOutcome {
    Trained,  // counted for the first time
    Already,  // trained with this label before: nothing changed
    Moved,    // trained with the other label before: taken out there and counted here
    Failed,   // the store could not be written; nothing changed
};

struct StoreFigures {
    long spamMessages = 0;
    long hamMessages = 0;
    long tokens = 0;
    long remembered = 0;  // messages whose digest is kept, so retraining them counts nothing
    long pending = 0;     // passed messages waiting to be trained as ham
    uintmax_t fileBytes = 0;
};

// The token counts on disk: one SQLite database in write-ahead-log mode. Every change a
// message makes (its tokens, the message totals, its digest) is one transaction, so a process
// killed at any point leaves the store as it was before or after that message, never between.
// A batch puts many messages into one transaction, for bulk training.
//
// Each message trained is remembered by a digest with its label (and, for the newest
// kTokenListMessages, its token list, so untraining it takes out exactly what it put in even
// when the copy at hand has changed since). The size stays bounded: tokens seen in one message
// only and unseen for kPruneDays go at the next Prune, and the oldest digests beyond
// kMessages are forgotten.
//
// Passed mail waits in a pending table (at most kPending messages) to be trained as ham once
// it has stayed out of the spam box long enough.
//
// Counts once read stay in memory (up to kCachedTokens of them), kept up to date by this
// object's own writes; a commit by another process (orvanta-learn beside the running program)
// empties them.
//
// Not for two threads at once: the caller serialises.
class CTokenStore {
public:
    static constexpr long kPruneDays = 60;
    static constexpr long kTokenListMessages = 1000;
    static constexpr long kMessages = 200000;
    static constexpr long kPending = 2000;
    static constexpr size_t kCachedTokens = 1 << 18;

    CTokenStore() = default;
    ~CTokenStore();
    CTokenStore(const CTokenStore&) = delete;
    CTokenStore& operator=(const CTokenStore&) = delete;

    // Opens or creates the store. False, with Error() saying why, when it cannot.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // The day the store writes as "seen" (days since 1970); the clock's unless set.
    void SetToday(long day) { today_ = day; }
    long Today() const;

    long SpamMessages() const { return spam_; }
    long HamMessages() const { return ham_; }
    // Counts of each hash, in order; a hash never seen counts zero.
    void Lookup(const std::vector<uint64_t>& hashes, std::vector<TokenCounts>* counts);

    // Counts a message's distinct token hashes under `label`, once per digest.
    TrainOutcome Learn(uint64_t digest, const std::vector<uint64_t>& hashes, Label label);
    // Takes a trained message out again; false when it was not trained (or the write failed).
    bool Unlearn(uint64_t digest, const std::vector<uint64_t>& hashes);
    // The label a message was trained with, if it was.
    std::optional<Label> TrainedAs(uint64_t digest);

    // Keeps a passed message for later ham training (the oldest go when kPending are kept).
    bool Remember(uint64_t digest, const std::vector<uint64_t>& hashes);
    // Drops a pending message; false when it was not pending.
    bool Forget(uint64_t digest);
    // Trains as ham every pending message kept before `beforeDay`; the number trained.
    int Mature(long beforeDay);

    // Drops what the bounds say may go.
    bool Prune();

    // Many messages in one transaction; the changes become durable at EndBatch.
    bool BeginBatch();
    bool EndBatch();

    StoreFigures Figures();
    // True when the message totals agree with the digests remembered and no count is
    // negative: what a store left by a killed process must still show.
    bool Consistent();

private:
    bool Exec(const char* sql);
    sqlite3_stmt* Prepare(const char* sql);
    bool Begin();
    bool Commit();
    void Rollback();
    bool AddCounts(const std::vector<uint64_t>& hashes, long spam, long ham);
    bool SetTotal(const char* key, long value);
    std::vector<uint64_t> StoredTokens(const char* table, uint64_t digest, bool* found);
    bool LearnLocked(uint64_t digest, const std::vector<uint64_t>& hashes, Label label, TrainOutcome* outcome);
    bool UnlearnLocked(uint64_t digest, const std::vector<uint64_t>& hashes, bool* was);
    long Count(const char* sql);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string error_;
    long spam_ = 0;
    long ham_ = 0;
    long today_ = -1;
    bool inBatch_ = false;
    std::vector<sqlite3_stmt*> statements_;
    sqlite3_stmt* lookup_ = nullptr;
    sqlite3_stmt* add_ = nullptr;
    sqlite3_stmt* subtract_ = nullptr;
    sqlite3_stmt* dropEmpty_ = nullptr;
    sqlite3_stmt* dataVersion_ = nullptr;
    std::unordered_map<uint64_t, TokenCounts> cache_;
    long long cacheVersion_ = -1;
};

}  // namespace winnow
