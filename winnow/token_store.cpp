#include "winnow/token_store.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sqlite3.h>

namespace winnow {
namespace {

int64_t AsKey(uint64_t hash)
{
    int64_t key;
    std::memcpy(&key, &hash, sizeof key);
    return key;
}

std::string Blob(const std::vector<uint64_t>& hashes)
{
    std::string blob(hashes.size() * sizeof(uint64_t), '\0');
    if (!hashes.empty())
        std::memcpy(blob.data(), hashes.data(), blob.size());
    return blob;
}

const char* const kSchema = "CREATE TABLE IF NOT EXISTS totals(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
                            "INSERT OR IGNORE INTO totals VALUES('spam', 0), ('ham', 0);"
                            "CREATE TABLE IF NOT EXISTS tokens(hash INTEGER PRIMARY KEY, spam INTEGER NOT NULL,"
                            " ham INTEGER NOT NULL, day INTEGER NOT NULL);"
                            "CREATE TABLE IF NOT EXISTS messages(digest INTEGER PRIMARY KEY, label INTEGER NOT NULL,"
                            " day INTEGER NOT NULL);"
                            "CREATE TABLE IF NOT EXISTS lists(seq INTEGER PRIMARY KEY, digest INTEGER NOT NULL UNIQUE,"
                            " tokens BLOB NOT NULL);"
                            "CREATE INDEX IF NOT EXISTS messages_day ON messages(day);"
                            "CREATE TABLE IF NOT EXISTS pending(digest INTEGER PRIMARY KEY, day INTEGER NOT NULL,"
                            " tokens BLOB NOT NULL);";

}  // namespace

uint64_t TokenHash(std::string_view token)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : token) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

CTokenStore::~CTokenStore() { Close(); }

void CTokenStore::Close()
{
    for (sqlite3_stmt* s : statements_)
        sqlite3_finalize(s);
    statements_.clear();
    lookup_ = add_ = subtract_ = dropEmpty_ = dataVersion_ = nullptr;
    cache_.clear();
    cacheVersion_ = -1;
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
    inBatch_ = false;
}

bool CTokenStore::Open(const std::string& path)
{
    Close();
    path_ = path;
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        error_ = db_ ? sqlite3_errmsg(db_) : "out of memory";
        Close();
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    // The log makes every committed message survive a killed process; NORMAL leaves the
    // forcing to disk to the checkpoints, which only a power cut can make lose a message or two.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL") || !Exec("PRAGMA cache_size=-32768") ||
        !Exec("PRAGMA temp_store=MEMORY") || !Exec("PRAGMA mmap_size=268435456") || !Exec(kSchema)) {
        Close();
        return false;
    }
    lookup_ = Prepare("SELECT spam, ham FROM tokens WHERE hash = ?1");
    add_ = Prepare("INSERT INTO tokens(hash, spam, ham, day) VALUES(?1, ?2, ?3, ?4) ON CONFLICT(hash) DO UPDATE SET"
                   " spam = spam + ?2, ham = ham + ?3, day = ?4");
    subtract_ = Prepare("UPDATE tokens SET spam = max(spam - ?2, 0), ham = max(ham - ?3, 0) WHERE hash = ?1");
    dropEmpty_ = Prepare("DELETE FROM tokens WHERE hash = ?1 AND spam = 0 AND ham = 0");
    dataVersion_ = Prepare("PRAGMA data_version");
    if (!lookup_ || !add_ || !subtract_ || !dropEmpty_ || !dataVersion_) {
        Close();
        return false;
    }
    spam_ = Count("SELECT value FROM totals WHERE name = 'spam'");
    ham_ = Count("SELECT value FROM totals WHERE name = 'ham'");
    return spam_ >= 0 && ham_ >= 0;
}

long CTokenStore::Today() const
{
    if (today_ >= 0)
        return today_;
    using namespace std::chrono;
    return static_cast<long>(duration_cast<hours>(system_clock::now().time_since_epoch()).count() / 24);
}

bool CTokenStore::Exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error_ = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

sqlite3_stmt* CTokenStore::Prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
        error_ = sqlite3_errmsg(db_);
        return nullptr;
    }
    statements_.push_back(statement);
    return statement;
}

long CTokenStore::Count(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    long value = -1;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        value = static_cast<long>(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    return value;
}

// Inside a batch each message is a savepoint of its own, so a message that fails to write
// leaves the rest of the batch as it was.
bool CTokenStore::Begin() { return Exec(inBatch_ ? "SAVEPOINT message" : "BEGIN IMMEDIATE"); }

bool CTokenStore::Commit() { return Exec(inBatch_ ? "RELEASE message" : "COMMIT"); }

void CTokenStore::Rollback()
{
    if (inBatch_) {
        Exec("ROLLBACK TO message");
        Exec("RELEASE message");
    } else {
        Exec("ROLLBACK");
    }
    // The totals and counts in memory may be ahead of what was rolled back: read them again.
    cache_.clear();
    spam_ = Count("SELECT value FROM totals WHERE name = 'spam'");
    ham_ = Count("SELECT value FROM totals WHERE name = 'ham'");
}

bool CTokenStore::BeginBatch()
{
    if (!db_ || inBatch_)
        return false;
    if (!Exec("BEGIN IMMEDIATE"))
        return false;
    inBatch_ = true;
    return true;
}

bool CTokenStore::EndBatch()
{
    if (!inBatch_)
        return false;
    inBatch_ = false;
    if (Exec("COMMIT"))
        return true;
    Exec("ROLLBACK");
    cache_.clear();
    spam_ = Count("SELECT value FROM totals WHERE name = 'spam'");
    ham_ = Count("SELECT value FROM totals WHERE name = 'ham'");
    return false;
}

void CTokenStore::Lookup(const std::vector<uint64_t>& hashes, std::vector<TokenCounts>* counts)
{
    counts->assign(hashes.size(), TokenCounts{});
    if (!db_)
        return;
    // Another connection's commit changes the version: what is in memory may be old.
    long long version = -1;
    if (sqlite3_step(dataVersion_) == SQLITE_ROW)
        version = sqlite3_column_int64(dataVersion_, 0);
    sqlite3_reset(dataVersion_);
    if (version != cacheVersion_ || cache_.size() > kCachedTokens) {
        cache_.clear();
        cacheVersion_ = version;
    }
    std::vector<size_t> missing;
    for (size_t i = 0; i < hashes.size(); ++i) {
        auto known = cache_.find(hashes[i]);
        if (known != cache_.end())
            (*counts)[i] = known->second;
        else
            missing.push_back(i);
    }
    if (missing.empty())
        return;
    // One read transaction for the whole message, not one per token; the keys in their order,
    // so each search starts near where the last one ended in the tree's pages.
    const bool own = !inBatch_ && Exec("BEGIN");
    std::sort(missing.begin(), missing.end(), [&](size_t a, size_t b) { return AsKey(hashes[a]) < AsKey(hashes[b]); });
    for (size_t i : missing) {
        sqlite3_bind_int64(lookup_, 1, AsKey(hashes[i]));
        if (sqlite3_step(lookup_) == SQLITE_ROW) {
            (*counts)[i].spam = static_cast<long>(sqlite3_column_int64(lookup_, 0));
            (*counts)[i].ham = static_cast<long>(sqlite3_column_int64(lookup_, 1));
        }
        sqlite3_reset(lookup_);
        cache_[hashes[i]] = (*counts)[i];
    }
    if (own)
        Exec("COMMIT");
}

bool CTokenStore::AddCounts(const std::vector<uint64_t>& hashes, long spam, long ham)
{
    const long day = Today();
    for (uint64_t hash : hashes) {
        sqlite3_stmt* s = spam >= 0 && ham >= 0 ? add_ : subtract_;
        sqlite3_bind_int64(s, 1, AsKey(hash));
        sqlite3_bind_int64(s, 2, spam >= 0 ? spam : -spam);
        sqlite3_bind_int64(s, 3, ham >= 0 ? ham : -ham);
        if (s == add_)
            sqlite3_bind_int64(s, 4, day);
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_);
            return false;
        }
        auto known = cache_.find(hash);
        if (known != cache_.end()) {
            known->second.spam = std::max(0L, known->second.spam + spam);
            known->second.ham = std::max(0L, known->second.ham + ham);
        }
        if (s == subtract_) {
            sqlite3_bind_int64(dropEmpty_, 1, AsKey(hash));
            rc = sqlite3_step(dropEmpty_);
            sqlite3_reset(dropEmpty_);
            if (rc != SQLITE_DONE)
                return false;
        }
    }
    return true;
}

bool CTokenStore::SetTotal(const char* key, long value)
{
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_, "UPDATE totals SET value = ?1 WHERE name = ?2", -1, &s, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_int64(s, 1, value);
        sqlite3_bind_text(s, 2, key, -1, SQLITE_STATIC);
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    return ok;
}

std::vector<uint64_t> CTokenStore::StoredTokens(const char* table, uint64_t digest, bool* found)
{
    std::vector<uint64_t> hashes;
    *found = false;
    std::string sql = std::string("SELECT tokens FROM ") + table + " WHERE digest = ?1";
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(s, 1, AsKey(digest));
        if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) == SQLITE_BLOB) {
            *found = true;
            const size_t bytes = static_cast<size_t>(sqlite3_column_bytes(s, 0));
            hashes.resize(bytes / sizeof(uint64_t));
            if (!hashes.empty())
                std::memcpy(hashes.data(), sqlite3_column_blob(s, 0), hashes.size() * sizeof(uint64_t));
        }
    }
    sqlite3_finalize(s);
    return hashes;
}

std::optional<Label> CTokenStore::TrainedAs(uint64_t digest)
{
    if (!db_)
        return std::nullopt;
    sqlite3_stmt* s = nullptr;
    std::optional<Label> label;
    if (sqlite3_prepare_v2(db_, "SELECT label FROM messages WHERE digest = ?1", -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(s, 1, AsKey(digest));
        if (sqlite3_step(s) == SQLITE_ROW)
            label = sqlite3_column_int(s, 0) == 1 ? Label::Spam : Label::Ham;
    }
    sqlite3_finalize(s);
    return label;
}

bool CTokenStore::UnlearnLocked(uint64_t digest, const std::vector<uint64_t>& hashes, bool* was)
{
    *was = false;
    std::optional<Label> label = TrainedAs(digest);
    if (!label)
        return true;
    *was = true;
    bool kept = false;
    std::vector<uint64_t> stored = StoredTokens("lists", digest, &kept);
    const std::vector<uint64_t>& taken = kept ? stored : hashes;
    const bool spam = *label == Label::Spam;
    if (!AddCounts(taken, spam ? -1 : 0, spam ? 0 : -1))
        return false;
    sqlite3_stmt* s = nullptr;
    bool ok = true;
    for (const char* sql : {"DELETE FROM messages WHERE digest = ?1", "DELETE FROM lists WHERE digest = ?1"}) {
        ok = ok && sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK;
        if (ok) {
            sqlite3_bind_int64(s, 1, AsKey(digest));
            ok = sqlite3_step(s) == SQLITE_DONE;
        }
        sqlite3_finalize(s);
        s = nullptr;
    }
    const long spamTotal = spam ? spam_ - 1 : spam_;
    const long hamTotal = spam ? ham_ : ham_ - 1;
    if (!ok || !SetTotal(spam ? "spam" : "ham", spam ? spamTotal : hamTotal))
        return false;
    spam_ = spamTotal;
    ham_ = hamTotal;
    return true;
}

bool CTokenStore::LearnLocked(uint64_t digest, const std::vector<uint64_t>& hashes, Label label, TrainOutcome* outcome)
{
    std::optional<Label> before = TrainedAs(digest);
    if (before == label) {
        *outcome = TrainOutcome::Already;
        return true;
    }
    bool was = false;
    if (before && !UnlearnLocked(digest, hashes, &was))
        return false;
    const bool spam = label == Label::Spam;
    if (!AddCounts(hashes, spam ? 1 : 0, spam ? 0 : 1))
        return false;
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_, "INSERT INTO messages(digest, label, day) VALUES(?1, ?2, ?3)", -1, &s, nullptr) ==
              SQLITE_OK;
    if (ok) {
        sqlite3_bind_int64(s, 1, AsKey(digest));
        sqlite3_bind_int(s, 2, spam ? 1 : 0);
        sqlite3_bind_int64(s, 3, Today());
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    // The newest lists only: each one pushes the oldest beyond the bound out.
    ok = ok && sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO lists(digest, tokens) VALUES(?1, ?2)", -1, &s,
                                  nullptr) == SQLITE_OK;
    if (ok) {
        const std::string blob = Blob(hashes);
        sqlite3_bind_int64(s, 1, AsKey(digest));
        sqlite3_bind_blob(s, 2, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    if (ok) {
        const std::string trim =
            "DELETE FROM lists WHERE seq <= " + std::to_string(sqlite3_last_insert_rowid(db_) - kTokenListMessages);
        ok = Exec(trim.c_str());
    }
    // A message trained is no longer waiting to be trained as ham.
    if (ok && sqlite3_prepare_v2(db_, "DELETE FROM pending WHERE digest = ?1", -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(s, 1, AsKey(digest));
        ok = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_finalize(s);
    }
    const long spamTotal = spam ? spam_ + 1 : spam_;
    const long hamTotal = spam ? ham_ : ham_ + 1;
    if (!ok || !SetTotal(spam ? "spam" : "ham", spam ? spamTotal : hamTotal))
        return false;
    spam_ = spamTotal;
    ham_ = hamTotal;
    *outcome = before ? TrainOutcome::Moved : TrainOutcome::Trained;
    return true;
}

TrainOutcome CTokenStore::Learn(uint64_t digest, const std::vector<uint64_t>& hashes, Label label)
{
    if (!db_ || !Begin())
        return TrainOutcome::Failed;
    TrainOutcome outcome = TrainOutcome::Failed;
    if (!LearnLocked(digest, hashes, label, &outcome) || !Commit()) {
        Rollback();
        return TrainOutcome::Failed;
    }
    return outcome;
}

bool CTokenStore::Unlearn(uint64_t digest, const std::vector<uint64_t>& hashes)
{
    if (!db_ || !Begin())
        return false;
    bool was = false;
    if (!UnlearnLocked(digest, hashes, &was) || !Commit()) {
        Rollback();
        return false;
    }
    return was;
}

bool CTokenStore::Remember(uint64_t digest, const std::vector<uint64_t>& hashes)
{
    if (!db_ || !Begin())
        return false;
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO pending(digest, day, tokens) VALUES(?1, ?2, ?3)", -1, &s,
                                 nullptr) == SQLITE_OK;
    if (ok) {
        const std::string blob = Blob(hashes);
        sqlite3_bind_int64(s, 1, AsKey(digest));
        sqlite3_bind_int64(s, 2, Today());
        sqlite3_bind_blob(s, 3, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    const std::string trim = "DELETE FROM pending WHERE digest IN (SELECT digest FROM pending ORDER BY day DESC, rowid"
                             " DESC LIMIT -1 OFFSET " +
                             std::to_string(kPending) + ")";
    if (!ok || !Exec(trim.c_str()) || !Commit()) {
        Rollback();
        return false;
    }
    return true;
}

bool CTokenStore::Forget(uint64_t digest)
{
    if (!db_)
        return false;
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_, "DELETE FROM pending WHERE digest = ?1", -1, &s, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_int64(s, 1, AsKey(digest));
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    return ok && sqlite3_changes(db_) > 0;
}

int CTokenStore::Mature(long beforeDay)
{
    if (!db_)
        return 0;
    std::vector<uint64_t> ripe;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT digest FROM pending WHERE day < ?1", -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(s, 1, beforeDay);
        while (sqlite3_step(s) == SQLITE_ROW) {
            int64_t key = sqlite3_column_int64(s, 0);
            uint64_t digest;
            std::memcpy(&digest, &key, sizeof digest);
            ripe.push_back(digest);
        }
    }
    sqlite3_finalize(s);
    int trained = 0;
    for (uint64_t digest : ripe) {
        bool found = false;
        std::vector<uint64_t> hashes = StoredTokens("pending", digest, &found);
        if (!found)
            continue;
        // A message trained otherwise meanwhile keeps that label; Learn drops it from pending.
        if (TrainedAs(digest)) {
            Forget(digest);
            continue;
        }
        if (Learn(digest, hashes, Label::Ham) == TrainOutcome::Trained)
            ++trained;
    }
    return trained;
}

bool CTokenStore::Prune()
{
    if (!db_ || !Begin())
        return false;
    const std::string tokens =
        "DELETE FROM tokens WHERE spam + ham <= 1 AND day < " + std::to_string(Today() - kPruneDays);
    // Forgetting a digest leaves its counts in place: only retraining that old message would
    // count it again.
    const std::string digests = "DELETE FROM messages WHERE digest IN (SELECT digest FROM messages ORDER BY day DESC"
                                " LIMIT -1 OFFSET " +
                                std::to_string(kMessages) + ")";
    cache_.clear();
    if (!Exec(tokens.c_str()) || !Exec(digests.c_str()) || !Commit()) {
        Rollback();
        return false;
    }
    return true;
}

StoreFigures CTokenStore::Figures()
{
    StoreFigures f;
    if (!db_)
        return f;
    f.spamMessages = spam_;
    f.hamMessages = ham_;
    f.tokens = Count("SELECT count(*) FROM tokens");
    f.remembered = Count("SELECT count(*) FROM messages");
    f.pending = Count("SELECT count(*) FROM pending");
    std::error_code ec;
    for (const char* suffix : {"", "-wal"}) {
        uintmax_t size = std::filesystem::file_size(path_ + suffix, ec);
        if (!ec)
            f.fileBytes += size;
    }
    return f;
}

bool CTokenStore::Consistent()
{
    if (!db_)
        return false;
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
              sqlite3_step(s) == SQLITE_ROW &&
              std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok") == 0;
    sqlite3_finalize(s);
    const long spamRows = Count("SELECT count(*) FROM messages WHERE label = 1");
    const long hamRows = Count("SELECT count(*) FROM messages WHERE label = 0");
    const long negative = Count("SELECT count(*) FROM tokens WHERE spam < 0 OR ham < 0 OR spam > "
                                "(SELECT value FROM totals WHERE name = 'spam') OR ham > "
                                "(SELECT value FROM totals WHERE name = 'ham')");
    const long spamTotal = Count("SELECT value FROM totals WHERE name = 'spam'");
    const long hamTotal = Count("SELECT value FROM totals WHERE name = 'ham'");
    // Digests beyond the bound are forgotten while their counts stay: the totals may then be
    // higher than the rows, never lower.
    return ok && negative == 0 && spamTotal >= spamRows && hamTotal >= hamRows &&
           (spamRows + hamRows < kMessages ? spamTotal == spamRows && hamTotal == hamRows : true);
}

}  // namespace winnow
