// The process's HTTPS session: one worker thread drives a libcurl multi handle, whose connection
// cache keeps TLS connections open between requests.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "api/ServiceEndpoints.h"
#include "platform/linux/CurlHttpSession.h"

namespace velmora::desktop {
namespace {

// The service's own limit: more comes only from a broken or hostile server.
constexpr std::size_t kMaxResponseBodyBytes = kMaxServiceAnswerBytes;
constexpr const char* kBodyTooLargeDescription = "The response body is larger than the 8 MiB limit";
// Room left in front of a body, so that passing it on with a few bytes ahead of it (the helper's
// frame head) moves it rather than copies it.
constexpr std::size_t kBodyHeadroom = 64;
// A warm-up that has not finished by then is given up, and the requests behind it go ahead.
constexpr long kWarmUpLimitMs = 10 * 1000;

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// CURLOPT_CAINFO replaces the default bundle, so the extra anchors are appended to the system
// bundle and handed over as one in-memory bundle: both are trusted.
std::optional<std::string> combinedCertificateBundle() {
    const std::string extraFile = extraCertificateAuthorityFile();
    if (extraFile.empty()) {
        return std::nullopt;
    }
    std::string bundle;
    if (CURL* probe = curl_easy_init()) {
        char* systemBundle = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &systemBundle) == CURLE_OK && systemBundle) {
            bundle = readFile(systemBundle).value_or("");
        }
        curl_easy_cleanup(probe);
    }
    if (bundle.empty()) {
        bundle = readFile("/etc/ssl/certs/ca-certificates.crt").value_or("");
    }
    bundle += "\n";
    bundle += readFile(extraFile).value_or("");
    return bundle;
}

struct Transfer {
    std::uint64_t id = 0;
    platform::HttpRequest request;
    platform::HttpSession::Completion completion;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::string body;
    bool bodyTooLarge = false;
    // Only opens a connection for later requests to reuse.
    bool warmUp = false;
    bool bodySized = false;
    // Stall detection: the time of the last byte moved either way.
    double stallLimitSeconds = 60.0;
    curl_off_t bytesMoved = 0;
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
    bool stalled = false;
    // Shared with the task handle, so a cancel is seen even before the worker takes the transfer.
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (easy) {
            curl_easy_cleanup(easy);
        }
        curl_slist_free_all(headers);
    }
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    if (transfer.cancelled->load()) {
        return CURL_WRITEFUNC_ERROR;
    }
    if (transfer.warmUp) {
        return length;
    }
    // The announced size is taken at its word: too large, the reply is refused before it is
    // read; within the limit, the body is held once, at that size.
    curl_off_t announced = -1;
    if (!std::exchange(transfer.bodySized, true) &&
        curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
            CURLE_OK &&
        announced > 0) {
        if (static_cast<std::size_t>(announced) > kMaxResponseBodyBytes) {
            transfer.bodyTooLarge = true;
            return CURL_WRITEFUNC_ERROR;
        }
        transfer.body.reserve(static_cast<std::size_t>(announced) + kBodyHeadroom);
    }
    if (transfer.body.size() + length > kMaxResponseBodyBytes) {
        transfer.bodyTooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    transfer.body.append(data, length);
    return length;
}

// Stops a cancelled transfer at once, and one in which no byte moved for the whole time limit.
// (libcurl's own low-speed check averages over a window and fires seconds late.)
int onProgress(void* context, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.cancelled->load()) {
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (downloaded + uploaded != transfer.bytesMoved) {
        transfer.bytesMoved = downloaded + uploaded;
        transfer.lastProgress = now;
        return 0;
    }
    if (std::chrono::duration<double>(now - transfer.lastProgress).count() >=
        transfer.stallLimitSeconds) {
        transfer.stalled = true;
        return 1;
    }
    return 0;
}

constexpr int kIdleWaitMs = 24 * 60 * 60 * 1000;

// "https://host:port" of a URL: what a connection is kept for.
std::string_view originOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    const std::size_t path =
        scheme == std::string_view::npos ? url.size() : url.find('/', scheme + 3);
    return url.substr(0, path);
}

std::string stallDescription(double seconds) {
    char text[96];
    std::snprintf(text, sizeof text, "Operation timed out after %g seconds without progress",
                  seconds);
    return text;
}

// State shared by the session, its worker and the task handles (which may outlive the session).
class Core {
  public:
    Core(double timeoutSeconds, double totalLimitSeconds)
        : timeoutSeconds_(timeoutSeconds),
          totalLimitSeconds_(totalLimitSeconds),
          multi_(curl_multi_init()),
          caBundle_(combinedCertificateBundle()) {}

    ~Core() { curl_multi_cleanup(multi_); }

    std::uint64_t submit(std::unique_ptr<Transfer> transfer) {
        std::uint64_t id;
        {
            std::lock_guard lock(mutex_);
            id = transfer->id = nextId_++;
            submitted_.push_back(std::move(transfer));
        }
        curl_multi_wakeup(multi_);
        return id;
    }

    void cancel(std::uint64_t id) {
        {
            std::lock_guard lock(mutex_);
            cancelRequests_.push_back(id);
        }
        curl_multi_wakeup(multi_);
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        curl_multi_wakeup(multi_);
    }

    void run() {
        while (takeCommands()) {
            int running = 0;
            curl_multi_perform(multi_, &running);
            finishCompleted();
            // Idle, the worker sleeps until a request or a cancel wakes it; with transfers in
            // flight it looks once a second for one that has stopped making progress.
            curl_multi_poll(multi_, nullptr, 0, active_.empty() ? kIdleWaitMs : 1000, nullptr);
        }
        for (auto& [easy, transfer] : active_) {
            curl_multi_remove_handle(multi_, easy);
        }
        active_.clear();
        waiting_.clear();
    }

  private:
    // Starts new transfers and ends cancelled ones; false once the session is going away.
    bool takeCommands() {
        std::vector<std::unique_ptr<Transfer>> submitted;
        std::vector<std::uint64_t> cancels;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return false;
            }
            submitted.swap(submitted_);
            cancels.swap(cancelRequests_);
        }
        for (auto& transfer : submitted) {
            start(std::move(transfer));
        }
        for (std::uint64_t id : cancels) {
            const auto waiting =
                std::find_if(waiting_.begin(), waiting_.end(),
                             [id](const auto& transfer) { return transfer->id == id; });
            if (waiting != waiting_.end()) {
                auto transfer = std::move(*waiting);
                waiting_.erase(waiting);
                finish(*transfer, CURLE_ABORTED_BY_CALLBACK);
                continue;
            }
            auto it = std::find_if(active_.begin(), active_.end(),
                                   [id](const auto& entry) { return entry.second->id == id; });
            if (it == active_.end()) {
                continue;  // already finished: the cancel comes too late to matter
            }
            auto transfer = std::move(it->second);
            active_.erase(it);
            curl_multi_remove_handle(multi_, transfer->easy);
            finish(*transfer, CURLE_ABORTED_BY_CALLBACK);
        }
        return true;
    }

    void start(std::unique_ptr<Transfer> transfer) {
        if (transfer->cancelled->load()) {
            finish(*transfer, CURLE_ABORTED_BY_CALLBACK);
            return;
        }
        // A request to where a connection is being opened waits for it rather than open one
        // more beside it; a second warm-up there has nothing to add.
        if (warmingUp(originOf(transfer->request.url))) {
            if (!transfer->warmUp) {
                waiting_.push_back(std::move(transfer));
            }
            return;
        }
        transfer->easy = curl_easy_init();
        if (!transfer->easy) {
            finish(*transfer, CURLE_OUT_OF_MEMORY);
            return;
        }
        configure(*transfer);
        if (curl_multi_add_handle(multi_, transfer->easy) != CURLM_OK) {
            finish(*transfer, CURLE_FAILED_INIT);
            return;
        }
        CURL* easy = transfer->easy;
        active_.emplace(easy, std::move(transfer));
    }

    bool warmingUp(std::string_view origin) const {
        return std::any_of(active_.begin(), active_.end(), [origin](const auto& entry) {
            return entry.second->warmUp && originOf(entry.second->request.url) == origin;
        });
    }

    void configure(Transfer& transfer) {
        CURL* easy = transfer.easy;
        const platform::HttpRequest& request = transfer.request;
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.maxRedirects > 0 ? 1L : 0L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(request.maxRedirects));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (caBundle_) {
            curl_blob blob{const_cast<char*>(caBundle_->data()), caBundle_->size(),
                           CURL_BLOB_NOCOPY};
            curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        }
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorBuffer);

        // The timeout counts time without progress: connecting (TLS included) may take that long,
        // and so may any stretch in which no byte moves.
        const double timeout = std::min(timeoutSeconds_, request.timeoutSeconds);
        transfer.stallLimitSeconds = timeout;
        transfer.lastProgress = std::chrono::steady_clock::now();
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::max(1.0, timeout * 1000.0)));
        // A backstop that also keeps libcurl waking up while a transfer is idle.
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(std::max(1.0, std::ceil(timeout))));
        // A reply that trickles a byte now and then never stalls; this ends it all the same.
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(totalLimitSeconds_ * 1000.0));

        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

        if (transfer.warmUp) {
            curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kWarmUpLimitMs);
        }
        if (request.method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
        } else if (request.method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        // A POST always gets its fields: without them libcurl would read the body from stdin.
        if (request.body || request.method == "POST") {
            const char* body = request.body ? request.body->data() : "";
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body ? request.body->size() : 0));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
        }
        for (const auto& [name, value] : request.headers) {
            // "Name;" is libcurl's way of sending a header with an empty value.
            const std::string line = value.empty() ? name + ";" : name + ": " + value;
            transfer.headers = curl_slist_append(transfer.headers, line.c_str());
        }
        // The body goes out at once, without waiting for a "100 Continue".
        transfer.headers = curl_slist_append(transfer.headers, "Expect:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    }

    void finishCompleted() {
        int remaining = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &remaining)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            auto it = active_.find(message->easy_handle);
            if (it == active_.end()) {
                continue;
            }
            const CURLcode code = message->data.result;
            auto transfer = std::move(it->second);
            active_.erase(it);
            curl_multi_remove_handle(multi_, transfer->easy);
            finish(*transfer, code);
            if (transfer->warmUp) {
                auto waiting = std::move(waiting_);
                waiting_.clear();
                for (auto& next : waiting) {
                    start(std::move(next));
                }
            }
        }
    }

    // Reports the outcome, once. A cancel that arrived before this point wins.
    static void finish(Transfer& transfer, CURLcode code) {
        auto completion = std::move(transfer.completion);
        if (transfer.cancelled->load()) {
            completion(platform::HttpError{true, "cancelled"});
            return;
        }
        if (transfer.bodyTooLarge) {
            completion(platform::HttpError{false, kBodyTooLargeDescription});
            return;
        }
        if (transfer.stalled) {
            completion(platform::HttpError{false, stallDescription(transfer.stallLimitSeconds)});
            return;
        }
        if (code != CURLE_OK) {
            const std::string description =
                transfer.errorBuffer[0] ? transfer.errorBuffer : curl_easy_strerror(code);
            completion(platform::HttpError{false, description});
            return;
        }
        long status = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status <= 0) {
            completion(platform::HttpError{false, "The server's answer was not HTTP"});
            return;
        }
        completion(platform::HttpReply{static_cast<int>(status), std::move(transfer.body)});
    }

    const double timeoutSeconds_;
    const double totalLimitSeconds_;
    CURLM* const multi_;
    const std::optional<std::string> caBundle_;

    std::mutex mutex_;
    std::vector<std::unique_ptr<Transfer>> submitted_;
    std::vector<std::uint64_t> cancelRequests_;
    std::uint64_t nextId_ = 1;
    bool stopping_ = false;

    // Worker thread only.
    std::map<CURL*, std::unique_ptr<Transfer>> active_;
    std::vector<std::unique_ptr<Transfer>> waiting_;
};

class CurlTask : public platform::HttpTask {
  public:
    CurlTask(std::weak_ptr<Core> core, std::shared_ptr<std::atomic<bool>> cancelled,
             std::uint64_t id)
        : core_(std::move(core)), cancelled_(std::move(cancelled)), id_(id) {}

    void cancel() override {
        cancelled_->store(true);
        if (auto core = core_.lock()) {
            core->cancel(id_);
        }
    }

  private:
    std::weak_ptr<Core> core_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::uint64_t id_;
};

class CurlHttpSession : public platform::HttpSession {
  public:
    CurlHttpSession(double timeoutSeconds, double totalLimitSeconds)
        : core_(std::make_shared<Core>(timeoutSeconds, totalLimitSeconds)),
          worker_([core = core_] { core->run(); }) {}

    ~CurlHttpSession() override {
        core_->stop();
        worker_.join();
    }

    std::unique_ptr<platform::HttpTask> startDataTask(platform::HttpRequest request,
                                                      Completion completion) override {
        auto transfer = std::make_unique<Transfer>();
        transfer->request = std::move(request);
        transfer->completion = std::move(completion);
        auto cancelled = transfer->cancelled;
        const std::uint64_t id = core_->submit(std::move(transfer));
        return std::make_unique<CurlTask>(core_, std::move(cancelled), id);
    }

    // Opens a connection to the URL's server with an OPTIONS request, which leaves it in the
    // cache for the request to come. (OPTIONS, not HEAD: a server that wrongly sends a body after
    // its answer to HEAD leaves bytes behind that make the connection useless.)
    void prepare(const std::string& url) override {
        auto transfer = std::make_unique<Transfer>();
        transfer->request.method = "OPTIONS";
        transfer->request.url = url;
        transfer->warmUp = true;
        transfer->completion = [](platform::HttpResult) {};
        core_->submit(std::move(transfer));
    }

  private:
    std::shared_ptr<Core> core_;
    std::thread worker_;
};

}  // namespace

std::unique_ptr<platform::HttpSession> makeHttpSession(double timeoutSeconds,
                                                       double totalLimitSeconds) {
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return std::make_unique<CurlHttpSession>(timeoutSeconds, totalLimitSeconds);
}

}  // namespace velmora::desktop
