#include "settings/WritingStyles.h"

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

}  // namespace velmora
