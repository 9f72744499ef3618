#include "TokenDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "SecureTokens.h"

namespace velmora::service {
namespace {

// The first release's table. Version 1 of the schema adds lifetime_start, the time a token's
// lifetimes count from: its issue, or, for a token issued before tokens expired, the upgrade,
// so that upgrading signs nobody out.
constexpr const char* kFirstSchema =
    "CREATE TABLE IF NOT EXISTS tokens ("
    " token_hash TEXT PRIMARY KEY NOT NULL,"
    " created_at INTEGER NOT NULL,"
    " last_used_at INTEGER)";

// One prepared statement, finalized on every path.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // A statement that failed to prepare ignores its bindings and fails its step.
    void bind(int index, const std::string& text) {
        if (stmt_) {
            sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        }
    }
    void bind(int index, sqlite3_int64 value) {
        if (stmt_) {
            sqlite3_bind_int64(stmt_, index, value);
        }
    }
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
    sqlite3_int64 integer(int column) { return sqlite3_column_int64(stmt_, column); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

sqlite3_int64 now() {
    return static_cast<sqlite3_int64>(std::time(nullptr));
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The database file, made or narrowed to mode 0600 before SQLite opens it. SQLite gives the
// journal files it makes the mode of the database; ones left by an older release are narrowed
// here too.
bool makePrivate(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0) {
        if (error) {
            *error = "cannot make " + path + " private: " + std::strerror(errno);
        }
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    close(fd);
    for (const char* journal : {"-journal", "-wal", "-shm"}) {
        chmod((path + journal).c_str(), 0600);
    }
    return true;
}

sqlite3_int64 schemaVersion(sqlite3* db) {
    Statement version(db, "PRAGMA user_version");
    return version.step() == SQLITE_ROW ? version.integer(0) : -1;
}

bool migrate(sqlite3* db) {
    if (!exec(db, "BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = exec(db, kFirstSchema);
    if (ok && schemaVersion(db) < 1) {
        ok = exec(db, "ALTER TABLE tokens ADD COLUMN lifetime_start INTEGER NOT NULL DEFAULT 0");
        Statement start(db, "UPDATE tokens SET lifetime_start = ?1");
        start.bind(1, now());
        ok = ok && start.step() == SQLITE_DONE && exec(db, "PRAGMA user_version = 1");
    }
    return exec(db, ok ? "COMMIT" : "ROLLBACK") && ok;
}

}  // namespace

std::unique_ptr<TokenDatabase> TokenDatabase::open(const std::string& directory, std::string* error,
                                                   TokenLifetimes lifetimes) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        if (error) {
            *error = "cannot create " + directory + ": " + ec.message();
        }
        return nullptr;
    }
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);

    const std::string path = directory + "/" + kFileName;
    if (!makePrivate(path, error)) {
        return nullptr;
    }
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        rc = migrate(db) ? SQLITE_OK : SQLITE_ERROR;
    }
    if (rc != SQLITE_OK) {
        if (error) {
            *error = "cannot open the token database " + path + ": " +
                     (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        }
        sqlite3_close(db);
        return nullptr;
    }
    Statement purge(db,
                    "DELETE FROM tokens WHERE ?1 >= lifetime_start + ?2 OR"
                    " ?1 >= max(lifetime_start, coalesce(last_used_at, 0)) + ?3");
    purge.bind(1, now());
    purge.bind(2, lifetimes.absolute);
    purge.bind(3, lifetimes.idle);
    purge.step();
    return std::unique_ptr<TokenDatabase>(new TokenDatabase(db, lifetimes, path));
}

TokenDatabase::~TokenDatabase() {
    sqlite3_close(db_);
}

std::optional<std::string> TokenDatabase::issueToken() {
    auto token = makeSessionToken();
    if (!token) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    Statement insert(db_,
                     "INSERT INTO tokens (token_hash, created_at, lifetime_start)"
                     " VALUES (?1, ?2, ?2)");
    insert.bind(1, sha256Hex(*token));
    insert.bind(2, now());
    if (insert.step() != SQLITE_DONE) {
        return std::nullopt;
    }
    return token;
}

bool TokenDatabase::acceptToken(const std::string& token) {
    if (token.empty()) {
        return false;
    }
    const std::string hash = sha256Hex(token);
    const sqlite3_int64 time = now();
    std::lock_guard lock(mutex_);
    Statement find(db_,
                   "SELECT lifetime_start, coalesce(last_used_at, 0) FROM tokens"
                   " WHERE token_hash = ?1");
    find.bind(1, hash);
    if (find.step() != SQLITE_ROW) {
        return false;
    }
    const sqlite3_int64 start = find.integer(0);
    const sqlite3_int64 lastUsed = find.integer(1);
    if (tokenExpired(lifetimes_, start, lastUsed, time)) {
        Statement remove(db_, "DELETE FROM tokens WHERE token_hash = ?1");
        remove.bind(1, hash);
        remove.step();
        return false;
    }
    if (time - lastUsed >= lifetimes_.touchInterval()) {
        Statement touch(db_, "UPDATE tokens SET last_used_at = ?2 WHERE token_hash = ?1");
        touch.bind(1, hash);
        touch.bind(2, time);
        touch.step();
    }
    return true;
}

}  // namespace velmora::service
