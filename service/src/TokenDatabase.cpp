#include "TokenDatabase.h"

#include <sqlite3.h>

#include <ctime>
#include <filesystem>

#include "SecureTokens.h"

namespace velmora::service {
namespace {

constexpr const char* kSchema =
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

    bool valid() const { return stmt_ != nullptr; }
    void bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void bind(int index, sqlite3_int64 value) { sqlite3_bind_int64(stmt_, index, value); }
    int step() { return sqlite3_step(stmt_); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

sqlite3_int64 now() {
    return static_cast<sqlite3_int64>(std::time(nullptr));
}

}  // namespace

std::unique_ptr<TokenDatabase> TokenDatabase::open(const std::string& directory,
                                                   std::string* error) {
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
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        if (error) {
            *error = "cannot open the token database " + path + ": " +
                     (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        }
        sqlite3_close(db);
        return nullptr;
    }
    return std::unique_ptr<TokenDatabase>(new TokenDatabase(db));
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
    Statement insert(db_, "INSERT INTO tokens (token_hash, created_at) VALUES (?1, ?2)");
    if (!insert.valid()) {
        return std::nullopt;
    }
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
    std::lock_guard lock(mutex_);
    Statement touch(db_, "UPDATE tokens SET last_used_at = ?2 WHERE token_hash = ?1");
    if (!touch.valid()) {
        return false;
    }
    touch.bind(1, sha256Hex(token));
    touch.bind(2, now());
    return touch.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

}  // namespace velmora::service
