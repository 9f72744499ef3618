#include "api/APIService.h"

#include <utility>

#include "api/ProxyWireFormat.h"
#include "base/Log.h"
#include "base/UnicodeText.h"
#include "base/Url.h"
#include "settings/Catalog.h"

namespace velmora {
namespace {

constexpr double kRequestTimeoutSeconds = 60.0;

ProxyError failure(ProxyError::Kind kind, std::string message) {
    return ProxyError{kind, std::move(message)};
}

ProxyResult resultForReply(platform::HttpReply reply) {
    const std::string status = std::to_string(reply.statusCode);
    if (reply.statusCode == 401 || reply.statusCode == 403) {
        logLine("Error: Authentication error (" + status + ").");
        return failure(ProxyError::Kind::Authentication,
                       "[Error: Authentication Failed (" + status + ")]");
    }
    if (reply.statusCode < 200 || reply.statusCode > 299) {
        logLine("Error: HTTP status code " + status);
        std::string message = "[Error: HTTP " + status + "]";
        if (!reply.body.empty() && isValidUtf8(reply.body)) {
            message += " - Details: " + reply.body;
        }
        return failure(ProxyError::Kind::HttpStatus, std::move(message));
    }
    std::string decodeError;
    auto decoded = decodeResponse(reply.body, &decodeError);
    if (!decoded) {
        logLine("Error: Failed to decode JSON response: " + forLog(decodeError));
        if (isValidUtf8(reply.body)) {
            logLine("Raw Data on Decode Error: " + forLog(reply.body));
        }
        return failure(ProxyError::Kind::Decode, "[Error: Decoding Simple Response Failed]");
    }
    // The reply's bytes are of no further use; the answer is all that travels on, trimmed where
    // it lies.
    reply.body = std::string();
    std::string text = std::move(decoded->response);
    trimWhitespaceAndNewlinesInPlace(text);
    logLine("Successfully received AI response (" + std::to_string(characterCount(text)) +
            " chars).");
    // An empty answer pasted would delete the selection: it is a failure like any other.
    if (text.empty()) {
        return failure(ProxyError::Kind::Empty, "[Error: Empty Response]");
    }
    return ProxyAnswer{std::move(text)};
}

// Runs on the session's background thread: it reads only its argument and returns the one
// result, logging as it goes.
ProxyResult resultFor(platform::HttpResult outcome) {
    if (auto* reply = std::get_if<platform::HttpReply>(&outcome)) {
        return resultForReply(std::move(*reply));
    }
    const auto& error = std::get<platform::HttpError>(outcome);
    if (error.cancelled) {
        logLine("API request was cancelled");
        return ProxyCancelled{};
    }
    logLine("Error: Network request failed: " + forLog(error.description));
    return failure(ProxyError::Kind::Network,
                   "[Error: Network Failed (" + error.description + ")]");
}

}  // namespace

APIService::APIService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                       std::string localProxyEndpoint, std::vector<AIProvider> providers)
    : session_(session),
      mainQueue_(mainQueue),
      localProxyEndpoint_(std::move(localProxyEndpoint)),
      providers_(std::move(providers)) {}

std::unique_ptr<platform::HttpTask> APIService::callLocalProxy(
    const std::string& text, const std::string& model,
    const std::optional<std::string>& userInstructions, const std::optional<std::string>& authToken,
    Completion completion) {
    if (model.empty()) {
        logLine("Error: No model selected for AI call.");
        deliverResult(failure(ProxyError::Kind::Request, "[Error: No Model Selected]"),
                      std::move(completion));
        return nullptr;
    }
    const auto provider = providerForModel(providers_, model);
    if (!provider) {
        logLine("Error: Could not find provider for selected model '" + forLog(model) + "'.");
        deliverResult(
            failure(ProxyError::Kind::Request, "[Error: Unknown provider for model " + model + "]"),
            std::move(completion));
        return nullptr;
    }
    logLine("Calling Local Proxy with Provider: " + provider->slug + ", Model: " + model + "...");

    if (!Url::parse(localProxyEndpoint_)) {
        logLine("Error: Invalid local proxy endpoint URL");
        deliverResult(failure(ProxyError::Kind::Request, "[Error: Invalid URL]"),
                      std::move(completion));
        return nullptr;
    }
    platform::HttpRequest request;
    request.url = localProxyEndpoint_;
    request.method = "POST";
    request.headers.emplace_back("Content-Type", "application/json");
    if (authToken) {
        request.headers.emplace_back("Authorization", "Bearer " + *authToken);
    }
    request.timeoutSeconds = kRequestTimeoutSeconds;

    const std::string instruction =
        userInstructions && !userInstructions->empty() ? *userInstructions : kDefaultInstruction;
    logLine("Using user_instructions: " + forLog(instruction));
    logLine("Payload provider: " + provider->slug + ", model: " + model);

    std::string encodeError;
    auto body = encodeRequest(LocalProxyRequestPayload{text, provider->slug, model, instruction},
                              &encodeError);
    if (!body) {
        logLine("Error: Failed to encode request payload: " + encodeError);
        deliverResult(failure(ProxyError::Kind::Request, "[Error: Encoding Failed]"),
                      std::move(completion));
        return nullptr;
    }
    request.body = std::move(*body);

    // The handler captures only the queue and the caller's completion, so the service keeps no
    // per-request state and overlapping calls stay independent.
    platform::MainQueue& mainQueue = mainQueue_;
    return session_.startDataTask(
        std::move(request),
        [&mainQueue, completion = std::move(completion)](platform::HttpResult outcome) mutable {
            deliverResult(mainQueue, resultFor(std::move(outcome)), std::move(completion));
        });
}

void APIService::deliverResult(ProxyResult result, Completion completion) {
    deliverResult(mainQueue_, std::move(result), std::move(completion));
}

void APIService::deliverResult(platform::MainQueue& mainQueue, ProxyResult result,
                               Completion completion) {
    mainQueue.async([result = std::move(result), completion = std::move(completion)]() mutable {
        completion(std::move(result));
    });
}

}  // namespace velmora
