#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TokenStore.h"

struct pg_conn;

namespace velmora::service {

// The tokens and the sign-in throttle in PostgreSQL, shared by every replica. Each calling thread
// borrows a connection from a small pool; a lost connection is dropped and made anew on a later
// call, so the store recovers by itself when the server is back. Blocking, like every store:
// the service calls it on its database threads.
class PostgresTokenStore : public TokenStore, public ThrottleTable {
  public:
    // Connects with `conninfo` (a postgresql:// URL or key=value pairs) and brings the schema up
    // to date under an advisory lock, so replicas starting together migrate once.
    static std::unique_ptr<PostgresTokenStore> open(const std::string& conninfo,
                                                    TokenLifetimes lifetimes, std::string* error);
    ~PostgresTokenStore() override;

    std::optional<std::string> issueToken() override;
    bool acceptToken(const std::string& token) override;
    void check() override;
    ThrottleTable& throttleTable() override { return *this; }
    std::string description() const override;

    void transaction(const std::function<void()>& work) override;
    std::optional<ThrottleRecord> get(const std::string& key) override;
    void put(const std::string& key, const ThrottleRecord& record) override;
    void erase(const std::string& key) override;
    std::size_t size() override;
    void dropDueBefore(double time) override;
    bool dropOldest(bool singleFailureOnly) override;

    // The schema version this release brings the database to.
    static int schemaVersion();

    class Session;

  private:
    PostgresTokenStore(std::string conninfo, TokenLifetimes lifetimes)
        : conninfo_(std::move(conninfo)), lifetimes_(lifetimes) {}
    pg_conn* connect(std::string* error);
    pg_conn* borrow();
    void giveBack(pg_conn* connection, bool broken);

    std::string conninfo_;
    TokenLifetimes lifetimes_;
    std::mutex mutex_;
    std::vector<pg_conn*> idle_;
    std::chrono::steady_clock::time_point retryAfter_{};
};

}  // namespace velmora::service
