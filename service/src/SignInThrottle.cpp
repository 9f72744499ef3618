#include "SignInThrottle.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace velmora::service {

std::vector<std::string> throttleKeys(const std::string& address) {
    in6_addr v6{};
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) != 1) {
        if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) {
            return {};
        }
        if (!IN6_IS_ADDR_V4MAPPED(&v6)) {
            std::vector<std::string> keys;
            for (int bits : {64, 48, 32}) {
                in6_addr net{};
                std::memcpy(net.s6_addr, v6.s6_addr, bits / 8);
                char text[INET6_ADDRSTRLEN] = {};
                inet_ntop(AF_INET6, &net, text, sizeof text);
                keys.push_back(std::string(text) + "/" + std::to_string(bits));
            }
            return keys;
        }
        std::memcpy(&v4, v6.s6_addr + 12, 4);
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &v4, text, sizeof text);
    in_addr net = v4;
    reinterpret_cast<unsigned char*>(&net)[3] = 0;
    char wide[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &net, wide, sizeof wide);
    return {text, std::string(wide) + "/24"};
}

double SignInThrottle::wallClock() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

long SignInThrottle::waitBefore(const std::string& address, double now) {
    double wait = 0;
    table_.transaction([&] {
        for (const std::string& key : throttleKeys(address)) {
            if (auto record = table_.get(key); record && !forgotten(*record, now)) {
                wait = std::max(wait, record->notBefore - now);
            }
        }
    });
    return wait > 0 ? std::max(1L, static_cast<long>(std::ceil(wait))) : 0;
}

long SignInThrottle::failed(const std::string& address, double now) {
    const auto keys = throttleKeys(address);
    if (keys.empty()) {
        return 0;
    }
    double seconds = 0;
    table_.transaction([&] {
        std::string key = keys[0];
        auto record = table_.get(key);
        if (record && forgotten(*record, now)) {
            table_.erase(key);
            record.reset();
        }
        if (!record && table_.size() >= settings_.capacity) {
            table_.dropDueBefore(now - settings_.lockout);
        }
        if (!record && table_.size() >= settings_.capacity) {
            // Full: the newcomer counts for its network, which may have a record already.
            for (size_t i = 1; i < keys.size() && !record; ++i) {
                if (auto wider = table_.get(keys[i]); wider && !forgotten(*wider, now)) {
                    key = keys[i];
                    record = wider;
                }
            }
            if (!record) {
                key = keys[1];
                if (!table_.dropOldest(true)) {
                    key = keys.back();
                    table_.dropOldest(false);
                }
            }
        }
        ThrottleRecord updated = record.value_or(ThrottleRecord{});
        ++updated.failures;
        const bool locked =
            settings_.lockoutFailures > 0 && updated.failures >= settings_.lockoutFailures;
        // Doubling, but never beyond a lockout (or a day, without one).
        const double cap = settings_.lockoutFailures > 0 ? settings_.lockout : 86400.0;
        seconds =
            locked ? settings_.lockout
                   : std::min(cap, settings_.delay * std::exp2(std::min(updated.failures - 1, 40)));
        updated.notBefore = now + seconds;
        updated.lastFailure = now;
        table_.put(key, updated);
    });
    return static_cast<long>(std::ceil(seconds));
}

void SignInThrottle::succeeded(const std::string& address) {
    const auto keys = throttleKeys(address);
    if (!keys.empty()) {
        table_.transaction([&] { table_.erase(keys[0]); });
    }
}

void MemoryThrottleTable::transaction(const std::function<void()>& work) {
    std::lock_guard lock(mutex_);
    work();
}

std::optional<ThrottleRecord> MemoryThrottleTable::get(const std::string& key) {
    const auto it = records_.find(key);
    return it == records_.end() ? std::nullopt : std::optional(it->second);
}

void MemoryThrottleTable::put(const std::string& key, const ThrottleRecord& record) {
    records_[key] = record;
}

void MemoryThrottleTable::dropDueBefore(double time) {
    std::erase_if(records_, [time](const auto& entry) { return entry.second.notBefore < time; });
}

bool MemoryThrottleTable::dropOldest(bool singleFailureOnly) {
    auto oldest = records_.end();
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if ((!singleFailureOnly || it->second.failures == 1) &&
            (oldest == records_.end() || it->second.lastFailure < oldest->second.lastFailure)) {
            oldest = it;
        }
    }
    if (oldest == records_.end()) {
        return false;
    }
    records_.erase(oldest);
    return true;
}

}  // namespace velmora::service
