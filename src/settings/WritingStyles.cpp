#include "settings/WritingStyles.h"

#include "app/AppDelegate.h"
#include "platform/Log.h"

namespace velmora {
namespace {

struct FixedStyle {
    const char* key;
    const char* label;
    const char* instruction;
};

constexpr FixedStyle kFixedStyles[] = {
    {kStyleInformal, "Informal",
     "Rewrite this text in an informal writing style. Keep the meaning the same but make it more "
     "casual and conversational."},
    {kStyleCasual, "Casual",
     "Rewrite this text in a casual writing style. Make it relaxed and friendly while preserving "
     "the original meaning."},
    {kStyleConcise, "Concise",
     "Rewrite this text to be more concise. Remove unnecessary words and make it shorter while "
     "keeping all important information."},
};

const FixedStyle* fixedStyle(const std::string& key) {
    for (const auto& style : kFixedStyles) {
        if (key == style.key) {
            return &style;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> styleInstruction(const std::string& key,
                                            const std::optional<std::string>& customInstructions) {
    if (const FixedStyle* style = fixedStyle(key)) {
        return std::string(style->instruction);
    }
    return customInstructions;
}

std::string styleLabel(const std::string& key,
                       const std::optional<std::string>& customInstructions) {
    if (const FixedStyle* style = fixedStyle(key)) {
        return style->label;
    }
    if (key == kStyleCustom && customInstructions && !customInstructions->empty()) {
        return "Custom";
    }
    return "Default";
}

std::optional<std::string> AppDelegate::styleInstruction(const std::string& key) const {
    return velmora::styleInstruction(key, customInstructions_);
}

void AppDelegate::setWritingStyle(const std::string& key) {
    currentWritingStyle_ = key;
    settingsManager_->saveWritingStyle(key);
    logLine("Writing style selected: " + key);
}

}  // namespace velmora
