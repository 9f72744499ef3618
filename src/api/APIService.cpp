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

// Runs on the session's background thread: it reads only its arguments and returns the one result
// text, logging as it goes.
std::string resultForResponse(const std::optional<std::string>& body,
                              const std::optional<platform::HttpResponse>& response,
                              const std::optional<platform::HttpError>& error) {
    if (error) {
        if (error->cancelled) {
            logLine("API request was cancelled");
            return "[Error: Request cancelled]";
        }
        logLine("Error: Network request failed: " + forLog(error->description));
        return "[Error: Network Failed (" + error->description + ")]";
    }
    if (!response) {
        logLine("Error: Invalid HTTP response.");
        return "[Error: Invalid Response (Not HTTP)]";
    }
    const std::string status = std::to_string(response->statusCode);
    if (response->statusCode == 401 || response->statusCode == 403) {
        logLine("Error: Authentication error (" + status + ").");
        return "[Error: Authentication Failed (" + status + ")]";
    }
    if (response->statusCode < 200 || response->statusCode > 299) {
        logLine("Error: HTTP status code " + status);
        std::string result = "[Error: HTTP " + status + "]";
        if (body && !body->empty() && isValidUtf8(*body)) {
            result += " - Details: " + *body;
        }
        return result;
    }
    if (!body) {
        logLine("Error: No data received.");
        return "[Error: No Data Received]";
    }
    std::string decodeError;
    auto decoded = decodeResponse(*body, &decodeError);
    if (!decoded) {
        logLine("Error: Failed to decode JSON response: " + forLog(decodeError));
        if (isValidUtf8(*body)) {
            logLine("Raw Data on Decode Error: " + forLog(*body));
        }
        return "[Error: Decoding Simple Response Failed]";
    }
    std::string text = trimWhitespaceAndNewlines(decoded->response);
    logLine("Successfully received AI response (" + std::to_string(characterCount(text)) +
            " chars).");
    return text;
}

}  // namespace

APIService::APIService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                       std::string localProxyEndpoint, std::vector<AIProvider> providers)
    : session_(session),
      mainQueue_(mainQueue),
      localProxyEndpoint_(std::move(localProxyEndpoint)),
      providers_(std::move(providers)) {}

std::shared_ptr<platform::HttpTask> APIService::callLocalProxy(
    const std::string& text, const std::string& model,
    const std::optional<std::string>& userInstructions, const std::optional<std::string>& authToken,
    Completion completion) {
    if (model.empty()) {
        logLine("Error: No model selected for AI call.");
        deliverResult("[Error: No Model Selected]", std::move(completion));
        return nullptr;
    }
    const auto provider = providerForModel(providers_, model);
    if (!provider) {
        logLine("Error: Could not find provider for selected model '" + forLog(model) + "'.");
        deliverResult("[Error: Unknown provider for model " + model + "]", std::move(completion));
        return nullptr;
    }
    logLine("Calling Local Proxy with Provider: " + provider->slug + ", Model: " + model + "...");

    if (!Url::parse(localProxyEndpoint_)) {
        logLine("Error: Invalid local proxy endpoint URL");
        deliverResult("[Error: Invalid URL]", std::move(completion));
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
        deliverResult("[Error: Encoding Failed]", std::move(completion));
        return nullptr;
    }
    request.body = std::move(*body);

    // The handler captures only the queue and the caller's completion, so the service keeps no
    // per-request state and overlapping calls stay independent.
    platform::MainQueue& mainQueue = mainQueue_;
    return session_.startDataTask(
        std::move(request),
        [&mainQueue, completion = std::move(completion)](
            std::optional<std::string> responseBody, std::optional<platform::HttpResponse> response,
            std::optional<platform::HttpError> error) mutable {
            deliverResult(mainQueue, resultForResponse(responseBody, response, error),
                          std::move(completion));
        });
}

void APIService::deliverResult(std::string result, Completion completion) {
    deliverResult(mainQueue_, std::move(result), std::move(completion));
}

void APIService::deliverResult(platform::MainQueue& mainQueue, std::string result,
                               Completion completion) {
    mainQueue.async(
        [result = std::move(result), completion = std::move(completion)] { completion(result); });
}

}  // namespace velmora
