#pragma once

#include <httplib.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ServiceConfig.h"
#include "TestTls.h"
#include "VelmoraService.h"

namespace velmora::service::testing {

// A directory under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A PostgreSQL 15 of this test's own (tests/scratch-postgres.sh), stopped and removed at the end.
class ScratchPostgres {
  public:
    ScratchPostgres();
    ~ScratchPostgres();
    // Empty when PostgreSQL 15 is not installed.
    const std::string& conninfo() const { return conninfo_; }

  private:
    TempDir dir_;
    std::string conninfo_;
};

// The store a test runs against: SQLite in a data directory, or a scratch PostgreSQL.
class StoreUnderTest {
  public:
    explicit StoreUnderTest(bool postgres);
    bool postgres() const { return postgres_.has_value(); }
    // testConfig() with this store.
    ServiceConfig config() const;
    // Runs SQL on the store, as the operator might; the first two columns of the rows it returns.
    std::map<std::string, long long> sql(const std::string& statement) const;
    // The stored token hashes with their last use (0 when never used).
    std::map<std::string, long long> tokenRows() const {
        return sql("SELECT token_hash, coalesce(last_used_at, 0) FROM tokens");
    }

  private:
    TempDir dataDir_;
    std::optional<ScratchPostgres> postgres_;
};

// The stores every storage test runs over, named for the test's name.
inline constexpr bool kStores[] = {false, true};
std::string storeName(const ::testing::TestParamInfo<bool>& info);

// A chat-completions backend on loopback that answers as the test says and records each request.
class ScriptedUpstream {
  public:
    ScriptedUpstream();
    std::string baseUrl() const;
    void reply(int status, std::string body);
    // Answers with `content` as the first choice's message.
    void answerWith(const std::string& content);

    testtls::Recorder<httplib::Request> received;

  private:
    httplib::Server server_;
    std::mutex mutex_;
    int status_ = 500;
    std::string body_;
    std::optional<testtls::ServingThread> serving_;
};

// A client of 127.0.0.1:`port` that verifies the server against the test authority.
std::unique_ptr<httplib::Client> clientFor(int port);

// velmora-service in this process on a free port, with its own data directory unless the config
// names one.
class RunningService {
  public:
    explicit RunningService(ServiceConfig config);
    ~RunningService();

    std::unique_ptr<httplib::Client> client() const { return clientFor(port_); }
    int port() const { return port_; }
    // Posts a chat request with the given bearer token (none when empty).
    httplib::Result postChat(const std::string& body, const std::string& token) const;
    // The sign-in form as a browser holds it: the cookie that came with the page ("name=value")
    // and the form's hidden token.
    struct SignInForm {
        std::string cookie;
        std::string token;
    };
    SignInForm signInForm() const;
    // Posts `form` with `passphrase`, its cookie when it has one, and the `extra` headers.
    httplib::Result postSignIn(const std::string& passphrase, const SignInForm& form,
                               const httplib::Headers& extra = {}) const;
    // Posts a freshly fetched form, as a person signing in does.
    httplib::Result postSignIn(const std::string& passphrase) const {
        return postSignIn(passphrase, signInForm());
    }
    // Signs in with `passphrase`; the token from the redirect, or empty.
    std::string signIn(const std::string& passphrase) const;

  private:
    TempDir dataDir_;
    std::unique_ptr<VelmoraService> service_;
    int port_ = -1;
    std::thread thread_;
};

// The service's log lines while it exists.
class LogLines : public testtls::Recorder<std::string> {
  public:
    LogLines();
    ~LogLines();
    // Every line so far, once one holds `part`: the server logs a request after answering it.
    std::string waitForLine(const std::string& part);
};

// The test certificate, port 0, the passphrase "pw" and no wait after a wrong one.
ServiceConfig testConfig();

// A valid request for the catalog's default model.
std::string chatBody(const std::string& prompt, const std::string& instructions = "Be brief.");

}  // namespace velmora::service::testing
