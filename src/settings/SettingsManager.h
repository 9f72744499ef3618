#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Defaults.h"
#include "settings/AIProvider.h"

namespace velmora {

// Persistence and validation of the user's settings on the defaults store. Caches nothing.
class SettingsManager {
  public:
    SettingsManager(platform::Defaults& defaults, std::vector<AIProvider> providers,
                    std::string defaultModel);

    std::string loadSelectedModel();
    bool isValidModel(const std::optional<std::string>& name) const;
    void saveSelectedModel(const std::string& name);
    std::optional<std::string> loadCustomInstructions();
    void saveCustomInstructions(const std::optional<std::string>& instructions);
    std::string loadWritingStyle();
    void saveWritingStyle(const std::string& key);
    void saveAuthenticationFlag(bool isAuthenticated);

    const std::vector<AIProvider>& providers() const { return providers_; }
    const std::string& defaultModel() const { return defaultModel_; }

  private:
    platform::Defaults& defaults_;
    const std::vector<AIProvider> providers_;
    const std::string defaultModel_;
};

}  // namespace velmora
