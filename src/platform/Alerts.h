#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

enum class AlertStyle { Warning = 0, Informational = 1, Critical = 2 };

inline constexpr int alertFirstButtonReturn = 1000;
inline constexpr int alertSecondButtonReturn = 1001;
inline constexpr int alertThirdButtonReturn = 1002;

struct AlertRequest {
    std::string messageText;
    std::string informativeText;
    AlertStyle style = AlertStyle::Warning;
    std::vector<std::string> buttons;  // in order; the first answers 1000
    // A multi-line, undo-capable text field below the texts, focused on open.
    std::optional<std::string> textAccessoryInitialText;
};

struct AlertResponse {
    int button = alertFirstButtonReturn;
    // The text field's text when the alert had one.
    std::optional<std::string> accessoryText;
};

// Modal alerts. `runModal` is called on the main queue and returns when the user has answered;
// the queue is held meanwhile.
class Alerts {
  public:
    virtual ~Alerts() = default;
    virtual AlertResponse runModal(const AlertRequest& request) = 0;
};

}  // namespace velmora::platform
