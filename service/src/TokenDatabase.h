#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct sqlite3;

namespace velmora::service {

// The issued session tokens, as SHA-256 hashes with their creation and last-use times (Unix
// seconds), in an SQLite file that outlives the process. Safe to use from several threads.
class TokenDatabase {
  public:
    // Opens or creates `<directory>/tokens.sqlite3`, creating the directory (mode 0700).
    static std::unique_ptr<TokenDatabase> open(const std::string& directory, std::string* error);
    ~TokenDatabase();

    TokenDatabase(const TokenDatabase&) = delete;
    TokenDatabase& operator=(const TokenDatabase&) = delete;

    // Makes a fresh token, stores its hash and returns the token itself, which is not kept.
    std::optional<std::string> issueToken();

    // True when `token` was issued here; records the use.
    bool acceptToken(const std::string& token);

    static constexpr const char* kFileName = "tokens.sqlite3";

  private:
    explicit TokenDatabase(sqlite3* db) : db_(db) {}

    std::mutex mutex_;
    sqlite3* db_;
};

}  // namespace velmora::service
