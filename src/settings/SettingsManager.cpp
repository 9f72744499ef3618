#include "settings/SettingsManager.h"

#include <utility>

#include "base/Log.h"

namespace velmora {
namespace {

constexpr const char* kSelectedModelKey = "selectedProxyModel";
constexpr const char* kWritingStyleKey = "selectedWritingStyle";
constexpr const char* kCustomInstructionsKey = "customAIInstructions";
constexpr const char* kAuthenticatedKey = "isUserAuthenticated";

}  // namespace

SettingsManager::SettingsManager(platform::Defaults& defaults, std::vector<AIProvider> providers,
                                 std::string defaultModel)
    : defaults_(defaults),
      providers_(std::move(providers)),
      defaultModel_(std::move(defaultModel)) {}

std::string SettingsManager::loadSelectedModel() {
    const std::optional<std::string> stored = defaults_.stringForKey(kSelectedModelKey);
    if (stored && isValidModel(stored)) {
        return *stored;
    }

    const bool defaultIsValid = isValidModel(defaultModel_);
    std::string fallback;
    if (defaultIsValid) {
        fallback = defaultModel_;
    } else if (!providers_.empty() && !providers_.front().models.empty()) {
        fallback = providers_.front().models.front();
    }

    if (stored) {
        logLine("Stored model '" + forLog(*stored) + "' is invalid. Using default: " + fallback);
    }
    if (!defaultIsValid) {
        logLine("CRITICAL WARNING: Default model " + defaultModel_ +
                " is not valid in providers structure. Falling back to " + fallback);
    }
    defaults_.setString(kSelectedModelKey, fallback);
    return fallback;
}

bool SettingsManager::isValidModel(const std::optional<std::string>& name) const {
    if (!name) {
        return false;
    }
    for (const auto& provider : providers_) {
        for (const auto& model : provider.models) {
            if (model == *name) {
                return true;
            }
        }
    }
    return false;
}

void SettingsManager::saveSelectedModel(const std::string& name) {
    defaults_.setString(kSelectedModelKey, name);
    logLine("Saved model: " + name);
}

std::optional<std::string> SettingsManager::loadCustomInstructions() {
    return defaults_.stringForKey(kCustomInstructionsKey);
}

void SettingsManager::saveCustomInstructions(const std::optional<std::string>& instructions) {
    if (!instructions || instructions->empty()) {
        defaults_.removeObject(kCustomInstructionsKey);
    } else {
        defaults_.setString(kCustomInstructionsKey, *instructions);
    }
    logLine("Saved custom instructions. Current: " +
            (instructions ? forLog(*instructions) : std::string("Using default")));
}

std::string SettingsManager::loadWritingStyle() {
    return defaults_.stringForKey(kWritingStyleKey).value_or("custom");
}

void SettingsManager::saveWritingStyle(const std::string& key) {
    defaults_.setString(kWritingStyleKey, key);
    logLine("Saved writing style: " + key);
}

void SettingsManager::saveAuthenticationFlag(bool isAuthenticated) {
    defaults_.setBool(kAuthenticatedKey, isAuthenticated);
    logLine(std::string("Saved authentication flag to UserDefaults: ") +
            (isAuthenticated ? "true" : "false"));
}

}  // namespace velmora
