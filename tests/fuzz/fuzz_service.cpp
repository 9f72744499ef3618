// The service's input handling: a chat request with a valid token and no model backend gets past
// validation only when it is a well-formed record for the catalog, and a form body decodes to the
// same fields after re-encoding.
#include <unistd.h>

#include <filesystem>

#include "ChatEndpoint.h"
#include "FuzzSupport.h"
#include "SignInPage.h"
#include "api/ProxyWireFormat.h"

using namespace velmora;
using namespace velmora::service;

namespace {

std::string directory;
std::unique_ptr<TokenDatabase> tokens;
std::string token;

void removeDirectory() {
    tokens.reset();
    std::filesystem::remove_all(directory);
}

}  // namespace

// The token database lives in memory-backed storage, so the runs stay fast.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/dev/shm/velmora-fuzz-XXXXXX";
    char fallback[] = "/tmp/velmora-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    directory = made ? made : mkdtemp(fallback);
    std::string error;
    tokens = TokenDatabase::open(directory, &error);
    FUZZ_CHECK(tokens);
    token = tokens->issueToken().value_or("");
    std::atexit(removeDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ServiceConfig config;
    static const ChatEndpoint endpoint(config, *tokens);
    const std::string input(reinterpret_cast<const char*>(data), size);

    const HttpReply reply = endpoint.handle("Bearer " + token, input);
    if (reply.status == 503) {
        const auto request = decodeRequest(input);
        FUZZ_CHECK(request && !request->prompt.empty() && !request->user_instructions.empty());
        FUZZ_CHECK(request->provider == kCatalogProvider &&
                   config.modelMap.contains(request->model));
    } else {
        FUZZ_CHECK(reply.status == 400 || reply.status == 413);
    }

    const std::string bearer = bearerToken(input);
    FUZZ_CHECK(bearer.empty() ? !input.starts_with("Bearer ") || input.size() == 7
                              : input == "Bearer " + bearer);

    const auto fields = parseFormBody(input);
    std::string body;
    for (const auto& [name, value] : fields) {
        body += (body.empty() ? "" : "&") + fuzz::percentEncode(name) + "=" +
                fuzz::percentEncode(value);
    }
    FUZZ_CHECK(parseFormBody(body) == fields);
    return 0;
}
