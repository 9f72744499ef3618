#include "SignInThrottle.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>

namespace velmora::service {
namespace {

// IPv4 addresses as they are, IPv4-mapped IPv6 ones as IPv4, other IPv6 ones by their /64.
std::string addressKey(const std::string& address) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) {
        return address;
    }
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        char v4[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, v6.s6_addr + 12, v4, sizeof v4);
        return v4;
    }
    return std::string(reinterpret_cast<const char*>(v6.s6_addr), 8) + "/64";
}

long wholeSeconds(SignInThrottle::Clock::duration wait) {
    return static_cast<long>(std::ceil(std::chrono::duration<double>(wait).count()));
}

}  // namespace

bool SignInThrottle::forgotten(const Record& record, Clock::time_point now) const {
    return now >= record.notBefore + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(settings_.lockout));
}

SignInThrottle::Record* SignInThrottle::find(const std::string& address, bool create,
                                             Clock::time_point now) {
    const std::string key = addressKey(address);
    if (auto it = records_.find(key); it != records_.end()) {
        if (!forgotten(it->second, now)) {
            return &it->second;
        }
        records_.erase(it);
    }
    if (records_.size() >= kMaxAddresses) {
        std::erase_if(records_, [&](const auto& entry) { return forgotten(entry.second, now); });
    }
    if (records_.size() >= kMaxAddresses) {
        if (forgotten(shared_, now)) {
            shared_ = {};
        }
        return &shared_;
    }
    return create ? &records_[key] : nullptr;
}

long SignInThrottle::waitBefore(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const Record* record = find(address, false, now);
    return record && now < record->notBefore ? std::max(1L, wholeSeconds(record->notBefore - now))
                                             : 0;
}

long SignInThrottle::failed(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    Record& record = *find(address, true, now);
    ++record.failures;
    const bool locked =
        settings_.lockoutFailures > 0 && record.failures >= settings_.lockoutFailures;
    // Doubling, but never beyond a lockout (or a day, without one).
    const double cap = settings_.lockoutFailures > 0 ? settings_.lockout : 86400.0;
    const double seconds =
        locked ? settings_.lockout
               : std::min(cap, settings_.delay * std::exp2(std::min(record.failures - 1, 40)));
    const auto wait =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    record.notBefore = now + wait;
    return wholeSeconds(wait);
}

void SignInThrottle::succeeded(const std::string& address) {
    std::lock_guard lock(mutex_);
    records_.erase(addressKey(address));
}

}  // namespace velmora::service
