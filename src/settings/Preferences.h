#pragma once

#include <optional>
#include <string>

#include "settings/SettingsManager.h"

namespace velmora {

// The user's live choices: the model, the writing style and the custom instructions. Each change
// is written through to the settings store at once.
class Preferences {
  public:
    explicit Preferences(SettingsManager& settings) : settings_(settings) {}

    // Reads the stored choices (the model falls back to a valid one).
    void load();

    const std::optional<std::string>& selectedModel() const { return selectedModel_; }
    const std::optional<std::string>& customInstructions() const { return customInstructions_; }
    const std::string& currentWritingStyle() const { return currentWritingStyle_; }

    // False, with a log line, when the catalog does not list the name; nothing changes then.
    bool selectModel(const std::string& name);
    // Takes any key; callers decide whether the menu follows.
    void setWritingStyle(const std::string& key);
    // Stored exactly as typed; empty text clears them.
    void setCustomInstructions(const std::optional<std::string>& text);

    // The instruction sent with the current style, and its label for the About dialog.
    std::optional<std::string> styleInstruction() const;
    std::string styleLabel() const;

  private:
    SettingsManager& settings_;
    std::optional<std::string> selectedModel_;
    std::optional<std::string> customInstructions_;
    std::string currentWritingStyle_ = "custom";
};

}  // namespace velmora
