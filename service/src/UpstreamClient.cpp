#include "UpstreamClient.h"

#include <curl/curl.h>

#include <memory>
#include <nlohmann/json.hpp>

namespace velmora::service {
namespace {

using nlohmann::json;

// Reasons travel back to the client as one line of detail text.
std::string oneLine(std::string text, size_t limit = 200) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    if (text.size() > limit) {
        text.resize(limit);
        text += "...";
    }
    return text;
}

UpstreamResult failed(std::string reason) {
    return {UpstreamResult::Status::Failed, oneLine(std::move(reason))};
}

// The backend is the operator's own, but its answer is held whole and read as a document, so
// its size and nesting are bounded all the same.
constexpr size_t kMaxReplyBytes = 8 * 1024 * 1024;
constexpr int kMaxReplyNesting = 64;

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto& reply = *static_cast<std::string*>(target);
    if (reply.size() + size * count > kMaxReplyBytes) {
        return 0;
    }
    reply.append(data, size * count);
    return size * count;
}

// The reply as a document; discarded when it is no JSON or nests deeper than the answer needs.
json parseReply(const std::string& body) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if ((c == '[' || c == '{') && ++depth > kMaxReplyNesting) {
            return json(json::value_t::discarded);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return json::parse(body, nullptr, false);
}

// The upstream's own explanation from an OpenAI-style error body, if it gave one.
std::string upstreamErrorMessage(const std::string& body) {
    const json value = parseReply(body);
    if (!value.is_object()) {
        return {};
    }
    auto error = value.find("error");
    if (error != value.end() && error->is_object()) {
        auto message = error->find("message");
        if (message != error->end() && message->is_string()) {
            return message->get<std::string>();
        }
    }
    if (error != value.end() && error->is_string()) {
        return error->get<std::string>();
    }
    return {};
}

std::string trimmedBase(std::string base) {
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

}  // namespace

std::string completionRequestBody(const std::string& model, const std::string& instruction,
                                  const std::string& prompt) {
    const json body = {{"model", model},
                       {"messages", json::array({{{"role", "system"}, {"content", instruction}},
                                                 {{"role", "user"}, {"content", prompt}}})}};
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

UpstreamResult parseCompletionReply(long httpStatus, const std::string& body) {
    if (httpStatus < 200 || httpStatus > 299) {
        std::string reason =
            "The model backend answered with status " + std::to_string(httpStatus) + ".";
        if (auto message = upstreamErrorMessage(body); !message.empty()) {
            reason += " " + message;
        }
        return failed(reason);
    }
    const json value = parseReply(body);
    const json* content = nullptr;
    if (value.is_object() && value.contains("choices") && value["choices"].is_array() &&
        !value["choices"].empty()) {
        const json& choice = value["choices"][0];
        if (choice.is_object() && choice.contains("message") && choice["message"].is_object() &&
            choice["message"].contains("content")) {
            content = &choice["message"]["content"];
        }
    }
    if (!content || !content->is_string()) {
        return failed("The model backend's answer holds no message content.");
    }
    return {UpstreamResult::Status::Answered, content->get<std::string>()};
}

UpstreamResult requestCompletion(const UpstreamSettings& settings, const std::string& model,
                                 const std::string& instruction, const std::string& prompt) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        return failed("The model backend could not be called.");
    }
    const std::string url = trimmedBase(settings.baseUrl) + "/chat/completions";
    const std::string body = completionRequestBody(model, instruction, prompt);
    std::string reply;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Accept: application/json");
    if (!settings.apiKey.empty()) {
        headers = curl_slist_append(headers, ("Authorization: Bearer " + settings.apiKey).c_str());
    }
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers,
                                                                           curl_slist_free_all);

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    // Signals cannot interrupt a request thread; the deadline covers the whole exchange.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(settings.timeoutSeconds * 1000.0));
    if (!settings.caFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, settings.caFile.c_str());
    }

    const CURLcode code = curl_easy_perform(handle);
    if (code == CURLE_OPERATION_TIMEDOUT) {
        return {UpstreamResult::Status::TimedOut, "The model backend did not answer in time."};
    }
    if (code == CURLE_WRITE_ERROR) {
        return failed("The model backend's answer is larger than 8 MiB.");
    }
    if (code != CURLE_OK) {
        return failed(std::string("The model backend could not be reached: ") +
                      (errorText[0] ? errorText : curl_easy_strerror(code)));
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return parseCompletionReply(status, reply);
}

}  // namespace velmora::service
