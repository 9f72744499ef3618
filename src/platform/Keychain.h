#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecAuthFailed = -25293;
// Any other failure of the secret store (no service on the bus, I/O errors ...).
inline constexpr OSStatus errSecServiceNotAvailable = -25308;

// A generic-password item is identified by its service and account.
struct KeychainIdentity {
    std::string service;
    std::string account;
};

enum class KeychainAccessibility { WhenUnlocked };

// The secret store, shaped after the item operations the token store relies on: every call
// answers a status; errSecItemNotFound when no item has the identity.
class Keychain {
  public:
    using Bytes = std::vector<std::uint8_t>;

    virtual ~Keychain() = default;
    // Replaces the value of an existing item.
    virtual OSStatus update(const KeychainIdentity& identity, const Bytes& value) = 0;
    // Creates the item; the accessibility class is set only here.
    virtual OSStatus add(const KeychainIdentity& identity, const Bytes& value,
                         KeychainAccessibility accessibility) = 0;
    // Returns one item's value. On success `result` holds the value's bytes, or none when the
    // store answered with something that is not a byte buffer.
    virtual OSStatus copyMatching(const KeychainIdentity& identity,
                                  std::optional<Bytes>& result) = 0;
    virtual OSStatus remove(const KeychainIdentity& identity) = 0;
    // A human-readable message for a status, or none.
    virtual std::optional<std::string> errorMessage(OSStatus status) = 0;
};

}  // namespace velmora::platform
