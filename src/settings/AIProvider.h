#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct AIProvider {
    std::string name;
    std::string slug;
    std::optional<std::string> logoSystemName;
    std::vector<std::string> models;

    bool operator==(const AIProvider&) const = default;
};

}  // namespace velmora
