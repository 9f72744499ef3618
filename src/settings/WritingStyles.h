#pragma once

#include <optional>
#include <string>

namespace velmora {

inline constexpr const char* kStyleCustom = "custom";
inline constexpr const char* kStyleInformal = "informal";
inline constexpr const char* kStyleCasual = "casual";
inline constexpr const char* kStyleConcise = "concise";

// The instruction sent for a style: the fixed text of informal, casual and concise; for any other
// key (custom included) the custom instructions, possibly none.
std::optional<std::string> styleInstruction(const std::string& key,
                                            const std::optional<std::string>& customInstructions);

// The word shown after "Current style: " in the About dialog.
std::string styleLabel(const std::string& key,
                       const std::optional<std::string>& customInstructions);

}  // namespace velmora
