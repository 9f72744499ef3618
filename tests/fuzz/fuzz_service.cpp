// The service's input handling: a chat request body passes the reading only when it is a
// well-formed record for the catalog (and then, with no model backend, is answered 503), and a
// form body decodes to the same fields after re-encoding.
#include "ChatEndpoint.h"
#include "FuzzSupport.h"
#include "SignInPage.h"
#include "api/ProxyWireFormat.h"

using namespace velmora;
using namespace velmora::service;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ServiceConfig config;
    static const ChatEndpoint endpoint(config);
    const std::string input(reinterpret_cast<const char*>(data), size);

    LocalProxyRequestPayload read;
    const HttpReply reply = endpoint.read(input, read).value_or(ChatEndpoint::noBackend());
    if (reply.status == 503) {
        const auto request = decodeRequest(input);
        FUZZ_CHECK(request && !request->prompt.empty() && !request->user_instructions.empty());
        FUZZ_CHECK(request->provider == kCatalogProvider &&
                   config.modelMap.contains(request->model));
        FUZZ_CHECK(read.prompt == request->prompt && read.model == request->model);
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
