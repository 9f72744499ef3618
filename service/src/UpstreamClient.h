#pragma once

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

// Asks an OpenAI-compatible chat-completions endpoint for one answer to `prompt` under the
// system message `instruction`. Blocks for at most the timeout. Thread-safe; the process must
// have called curl_global_init.
UpstreamResult requestCompletion(const UpstreamSettings& settings, const std::string& model,
                                 const std::string& instruction, const std::string& prompt);

// Builds the chat-completions request body.
std::string completionRequestBody(const std::string& model, const std::string& instruction,
                                  const std::string& prompt);

// Reads the first choice's message content out of a chat-completions reply.
UpstreamResult parseCompletionReply(long httpStatus, const std::string& body);

}  // namespace velmora::service
