#pragma once

#include <string>

namespace velmora::platform {

// Whether this session lets Velmora do something, and if not, what the user can do about it, in
// plain words.
struct Capability {
    bool available = true;
    std::string explanation;

    static Capability yes() { return {}; }
    static Capability no(std::string explanation) { return {false, std::move(explanation)}; }
};

}  // namespace velmora::platform
