#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "TokenStore.h"

struct sqlite3;

namespace velmora::service {

// The issued session tokens, as SHA-256 hashes with their creation and last-use times (Unix
// seconds), in an SQLite file that outlives the process and only its owner may read (0600, in a
// 0700 directory), and the sign-in throttle's records in this process: the store of one machine.
// Safe to use from several threads.
class TokenDatabase : public TokenStore {
  public:
    // Opens or creates `<directory>/tokens.sqlite3`, creating the directory, bringing a file
    // from an older release up to date and dropping expired tokens.
    static std::unique_ptr<TokenDatabase> open(const std::string& directory, std::string* error,
                                               TokenLifetimes lifetimes = {});
    ~TokenDatabase();

    TokenDatabase(const TokenDatabase&) = delete;
    TokenDatabase& operator=(const TokenDatabase&) = delete;

    std::optional<std::string> issueToken() override;
    bool acceptToken(const std::string& token) override;
    void check() override {}
    ThrottleTable& throttleTable() override { return throttle_; }
    std::string description() const override { return "SQLite " + path_; }

    static constexpr const char* kFileName = "tokens.sqlite3";

  private:
    TokenDatabase(sqlite3* db, TokenLifetimes lifetimes, std::string path)
        : db_(db), lifetimes_(lifetimes), path_(std::move(path)) {}

    std::mutex mutex_;
    sqlite3* db_;
    TokenLifetimes lifetimes_;
    std::string path_;
    MemoryThrottleTable throttle_;
};

}  // namespace velmora::service
