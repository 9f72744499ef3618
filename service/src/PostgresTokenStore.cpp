#include "PostgresTokenStore.h"

#include <libpq-fe.h>

#include <ctime>
#include <regex>

#include "SecureTokens.h"

namespace velmora::service {
namespace {

// Held while migrating, and by each throttle step, so that replicas take turns.
constexpr const char* kMigrationLock = "7418253401";
constexpr const char* kThrottleLock = "7418253402";

// Version n of the schema is kMigrations[n - 1]. Only ever append.
constexpr const char* kMigrations[] = {
    "CREATE TABLE tokens ("
    " token_hash text PRIMARY KEY NOT NULL,"
    " created_at bigint NOT NULL,"
    " lifetime_start bigint NOT NULL,"
    " last_used_at bigint)",
    "CREATE TABLE sign_in_throttle ("
    " key text PRIMARY KEY NOT NULL,"
    " failures integer NOT NULL,"
    " not_before double precision NOT NULL,"
    " last_failure double precision NOT NULL);"
    "CREATE INDEX sign_in_throttle_age ON sign_in_throttle (failures, last_failure)",
};

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string oneLine(std::string text) {
    for (char& c : text) {
        c = c == '\n' || c == '\r' ? ' ' : c;
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

}  // namespace

// One borrowed connection; statements that fail throw StoreUnavailable, and a connection that
// is no longer good goes back broken, to be closed.
class PostgresTokenStore::Session {
  public:
    explicit Session(PostgresTokenStore& store) : store_(store), connection_(store.borrow()) {}
    ~Session() { store_.giveBack(connection_, broken_); }

    Result run(const char* sql, std::vector<std::string> params = {}) {
        std::vector<const char*> values;
        for (const auto& param : params) {
            values.push_back(param.c_str());
        }
        // Without parameters a migration may hold several statements.
        Result result(values.empty()
                          ? PQexec(connection_, sql)
                          : PQexecParams(connection_, sql, static_cast<int>(values.size()), nullptr,
                                         values.data(), nullptr, nullptr, 0),
                      PQclear);
        const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            broken_ = broken_ || PQstatus(connection_) != CONNECTION_OK;
            throw StoreUnavailable("PostgreSQL: " + oneLine(PQerrorMessage(connection_)));
        }
        return result;
    }
    void abandon() {
        if (PQstatus(connection_) == CONNECTION_OK) {
            PQclear(PQexec(connection_, "ROLLBACK"));
        }
    }

  private:
    PostgresTokenStore& store_;
    pg_conn* connection_;
    bool broken_ = false;
};

namespace {
thread_local PostgresTokenStore::Session* currentSession = nullptr;
}

pg_conn* PostgresTokenStore::connect(std::string* error) {
    // Bounded waits, so a server that vanished costs a database thread seconds, not minutes;
    // the operator's own settings in the connection string win.
    const char* keys[] = {"connect_timeout",
                          "tcp_user_timeout",
                          "keepalives_idle",
                          "options",
                          "application_name",
                          "dbname",
                          nullptr};
    const char* values[] = {
        "5",    "10000", "30", "-c statement_timeout=10000", "velmora-service", conninfo_.c_str(),
        nullptr};
    pg_conn* connection = PQconnectdbParams(keys, values, 1);
    if (PQstatus(connection) != CONNECTION_OK) {
        *error = "PostgreSQL: " + oneLine(PQerrorMessage(connection));
        PQfinish(connection);
        return nullptr;
    }
    // Notices ("already exists, skipping") are no news for the log.
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    return connection;
}

pg_conn* PostgresTokenStore::borrow() {
    {
        std::lock_guard lock(mutex_);
        while (!idle_.empty()) {
            pg_conn* connection = idle_.back();
            idle_.pop_back();
            // A server that restarted closed its end meanwhile: that connection is gone.
            if (PQconsumeInput(connection) == 1 && PQstatus(connection) == CONNECTION_OK) {
                return connection;
            }
            PQfinish(connection);
        }
        // After a failed attempt, fail at once for a moment rather than queue every request
        // behind another connection timeout.
        if (std::chrono::steady_clock::now() < retryAfter_) {
            throw StoreUnavailable("PostgreSQL cannot be reached (retrying shortly)");
        }
    }
    std::string error;
    if (pg_conn* connection = connect(&error)) {
        return connection;
    }
    std::lock_guard lock(mutex_);
    retryAfter_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    throw StoreUnavailable(error);
}

void PostgresTokenStore::giveBack(pg_conn* connection, bool broken) {
    if (broken || PQstatus(connection) != CONNECTION_OK ||
        PQtransactionStatus(connection) != PQTRANS_IDLE) {
        PQfinish(connection);
        return;
    }
    std::lock_guard lock(mutex_);
    idle_.push_back(connection);
}

std::unique_ptr<PostgresTokenStore> PostgresTokenStore::open(const std::string& conninfo,
                                                             TokenLifetimes lifetimes,
                                                             std::string* error) {
    auto store = std::unique_ptr<PostgresTokenStore>(new PostgresTokenStore(conninfo, lifetimes));
    try {
        Session session(*store);
        session.run("SELECT pg_advisory_lock($1)", {kMigrationLock});
        try {
            session.run("CREATE TABLE IF NOT EXISTS velmora_schema (version integer NOT NULL)");
            auto current = session.run("SELECT coalesce(max(version), 0) FROM velmora_schema");
            for (int version = std::atoi(PQgetvalue(current.get(), 0, 0));
                 version < schemaVersion(); ++version) {
                session.run("BEGIN");
                session.run(kMigrations[version]);
                session.run("INSERT INTO velmora_schema VALUES ($1)",
                            {std::to_string(version + 1)});
                session.run("COMMIT");
            }
            session.run(
                "DELETE FROM tokens WHERE $1 >= lifetime_start + $2 OR"
                " $1 >= greatest(lifetime_start, coalesce(last_used_at, 0)) + $3",
                {std::to_string(now()), std::to_string(lifetimes.absolute),
                 std::to_string(lifetimes.idle)});
        } catch (...) {
            session.abandon();
            session.run("SELECT pg_advisory_unlock($1)", {kMigrationLock});
            throw;
        }
        session.run("SELECT pg_advisory_unlock($1)", {kMigrationLock});
    } catch (const StoreUnavailable& problem) {
        *error = std::string("cannot open the token database: ") + problem.what();
        return nullptr;
    }
    return store;
}

PostgresTokenStore::~PostgresTokenStore() {
    for (pg_conn* connection : idle_) {
        PQfinish(connection);
    }
}

int PostgresTokenStore::schemaVersion() {
    return static_cast<int>(std::size(kMigrations));
}

std::string PostgresTokenStore::description() const {
    // Neither a password in a URL nor a password= pair reaches the log.
    std::string shown = std::regex_replace(conninfo_, std::regex("(://[^:/@]*):[^@]*@"), "$1:***@");
    return "PostgreSQL " +
           std::regex_replace(shown, std::regex("password\\s*=\\s*\\S+"), "password=***");
}

std::optional<std::string> PostgresTokenStore::issueToken() {
    auto token = makeSessionToken();
    if (!token) {
        return std::nullopt;
    }
    Session(*this).run(
        "INSERT INTO tokens (token_hash, created_at, lifetime_start) VALUES ($1, $2, $2)",
        {sha256Hex(*token), std::to_string(now())});
    return token;
}

bool PostgresTokenStore::acceptToken(const std::string& token) {
    if (token.empty()) {
        return false;
    }
    const std::string hash = sha256Hex(token);
    const std::int64_t time = now();
    Session session(*this);
    auto row = session.run(
        "SELECT lifetime_start, coalesce(last_used_at, 0) FROM tokens WHERE token_hash = $1",
        {hash});
    if (PQntuples(row.get()) != 1) {
        return false;
    }
    const std::int64_t start = std::atoll(PQgetvalue(row.get(), 0, 0));
    const std::int64_t lastUsed = std::atoll(PQgetvalue(row.get(), 0, 1));
    if (tokenExpired(lifetimes_, start, lastUsed, time)) {
        session.run("DELETE FROM tokens WHERE token_hash = $1", {hash});
        return false;
    }
    if (time - lastUsed >= lifetimes_.touchInterval()) {
        // Another replica may have written it meanwhile; then this one does not.
        session.run(
            "UPDATE tokens SET last_used_at = $2 WHERE token_hash = $1 AND"
            " coalesce(last_used_at, 0) <= $3",
            {hash, std::to_string(time), std::to_string(time - lifetimes_.touchInterval())});
    }
    return true;
}

void PostgresTokenStore::check() {
    Session(*this).run("SELECT 1 FROM tokens LIMIT 1");
}

void PostgresTokenStore::transaction(const std::function<void()>& work) {
    Session session(*this);
    currentSession = &session;
    try {
        session.run("BEGIN");
        session.run("SELECT pg_advisory_xact_lock($1)", {kThrottleLock});
        work();
        session.run("COMMIT");
    } catch (...) {
        currentSession = nullptr;
        session.abandon();
        throw;
    }
    currentSession = nullptr;
}

std::optional<ThrottleRecord> PostgresTokenStore::get(const std::string& key) {
    auto row = currentSession->run(
        "SELECT failures, not_before, last_failure FROM sign_in_throttle WHERE key = $1", {key});
    if (PQntuples(row.get()) != 1) {
        return std::nullopt;
    }
    return ThrottleRecord{std::atoi(PQgetvalue(row.get(), 0, 0)),
                          std::atof(PQgetvalue(row.get(), 0, 1)),
                          std::atof(PQgetvalue(row.get(), 0, 2))};
}

void PostgresTokenStore::put(const std::string& key, const ThrottleRecord& record) {
    char notBefore[32];
    char lastFailure[32];
    std::snprintf(notBefore, sizeof notBefore, "%.3f", record.notBefore);
    std::snprintf(lastFailure, sizeof lastFailure, "%.3f", record.lastFailure);
    currentSession->run(
        "INSERT INTO sign_in_throttle VALUES ($1, $2, $3, $4) ON CONFLICT (key) DO UPDATE SET"
        " failures = $2, not_before = $3, last_failure = $4",
        {key, std::to_string(record.failures), notBefore, lastFailure});
}

void PostgresTokenStore::erase(const std::string& key) {
    currentSession->run("DELETE FROM sign_in_throttle WHERE key = $1", {key});
}

std::size_t PostgresTokenStore::size() {
    auto row = currentSession->run("SELECT count(*) FROM sign_in_throttle");
    return static_cast<std::size_t>(std::atoll(PQgetvalue(row.get(), 0, 0)));
}

void PostgresTokenStore::dropDueBefore(double time) {
    currentSession->run("DELETE FROM sign_in_throttle WHERE not_before < $1",
                        {std::to_string(time)});
}

bool PostgresTokenStore::dropOldest(bool singleFailureOnly) {
    auto dropped = currentSession->run(
        singleFailureOnly
            ? "DELETE FROM sign_in_throttle WHERE key = (SELECT key FROM sign_in_throttle WHERE"
              " failures = 1 ORDER BY last_failure LIMIT 1)"
            : "DELETE FROM sign_in_throttle WHERE key = (SELECT key FROM sign_in_throttle ORDER"
              " BY last_failure LIMIT 1)");
    return std::atoi(PQcmdTuples(dropped.get())) > 0;
}

}  // namespace velmora::service
