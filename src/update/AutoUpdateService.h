#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "base/WeakScope.h"
#include "platform/Application.h"
#include "platform/Http.h"
#include "platform/MainQueue.h"

namespace velmora {

enum class AutoUpdateError { versionNotFound = 0, invalidResponse = 1, invalidURL = 2 };

std::string describe(AutoUpdateError error);

// A failure of the platform (transport, JSON parser), with its own description.
struct PlatformError {
    std::string description;
};

using UpdateCheckError = std::variant<AutoUpdateError, PlatformError>;

std::string describe(const UpdateCheckError& error);

// What one reply to the version document amounts to.
struct CheckOutcome {
    enum class Kind { available, current, failed };
    Kind kind;
    std::string version;  // the newest version when available, the running one when current
    UpdateCheckError error{AutoUpdateError::invalidResponse};
};

CheckOutcome evaluateVersionReply(const platform::HttpResult& reply,
                                  const std::string& runningVersion);

class AutoUpdateServiceDelegate {
  public:
    virtual ~AutoUpdateServiceDelegate() = default;
    virtual void updateAvailable(const std::string& newestVersion) = 0;
    virtual void noUpdateAvailable(const std::string& runningVersion) = 0;
    virtual void updateCheckFailed(const UpdateCheckError& error) = 0;
};

// Compares with the numeric rule: digit runs by value, anything else by character code, a prefix
// orders first. Negative, zero or positive like strcmp.
int compareVersionsNumerically(const std::string& a, const std::string& b);

// Fetches the version document, compares it with the running version and reports the outcome to
// its delegate on the main queue.
class AutoUpdateService {
  public:
    AutoUpdateService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                      platform::Application& application, AutoUpdateServiceDelegate& delegate,
                      std::string updateURL, std::string versionCheckURL);

    void checkForUpdates();
    void downloadUpdate();

  private:
    platform::HttpSession& session_;
    platform::MainQueue& mainQueue_;
    platform::Application& application_;
    AutoUpdateServiceDelegate& delegate_;
    const std::string updateURL_;
    const std::string versionCheckURL_;
    WeakScope scope_;
};

}  // namespace velmora
