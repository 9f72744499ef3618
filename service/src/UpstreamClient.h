#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velmora::service {

// Where the model backend is and how to reach it.
struct UpstreamSettings {
    std::string baseUrl;  // e.g. http://127.0.0.1:11434/v1; "/chat/completions" is appended
    std::string apiKey;   // sent as a bearer token when not empty
    std::string caFile;   // extra trust anchors for an https base
    double timeoutSeconds = 55.0;
};

// The outcome of one completion request. `text` is the answer when `status` is Answered and a
// one-line reason otherwise.
struct UpstreamResult {
    enum class Status { Answered, Failed, TimedOut };
    Status status = Status::Failed;
    std::string text;
};

// The backend's answer is held whole and read as a document, so its size is bounded.
inline constexpr std::size_t kMaxUpstreamReplyBytes = 8 * 1024 * 1024;

// Where the chat-completions requests go, read once from the base URL.
struct UpstreamTarget {
    bool tls = false;
    std::string host;  // without brackets
    std::string port;
    std::string hostHeader;  // as the URL gives it
    std::string path;        // the base's path + "/chat/completions"
};
std::optional<UpstreamTarget> parseUpstreamUrl(const std::string& url);

// Builds the chat-completions request body.
std::string completionRequestBody(const std::string& model, const std::string& instruction,
                                  const std::string& prompt);

// Reads the first choice's message content out of a chat-completions reply.
UpstreamResult parseCompletionReply(long httpStatus, const std::string& body);

}  // namespace velmora::service
