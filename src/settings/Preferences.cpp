#include "settings/Preferences.h"

#include "base/Log.h"
#include "settings/WritingStyles.h"

namespace velmora {

void Preferences::load() {
    selectedModel_ = settings_.loadSelectedModel();
    customInstructions_ = settings_.loadCustomInstructions();
    // Taken as stored, also when it is none of the known keys.
    currentWritingStyle_ = settings_.loadWritingStyle();
}

bool Preferences::selectModel(const std::string& name) {
    if (!settings_.isValidModel(name)) {
        logLine("Error: Attempted to select invalid model name: " + forLog(name));
        return false;
    }
    selectedModel_ = name;
    settings_.saveSelectedModel(name);
    logLine("Model selected: " + name);
    return true;
}

void Preferences::setWritingStyle(const std::string& key) {
    currentWritingStyle_ = key;
    settings_.saveWritingStyle(key);
    logLine("Writing style selected: " + key);
}

void Preferences::setCustomInstructions(const std::optional<std::string>& text) {
    customInstructions_ = text && text->empty() ? std::nullopt : text;
    settings_.saveCustomInstructions(customInstructions_);
}

std::optional<std::string> Preferences::styleInstruction() const {
    return velmora::styleInstruction(currentWritingStyle_, customInstructions_);
}

std::string Preferences::styleLabel() const {
    return velmora::styleLabel(currentWritingStyle_, customInstructions_);
}

}  // namespace velmora
