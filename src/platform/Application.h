#pragma once

#include <optional>
#include <string>

namespace velmora::platform {

enum class ActivationPolicy { Regular, Accessory };

// The application object.
class Application {
  public:
    virtual ~Application() = default;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // Asks the application to end; the delegate's shutdown runs before the process exits.
    virtual void terminate() = 0;
};

// The running program's bundle information.
class BundleInfo {
  public:
    virtual ~BundleInfo() = default;
    // The release version ("1.4.0"), or none.
    virtual std::optional<std::string> shortVersionString() const = 0;
};

}  // namespace velmora::platform
