#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct sqlite3;

namespace velmora::service {

// How long a session token stays good, in seconds: since it was last used, and in all.
struct TokenLifetimes {
    std::int64_t idle = 30 * 86400;
    std::int64_t absolute = 180 * 86400;
};

// The issued session tokens, as SHA-256 hashes with their creation and last-use times (Unix
// seconds), in an SQLite file that outlives the process and only its owner may read (0600, in a
// 0700 directory). Safe to use from several threads.
class TokenDatabase {
  public:
    // Opens or creates `<directory>/tokens.sqlite3`, creating the directory, bringing a file
    // from an older release up to date and dropping expired tokens.
    static std::unique_ptr<TokenDatabase> open(const std::string& directory, std::string* error,
                                               TokenLifetimes lifetimes = {});
    ~TokenDatabase();

    TokenDatabase(const TokenDatabase&) = delete;
    TokenDatabase& operator=(const TokenDatabase&) = delete;

    // Makes a fresh token, stores its hash and returns the token itself, which is not kept.
    std::optional<std::string> issueToken();

    // True when `token` was issued here and has not expired. Records the use, but writes it at
    // most once per `touchInterval()`; an expired token is deleted.
    bool acceptToken(const std::string& token);

    std::int64_t touchInterval() const;

    static constexpr const char* kFileName = "tokens.sqlite3";

  private:
    TokenDatabase(sqlite3* db, TokenLifetimes lifetimes) : db_(db), lifetimes_(lifetimes) {}

    std::mutex mutex_;
    sqlite3* db_;
    TokenLifetimes lifetimes_;
};

}  // namespace velmora::service
