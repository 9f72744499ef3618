// Placeholder until the Secret Service store lands: nothing is ever stored.
#include "platform/linux/LinuxServices.h"

namespace velmora::desktop {
namespace {

class UnavailableKeychain : public platform::Keychain {
  public:
    platform::OSStatus update(const platform::KeychainIdentity&, const Bytes&) override {
        return platform::errSecServiceNotAvailable;
    }
    platform::OSStatus add(const platform::KeychainIdentity&, const Bytes&,
                           platform::KeychainAccessibility) override {
        return platform::errSecServiceNotAvailable;
    }
    platform::OSStatus copyMatching(const platform::KeychainIdentity&,
                                    std::optional<Bytes>&) override {
        return platform::errSecItemNotFound;
    }
    platform::OSStatus remove(const platform::KeychainIdentity&) override {
        return platform::errSecItemNotFound;
    }
    std::optional<std::string> errorMessage(platform::OSStatus) override { return std::nullopt; }
};

}  // namespace

std::unique_ptr<platform::Keychain> makeSecretServiceKeychain() {
    return std::make_unique<UnavailableKeychain>();
}

}  // namespace velmora::desktop
