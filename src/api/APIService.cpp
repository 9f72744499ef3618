#include "api/APIService.h"

#include <utility>

#include "api/ProxyWireFormat.h"
#include "app/UnicodeText.h"
#include "app/Url.h"
#include "platform/Log.h"
#include "settings/Catalog.h"

namespace velmora {
namespace {

constexpr double kRequestTimeoutSeconds = 60.0;

// The body as text, when it is UTF-8.
std::optional<std::string> bodyText(const std::optional<std::string>& body) {
    if (!body || !isValidUtf8(*body)) {
        return std::nullopt;
    }
    return *body;
}

// Runs on the session's thread; touches nothing but its arguments.
std::string resultForResponse(const std::optional<std::string>& body,
                              const std::optional<platform::HttpResponse>& response,
                              const std::optional<platform::HttpError>& error) {
    if (error) {
        if (error->code == platform::httpErrorCancelled) {
            logLine("API request was cancelled");
            return "[Error: Request cancelled]";
        }
        logLine("Error: Network request failed: " + error->description);
        return "[Error: Network Failed (" + error->description + ")]";
    }
    if (!response || !response->isHttp) {
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
        if (auto details = bodyText(body); details && !details->empty()) {
            result += " - Details: " + *details;
        }
        return result;
    }
    if (!body) {
        logLine("Error: No data received.");
        return "[Error: No Data Received]";
    }
    std::string decodeError;
    const std::optional<SimpleProxyResponse> decoded = decodeResponse(*body, &decodeError);
    if (!decoded) {
        logLine("Error: Failed to decode JSON response: " + decodeError);
        if (auto raw = bodyText(body)) {
            logLine("Raw Data on Decode Error: " + *raw);
        }
        return "[Error: Decoding Simple Response Failed]";
    }
    std::string trimmed = trimWhitespaceAndNewlines(decoded->response);
    logLine("Successfully received AI response (" + std::to_string(characterCount(trimmed)) +
            " chars).");
    return trimmed;
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
    const std::optional<AIProvider> provider = providerForModel(providers_, model);
    if (!provider) {
        logLine("Error: Could not find provider for selected model '" + model + "'.");
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
    logLine("Using user_instructions: " + instruction);
    logLine("Payload provider: " + provider->slug + ", model: " + model);

    std::string encodeError;
    const std::optional<std::string> body =
        encodeRequest({text, provider->slug, model, instruction}, &encodeError);
    if (!body) {
        logLine("Error: Failed to encode request payload: " + encodeError);
        deliverResult("[Error: Encoding Failed]", std::move(completion));
        return nullptr;
    }
    request.body = *body;

    platform::MainQueue& queue = mainQueue_;
    return session_.startDataTask(
        std::move(request),
        [&queue, completion = std::move(completion)](std::optional<std::string> responseBody,
                                                     std::optional<platform::HttpResponse> response,
                                                     std::optional<platform::HttpError> error) {
            std::string result = resultForResponse(responseBody, response, error);
            queue.async([result = std::move(result), completion] { completion(result); });
        });
}

void APIService::deliverResult(std::string result, Completion completion) {
    mainQueue_.async(
        [result = std::move(result), completion = std::move(completion)] { completion(result); });
}

}  // namespace velmora
