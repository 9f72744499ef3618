#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmora::service {

// Slows passphrase guessing per client address at the guesser's cost, never a request thread's:
// after a wrong passphrase the address must wait before its next attempt is even considered,
// twice as long after each further one, and enough wrong ones in a row lock it out. A right
// passphrase forgets the address; so does a quiet spell as long as the lockout. IPv6 addresses
// count per /64 network, which one host usually has whole.
class SignInThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        double delay = 2.0;        // seconds after the first wrong passphrase
        int lockoutFailures = 10;  // 0: no lockout
        double lockout = 900.0;
    };
    // Addresses remembered at most; further ones share one record, so filling the table slows
    // the newcomers down together instead of letting anyone start afresh.
    static constexpr size_t kMaxAddresses = 10000;

    explicit SignInThrottle(Settings settings) : settings_(settings) {}

    // Whole seconds `address` must still wait before an attempt; 0 when it may try now.
    long waitBefore(const std::string& address, Clock::time_point now = Clock::now());
    // Records a wrong passphrase; returns the seconds until the address may try again.
    long failed(const std::string& address, Clock::time_point now = Clock::now());
    void succeeded(const std::string& address);

  private:
    struct Record {
        int failures = 0;
        Clock::time_point notBefore;
    };
    // The record of `address`; null when it has none and `create` is false.
    Record* find(const std::string& address, bool create, Clock::time_point now);
    bool forgotten(const Record& record, Clock::time_point now) const;

    Settings settings_;
    std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;
    Record shared_;
};

}  // namespace velmora::service
