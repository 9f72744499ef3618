#pragma once

#include <optional>
#include <string>

namespace velmora::platform {

// A secret is found by its service and account.
struct SecretKey {
    std::string service;
    std::string account;
};

enum class SecretStatus {
    Ok,
    NotFound,     // no secret has this key
    Refused,      // the store is locked, or the user or the store refused
    Unavailable,  // no store can be reached, or it failed
};

struct SecretResult {
    SecretStatus status = SecretStatus::Ok;
    std::string message;  // the store's own words when it failed; may be empty
};

// A lookup's outcome, with the secret's bytes on Ok.
struct SecretLookup : SecretResult {
    std::string value;
};

// The user's secret store. Calls block until the store answers.
class SecretStore {
  public:
    virtual ~SecretStore() = default;
    // Replaces the value of an existing secret; NotFound when there is none.
    virtual SecretResult replace(const SecretKey& key, const std::string& value) = 0;
    // Stores a new secret, readable only while the user's store is unlocked.
    virtual SecretResult add(const SecretKey& key, const std::string& value) = 0;
    virtual SecretLookup lookup(const SecretKey& key) = 0;
    virtual SecretResult remove(const SecretKey& key) = 0;
};

}  // namespace velmora::platform
