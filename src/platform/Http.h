#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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

struct HttpResponse {
    int statusCode = 0;
};

// A transport failure, with the transport's description.
struct HttpError {
    bool cancelled = false;
    std::string description;
};

// One request in flight. `cancel` may be called on the main thread at any time; the request then
// completes as cancelled unless it had already completed.
class HttpTask {
  public:
    virtual ~HttpTask() = default;
    virtual void cancel() = 0;
};

// The process's one HTTP session. The completion runs once per task on the session's own thread:
// the body (none when nothing was received), the response (none when there was none) and the
// transport error (none on success).
class HttpSession {
  public:
    using Completion =
        std::function<void(std::optional<std::string> body, std::optional<HttpResponse> response,
                           std::optional<HttpError> error)>;

    virtual ~HttpSession() = default;
    // Starts the request and returns at once.
    virtual std::shared_ptr<HttpTask> startDataTask(HttpRequest request, Completion completion) = 0;
};

}  // namespace velmora::platform
