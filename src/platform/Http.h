#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace velmora::platform {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    double timeoutSeconds = 60.0;
    // How many redirects to follow, each to an https URL; none by default.
    int maxRedirects = 0;
};

// The server's answer: its status and its body (empty when it sent none).
struct HttpReply {
    int statusCode = 0;
    std::string body;
};

// No answer: the request was cancelled, or the transport failed with its own description.
struct HttpError {
    bool cancelled = false;
    std::string description;
};

using HttpResult = std::variant<HttpReply, HttpError>;

// One request in flight. `cancel` may be called on the main thread at any time; the request then
// completes as cancelled unless it had already completed. Dropping the handle leaves the request
// running.
class HttpTask {
  public:
    virtual ~HttpTask() = default;
    virtual void cancel() = 0;
};

// The process's one HTTP session. The completion runs once per task on the session's own thread.
class HttpSession {
  public:
    using Completion = std::function<void(HttpResult result)>;

    virtual ~HttpSession() = default;
    // Starts the request and returns at once.
    virtual std::unique_ptr<HttpTask> startDataTask(HttpRequest request, Completion completion) = 0;
    // A request to `url` is likely soon: whatever carries it may get ready now (a connection, a
    // process), so that request costs no more than one sent a moment after another.
    virtual void prepare(const std::string& url) { static_cast<void>(url); }
};

}  // namespace velmora::platform
