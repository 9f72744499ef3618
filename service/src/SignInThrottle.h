#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora::service {

// One throttled address or network: wrong passphrases in a row, when the next attempt is heard
// and when the last wrong one came (Unix seconds).
struct ThrottleRecord {
    int failures = 0;
    double notBefore = 0;
    double lastFailure = 0;
};

// Where the throttle's records live: this process's memory, or the database every replica
// shares. The calls of one throttle step all run inside one `transaction`.
class ThrottleTable {
  public:
    virtual ~ThrottleTable() = default;
    virtual void transaction(const std::function<void()>& work) = 0;
    virtual std::optional<ThrottleRecord> get(const std::string& key) = 0;
    virtual void put(const std::string& key, const ThrottleRecord& record) = 0;
    virtual void erase(const std::string& key) = 0;
    virtual std::size_t size() = 0;
    // Drops the records whose next attempt was due before `time`.
    virtual void dropDueBefore(double time) = 0;
    // Drops the record whose last failure is oldest, among single failures only when asked;
    // false when there was none.
    virtual bool dropOldest(bool singleFailureOnly) = 0;
};

// The records in this process, for one replica.
class MemoryThrottleTable : public ThrottleTable {
  public:
    void transaction(const std::function<void()>& work) override;
    std::optional<ThrottleRecord> get(const std::string& key) override;
    void put(const std::string& key, const ThrottleRecord& record) override;
    void erase(const std::string& key) override { records_.erase(key); }
    std::size_t size() override { return records_.size(); }
    void dropDueBefore(double time) override;
    bool dropOldest(bool singleFailureOnly) override;

  private:
    std::mutex mutex_;
    std::unordered_map<std::string, ThrottleRecord> records_;
};

// Slows passphrase guessing per client address at the guesser's cost, never a thread's: after
// a wrong passphrase the address must wait before its next attempt is even considered, twice as
// long after each further one, and enough wrong ones in a row lock it out. A right passphrase
// forgets the address; so does a quiet spell as long as the lockout. IPv6 addresses count per
// /64 network, which one host usually has whole.
//
// The table holds at most `capacity` records. When it is full, a newcomer's failure counts for
// its wider network (IPv4 /24, IPv6 /48, or /32 when no single failure is left to make room
// for the /48), and room is made by dropping the oldest single-failure record first. A flood
// from many addresses so locks out the networks it comes from, not the newcomers elsewhere.
class SignInThrottle {
  public:
    struct Settings {
        double delay = 2.0;        // seconds after the first wrong passphrase
        int lockoutFailures = 10;  // 0: no lockout
        double lockout = 900.0;
        std::size_t capacity = 10000;
    };

    SignInThrottle(Settings settings, ThrottleTable& table) : settings_(settings), table_(table) {}

    // Whole seconds `address` must still wait before an attempt; 0 when it may try now.
    long waitBefore(const std::string& address, double now = wallClock());
    // Records a wrong passphrase; returns the seconds until the address may try again.
    long failed(const std::string& address, double now = wallClock());
    void succeeded(const std::string& address);

    static double wallClock();

  private:
    bool forgotten(const ThrottleRecord& record, double now) const {
        return now >= record.notBefore + settings_.lockout;
    }

    Settings settings_;
    ThrottleTable& table_;
};

// The key an address is counted under (IPv4 as it is, IPv6 by its /64), then its wider
// networks' keys: IPv4 /24; IPv6 /48 and /32. Empty for something that is no address.
std::vector<std::string> throttleKeys(const std::string& address);

}  // namespace velmora::service
