#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

enum class AlertStyle { Warning, Informational, Critical };

struct AlertRequest {
    std::string title;
    std::string message;
    AlertStyle style = AlertStyle::Warning;
    std::vector<std::string> buttons;  // in order; the first is the default
    // A multi-line, undo-capable text field below the message, focused on open, holding this text.
    std::optional<std::string> textField;
};

struct AlertResponse {
    std::size_t button = 0;           // index into the request's buttons
    std::optional<std::string> text;  // the text field's text when the alert had one
};

// Modal alerts. `runModal` is called on the main queue and returns when the user has answered;
// the queue is held meanwhile.
class Alerts {
  public:
    virtual ~Alerts() = default;
    virtual AlertResponse runModal(const AlertRequest& request) = 0;
};

}  // namespace velmora::platform
