#pragma once

#include <memory>
#include <string>
#include <variant>

#include "platform/Application.h"
#include "platform/Http.h"
#include "platform/MainQueue.h"
#include "platform/Workspace.h"

namespace velmora {

enum class AutoUpdateError { versionNotFound = 0, invalidResponse = 1, invalidURL = 2 };

std::string describe(AutoUpdateError error);

// A failure of the platform (transport, JSON parser), with its own description.
struct PlatformError {
    std::string description;
};

using UpdateCheckError = std::variant<AutoUpdateError, PlatformError>;

std::string describe(const UpdateCheckError& error);

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

class AutoUpdateService : public std::enable_shared_from_this<AutoUpdateService> {
  public:
    AutoUpdateService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                      platform::Workspace& workspace, const platform::BundleInfo& bundle,
                      std::string updateURL, std::string versionCheckURL);

    std::weak_ptr<AutoUpdateServiceDelegate> delegate;

    void checkForUpdates();
    void downloadUpdate();

    const std::string& updateURL() const { return updateURL_; }
    const std::string& versionCheckURL() const { return versionCheckURL_; }

  private:
    platform::HttpSession& session_;
    platform::MainQueue& mainQueue_;
    platform::Workspace& workspace_;
    const platform::BundleInfo& bundle_;
    const std::string updateURL_;
    const std::string versionCheckURL_;
};

}  // namespace velmora
