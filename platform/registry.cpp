#include "platform/registry.h"

#include "platform/user_dirs.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

// Layout of the database:
//   reg_keys(id, parent, name, fold)          one row per key; the root (HKEY_CURRENT_USER)
//                                              has no row and is id 0
//   reg_values(id, key, name, fold, type, data) one row per value; id gives creation order
// `fold` is the name with ASCII letters upper-cased: uniqueness, look-ups and the subkey
// order all go through it, while `name` keeps the spelling of the first writer.
// Both id columns are AUTOINCREMENT so that a deleted key's id is never handed to a new
// key: an old handle to a deleted key must not silently reach a stranger.
namespace platform {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyRetries = 5;
constexpr std::size_t kMaxKeyNameLength = 255;

const char* const kSchema = "CREATE TABLE IF NOT EXISTS reg_keys("
                            "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
                            "  parent INTEGER NOT NULL,"
                            "  name BLOB NOT NULL,"
                            "  fold BLOB NOT NULL,"
                            "  UNIQUE(parent, fold));"
                            "CREATE TABLE IF NOT EXISTS reg_values("
                            "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
                            "  key INTEGER NOT NULL,"
                            "  name BLOB NOT NULL,"
                            "  fold BLOB NOT NULL,"
                            "  type INTEGER NOT NULL,"
                            "  data,"
                            "  UNIQUE(key, fold));";

// Thrown inside a transaction when SQLite fails; turned into a result code at the edge.
struct SqlError {
    int code;
};

// Upper-cases ASCII letters only. A byte of 0x81 or above starts a CP949 pair whose second
// byte may fall in the ASCII letter range, so that second byte is left alone: two
// different Korean names never fold to the same text.
std::string Fold(std::string_view name)
{
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 0x81) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// Splits "A\B\\C\" into its components; empty ones (doubled or trailing separators) are
// skipped.
std::vector<std::string> SplitPath(const char* path)
{
    std::vector<std::string> parts;
    if (path == nullptr)
        return parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (!part.empty())
            parts.emplace_back(part);
        if (cut == std::string_view::npos)
            break;
        rest.remove_prefix(cut + 1);
    }
    return parts;
}

// One SQLite connection to one database file, shared by every handle of the process that
// uses that file and serialised by a mutex (one connection cannot run two transactions at
// once). A forked child gets a connection of its own: SQLite connections must not cross
// fork().
class Database {
public:
    explicit Database(std::string path) : path_(std::move(path)) {}
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::string& path() const { return path_; }

    // A prepared statement from the connection's cache, reset when the wrapper goes away.
    class Stmt {
    public:
        Stmt(Database& db, const char* sql) : stmt_(db.Prepare(sql)) {}
        ~Stmt()
        {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
        Stmt(const Stmt&) = delete;
        Stmt& operator=(const Stmt&) = delete;

        Stmt& Bind(int index, std::int64_t value)
        {
            Check(sqlite3_bind_int64(stmt_, index, value));
            return *this;
        }
        Stmt& Bind(int index, std::string_view bytes)
        {
            // A zero-length blob must still be a blob, not NULL: the columns are NOT NULL.
            static const char kEmpty = 0;
            Check(sqlite3_bind_blob64(stmt_, index, bytes.empty() ? &kEmpty : bytes.data(), bytes.size(),
                                      SQLITE_TRANSIENT));
            return *this;
        }
        // True while there is a row.
        bool Step()
        {
            const int rc = sqlite3_step(stmt_);
            if (rc == SQLITE_ROW)
                return true;
            if (rc == SQLITE_DONE)
                return false;
            throw SqlError{rc};
        }
        std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
        bool IsInteger(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_INTEGER; }
        std::string Bytes(int column)
        {
            const void* p = sqlite3_column_blob(stmt_, column);
            const int n = sqlite3_column_bytes(stmt_, column);
            return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
        }

    private:
        void Check(int rc)
        {
            if (rc != SQLITE_OK)
                throw SqlError{rc};
        }
        sqlite3_stmt* stmt_;
    };

    // Runs body inside a read transaction (one consistent snapshot).
    template <class Body>
    LONG Read(Body&& body)
    {
        return Run(false, body);
    }
    // Runs body inside BEGIN IMMEDIATE ... COMMIT; any result other than ERROR_SUCCESS rolls
    // back. Taking the write lock up front means a waiting writer sleeps in the busy handler
    // instead of failing on a lock upgrade.
    template <class Body>
    LONG Write(Body&& body)
    {
        return Run(true, body);
    }

    // Closes the connection if this process opened it; used at exit so that the write-ahead
    // log is folded back into the database file.
    void CloseAtExit()
    {
        std::lock_guard lock(mutex_);
        if (db_ != nullptr && pid_ == getpid())
            Close();
    }

    std::int64_t changes() { return sqlite3_changes64(db_); }

private:
    template <class Body>
    LONG Run(bool write, Body& body)
    {
        std::lock_guard lock(mutex_);
        for (int attempt = 0;; ++attempt) {
            if (!EnsureOpen())
                return ERROR_CANTOPEN;
            bool open = false;
            try {
                Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
                open = true;
                const LONG result = body(*this);
                Exec(result == ERROR_SUCCESS ? "COMMIT" : "ROLLBACK");
                return result;
            } catch (const SqlError& e) {
                if (open)
                    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                const int primary = e.code & 0xff;
                if ((primary == SQLITE_BUSY || primary == SQLITE_LOCKED) && attempt < kBusyRetries) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20 * (attempt + 1)));
                    continue;
                }
                return ERROR_CANTOPEN;
            }
        }
    }

    void Exec(const char* sql)
    {
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw SqlError{rc};
    }

    sqlite3_stmt* Prepare(const char* sql)
    {
        auto it = statements_.find(sql);
        if (it != statements_.end())
            return it->second;
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK)
            throw SqlError{rc};
        statements_.emplace(sql, stmt);
        return stmt;
    }

    bool EnsureOpen()
    {
        if (db_ != nullptr && pid_ == getpid())
            return true;
        if (db_ != nullptr) {
            // Inherited from the parent process: never touch it again (closing it here could
            // checkpoint or remove files the parent still uses), keep it reachable, start anew.
            inherited_.push_back(db_);
            db_ = nullptr;
            statements_.clear();
        }
        std::error_code ec;
        const std::filesystem::path file(path_);
        if (file.has_parent_path())
            std::filesystem::create_directories(file.parent_path(), ec);
        // The registry holds account settings: create the file for its owner only. SQLite
        // gives its -wal and -shm companions the same permissions.
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);

        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db, 1);
        db_ = db;
        pid_ = getpid();
        for (int attempt = 0;; ++attempt) {
            try {
                // journal_mode is a property of the file; asking again is cheap. On a file system
                // without shared memory WAL is refused and the rollback journal stays, which is
                // still correct, only slower.
                Exec("PRAGMA journal_mode=WAL");
                Exec("PRAGMA synchronous=NORMAL");
                Exec("BEGIN IMMEDIATE");
                try {
                    Exec(kSchema);
                    Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
                    Exec("COMMIT");
                } catch (const SqlError&) {
                    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                    throw;
                }
                return true;
            } catch (const SqlError& e) {
                const int primary = e.code & 0xff;
                if ((primary == SQLITE_BUSY || primary == SQLITE_LOCKED) && attempt < kBusyRetries) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20 * (attempt + 1)));
                    continue;
                }
                Close();
                return false;
            }
        }
    }

    void Close()
    {
        for (auto& [sql, stmt] : statements_)
            sqlite3_finalize(stmt);
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
    }

    std::mutex mutex_;
    std::string path_;
    sqlite3* db_ = nullptr;
    pid_t pid_ = 0;
    std::map<const char*, sqlite3_stmt*> statements_;  // keyed by the SQL literal's address
    std::vector<sqlite3*> inherited_;
};

}  // namespace

struct RegKey {
    std::shared_ptr<Database> db;  // null for the predefined root: resolved at every use
    std::int64_t id;
};

namespace {

// The open databases, one per file, and the live key handles. Never destroyed: a handle
// may still be used by code that runs while the process shuts down. At exit the
// connections are closed (folding the write-ahead log into the file); a later use opens
// its connection again.
class Registry {
public:
    static Registry& Get()
    {
        static Registry* instance = [] {
            auto* r = new Registry;
            std::atexit([] { Registry::Get().CloseAll(); });
            return r;
        }();
        return *instance;
    }

    std::shared_ptr<Database> DatabaseFor(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        auto& slot = databases_[path];
        if (!slot)
            slot = std::make_shared<Database>(path);
        return slot;
    }

    HKEY Register(std::shared_ptr<Database> db, std::int64_t id)
    {
        auto* key = new RegKey{std::move(db), id};
        std::lock_guard lock(mutex_);
        handles_.insert(key);
        return key;
    }

    bool Unregister(HKEY key)
    {
        {
            std::lock_guard lock(mutex_);
            if (handles_.erase(key) == 0)
                return false;
        }
        delete key;
        return true;
    }

    // Copies what a handle stands for, so a concurrent RegCloseKey cannot pull it away.
    bool Lookup(HKEY key, std::shared_ptr<Database>* db, std::int64_t* id);

private:
    void CloseAll()
    {
        std::vector<std::shared_ptr<Database>> all;
        {
            std::lock_guard lock(mutex_);
            for (auto& [path, db] : databases_)
                all.push_back(db);
        }
        for (auto& db : all)
            db->CloseAtExit();
    }

    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Database>> databases_;
    std::unordered_set<HKEY> handles_;
};

RegKey g_currentUser{nullptr, 0};

bool Registry::Lookup(HKEY key, std::shared_ptr<Database>* db, std::int64_t* id)
{
    if (key == &g_currentUser) {
        *db = DatabaseFor(RegistryDatabasePath());
        *id = 0;
        return true;
    }
    std::lock_guard lock(mutex_);
    if (handles_.count(key) == 0)
        return false;
    *db = key->db;
    *id = key->id;
    return true;
}

using Stmt = Database::Stmt;

bool KeyExists(Database& db, std::int64_t id)
{
    if (id == 0)
        return true;
    Stmt s(db, "SELECT 1 FROM reg_keys WHERE id = ?1");
    return s.Bind(1, id).Step();
}

std::optional<std::int64_t> FindChild(Database& db, std::int64_t parent, const std::string& name)
{
    Stmt s(db, "SELECT id FROM reg_keys WHERE parent = ?1 AND fold = ?2");
    if (!s.Bind(1, parent).Bind(2, Fold(name)).Step())
        return std::nullopt;
    return s.Int(0);
}

std::optional<std::int64_t> FindPath(Database& db, std::int64_t start, const std::vector<std::string>& parts)
{
    std::int64_t id = start;
    for (const auto& part : parts) {
        const auto child = FindChild(db, id, part);
        if (!child)
            return std::nullopt;
        id = *child;
    }
    return id;
}

bool ValidKeyNames(const std::vector<std::string>& parts)
{
    for (const auto& part : parts) {
        if (part.size() > kMaxKeyNameLength)
            return false;
    }
    return true;
}

// Copies a value out the way RegQueryValueEx does: sizes in bytes, REG_SZ with its
// terminator, ERROR_MORE_DATA with the needed size.
LONG CopyData(DWORD type, const std::string& payload, DWORD* typeOut, unsigned char* data, DWORD* dataSize)
{
    if (typeOut != nullptr)
        *typeOut = type;
    if (dataSize == nullptr)
        return ERROR_SUCCESS;
    const auto need = static_cast<DWORD>(payload.size());
    if (data == nullptr) {
        *dataSize = need;
        return ERROR_SUCCESS;
    }
    if (*dataSize < need) {
        *dataSize = need;
        return ERROR_MORE_DATA;
    }
    if (need > 0)
        std::memcpy(data, payload.data(), need);
    *dataSize = need;
    return ERROR_SUCCESS;
}

// The bytes a reader sees for a stored value (column `col` of `s`, type `type`).
std::string Payload(Stmt& s, int col, DWORD type)
{
    if (s.IsInteger(col)) {
        const auto v = static_cast<DWORD>(s.Int(col));
        return std::string(reinterpret_cast<const char*>(&v), sizeof v);
    }
    std::string bytes = s.Bytes(col);
    if (type == REG_SZ)
        bytes.push_back('\0');
    return bytes;
}

LONG CopyName(const std::string& name, char* out, DWORD* outSize)
{
    if (name.size() + 1 > *outSize) {
        *outSize = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, name.data(), name.size());
    out[name.size()] = '\0';
    *outSize = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

std::string ValueName(const char* name) { return name == nullptr ? std::string() : std::string(name); }

}  // namespace

const HKEY HKEY_CURRENT_USER = &g_currentUser;

std::string RegistryDatabasePath()
{
    namespace fs = std::filesystem;
    if (const char* env = std::getenv("ORVANTA_REGISTRY"); env != nullptr && *env != '\0') {
        std::error_code ec;
        const fs::path absolute = fs::absolute(env, ec);
        return ec ? std::string(env) : absolute.lexically_normal().string();
    }
    std::string base = UserConfigHome();
    return (base.empty() ? std::string("./.config") : base) + "/orvanta/registry.db";
}

bool RegNamesEqual(std::string_view a, std::string_view b) { return Fold(a) == Fold(b); }

LONG RegCreateKeyEx(HKEY parent, const char* subKey, HKEY* result, DWORD* disposition)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::shared_ptr<Database> db;
    std::int64_t start = 0;
    if (!Registry::Get().Lookup(parent, &db, &start))
        return ERROR_INVALID_HANDLE;
    const auto parts = SplitPath(subKey);
    if (!ValidKeyNames(parts))
        return ERROR_INVALID_PARAMETER;

    std::int64_t id = start;
    bool created = false;
    const LONG rc = db->Write([&](Database& d) -> LONG {
        id = start;
        created = false;
        if (!KeyExists(d, start))
            return ERROR_KEY_DELETED;
        for (const auto& part : parts) {
            if (const auto child = FindChild(d, id, part)) {
                id = *child;
                created = false;
                continue;
            }
            Stmt s(d, "INSERT INTO reg_keys(parent, name, fold) VALUES(?1, ?2, ?3) RETURNING id");
            s.Bind(1, id).Bind(2, part).Bind(3, Fold(part));
            if (!s.Step())
                throw SqlError{SQLITE_ERROR};
            id = s.Int(0);
            while (s.Step()) {
            }
            created = true;
        }
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = Registry::Get().Register(std::move(db), id);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY parent, const char* subKey, HKEY* result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::shared_ptr<Database> db;
    std::int64_t start = 0;
    if (!Registry::Get().Lookup(parent, &db, &start))
        return ERROR_INVALID_HANDLE;
    const auto parts = SplitPath(subKey);

    std::int64_t id = start;
    const LONG rc = db->Read([&](Database& d) -> LONG {
        if (parts.empty())
            return KeyExists(d, start) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
        const auto found = FindPath(d, start, parts);
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        id = *found;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    *result = Registry::Get().Register(std::move(db), id);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    return Registry::Get().Unregister(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, unsigned char* data, DWORD* dataSize)
{
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Database> db;
    std::int64_t id = 0;
    if (!Registry::Get().Lookup(key, &db, &id))
        return ERROR_INVALID_HANDLE;
    const std::string fold = Fold(ValueName(name));

    DWORD foundType = REG_NONE;
    std::string payload;
    const LONG rc = db->Read([&](Database& d) -> LONG {
        Stmt s(d, "SELECT type, data FROM reg_values WHERE key = ?1 AND fold = ?2");
        if (!s.Bind(1, id).Bind(2, fold).Step())
            return ERROR_FILE_NOT_FOUND;
        foundType = static_cast<DWORD>(s.Int(0));
        payload = Payload(s, 1, foundType);
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    return CopyData(foundType, payload, type, data, dataSize);
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const unsigned char* data, DWORD dataSize)
{
    if (data == nullptr && dataSize != 0)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Database> db;
    std::int64_t id = 0;
    if (!Registry::Get().Lookup(key, &db, &id))
        return ERROR_INVALID_HANDLE;

    std::string text;
    DWORD number = 0;
    if (type == REG_SZ) {
        const auto* bytes = reinterpret_cast<const char*>(data);
        const void* nul = dataSize == 0 ? nullptr : std::memchr(bytes, '\0', dataSize);
        text.assign(bytes == nullptr ? "" : bytes, nul != nullptr ? static_cast<const char*>(nul) - bytes : dataSize);
    } else if (type == REG_DWORD) {
        if (dataSize != sizeof number)
            return ERROR_INVALID_PARAMETER;
        std::memcpy(&number, data, sizeof number);
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string valueName = ValueName(name);

    return db->Write([&](Database& d) -> LONG {
        if (!KeyExists(d, id))
            return ERROR_KEY_DELETED;
        // Rewriting keeps the row, hence the value's place in the enumeration and its
        // first spelling.
        Stmt s(d, "INSERT INTO reg_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                  "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
        s.Bind(1, id).Bind(2, valueName).Bind(3, Fold(valueName)).Bind(4, type);
        if (type == REG_SZ) {
            s.Bind(5, text);
        } else {
            s.Bind(5, static_cast<std::int64_t>(number));
        }
        s.Step();
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValue(HKEY key, const char* name)
{
    std::shared_ptr<Database> db;
    std::int64_t id = 0;
    if (!Registry::Get().Lookup(key, &db, &id))
        return ERROR_INVALID_HANDLE;
    const std::string fold = Fold(ValueName(name));
    return db->Write([&](Database& d) -> LONG {
        Stmt s(d, "DELETE FROM reg_values WHERE key = ?1 AND fold = ?2");
        s.Bind(1, id).Bind(2, fold).Step();
        return d.changes() > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegDeleteKey(HKEY parent, const char* subKey)
{
    std::shared_ptr<Database> db;
    std::int64_t start = 0;
    if (!Registry::Get().Lookup(parent, &db, &start))
        return ERROR_INVALID_HANDLE;
    const auto parts = SplitPath(subKey);
    if (parts.empty())
        return ERROR_INVALID_PARAMETER;
    return db->Write([&](Database& d) -> LONG {
        const auto found = FindPath(d, start, parts);
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        {
            Stmt s(d, "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
                      "  SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) "
                      "DELETE FROM reg_values WHERE key IN tree");
            s.Bind(1, *found).Step();
        }
        Stmt s(d, "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
                  "  SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) "
                  "DELETE FROM reg_keys WHERE id IN tree");
        s.Bind(1, *found).Step();
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize)
{
    if (name == nullptr || nameSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Database> db;
    std::int64_t id = 0;
    if (!Registry::Get().Lookup(key, &db, &id))
        return ERROR_INVALID_HANDLE;
    std::string found;
    const LONG rc = db->Read([&](Database& d) -> LONG {
        Stmt s(d, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
        if (!s.Bind(1, id).Bind(2, index).Step())
            return ERROR_NO_MORE_ITEMS;
        found = s.Bytes(0);
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    return CopyName(found, name, nameSize);
}

LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, unsigned char* data, DWORD* dataSize)
{
    if (name == nullptr || nameSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Database> db;
    std::int64_t id = 0;
    if (!Registry::Get().Lookup(key, &db, &id))
        return ERROR_INVALID_HANDLE;
    std::string foundName;
    std::string payload;
    DWORD foundType = REG_NONE;
    const LONG rc = db->Read([&](Database& d) -> LONG {
        Stmt s(d, "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
        if (!s.Bind(1, id).Bind(2, index).Step())
            return ERROR_NO_MORE_ITEMS;
        foundName = s.Bytes(0);
        foundType = static_cast<DWORD>(s.Int(1));
        payload = Payload(s, 2, foundType);
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    if (const LONG r = CopyName(foundName, name, nameSize); r != ERROR_SUCCESS)
        return r;
    return CopyData(foundType, payload, type, data, dataSize);
}

}  // namespace platform
