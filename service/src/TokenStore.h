#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "SignInThrottle.h"

namespace velmora::service {

struct ServiceConfig;

// How long a session token stays good, in seconds: since it was last used, and in all.
struct TokenLifetimes {
    std::int64_t idle = 30 * 86400;
    std::int64_t absolute = 180 * 86400;
    // The last use is written at most this often: hourly, but often enough that the idle
    // lifetime stays accurate when it is short.
    std::int64_t touchInterval() const { return std::clamp<std::int64_t>(idle / 4, 1, 3600); }
};

// The store could not be reached; the request is answered 503 and the store is tried again
// on the next one.
struct StoreUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The issued session tokens, as SHA-256 hashes with their creation, lifetime start and last use
// (Unix seconds), and the sign-in throttle's records. Every call blocks, so the service makes
// them on its database threads, never on a connection's. Safe from several threads.
class TokenStore {
  public:
    virtual ~TokenStore() = default;

    // Makes a fresh token, stores its hash and returns the token itself, which is not kept; none
    // when it could not be stored. Throws StoreUnavailable.
    virtual std::optional<std::string> issueToken() = 0;
    // True when `token` was issued here and has not expired. Records the use, but writes it at
    // most once per touch interval; an expired token is deleted. Throws StoreUnavailable.
    virtual bool acceptToken(const std::string& token) = 0;
    // Throws StoreUnavailable when the store cannot be used.
    virtual void check() = 0;
    // Where the sign-in throttle keeps its records: this process, or the shared database.
    virtual ThrottleTable& throttleTable() = 0;
    // For the start log line, without a password.
    virtual std::string description() const = 0;
};

// Opens the store the configuration names: PostgreSQL for a `database` URL or key=value
// connection string, else the SQLite file in the data directory. Brings the schema up to date.
std::unique_ptr<TokenStore> openTokenStore(const ServiceConfig& config, std::string* error);

// Whether `a` token row (lifetime start, last use) has expired at `now`.
inline bool tokenExpired(const TokenLifetimes& lifetimes, std::int64_t start, std::int64_t lastUsed,
                         std::int64_t now) {
    return now >= start + lifetimes.absolute || now >= std::max(start, lastUsed) + lifetimes.idle;
}

}  // namespace velmora::service
