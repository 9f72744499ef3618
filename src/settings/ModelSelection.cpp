#include "app/AppDelegate.h"
#include "platform/Log.h"

namespace velmora {

void AppDelegate::selectModel(const std::string& name) {
    if (!settingsManager_->isValidModel(name)) {
        logLine("Error: Attempted to select invalid model name: " + name);
        showAlert("Error", "The selected model '" + name + "' is not valid.",
                  platform::AlertStyle::Warning);
        return;
    }
    selectedModel_ = name;
    settingsManager_->saveSelectedModel(name);
    logLine("Model selected: " + name);
}

}  // namespace velmora
