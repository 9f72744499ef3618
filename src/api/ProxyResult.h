#pragma once

#include <string>
#include <variant>

namespace velmora {

// The rewritten text, trimmed.
struct ProxyAnswer {
    std::string text;
};

// A request that ended without an answer. `message` is the error text the user and the log see
// ("[Error: ...]"); the kind is what the workflow acts on.
struct ProxyError {
    enum class Kind {
        Request,         // failed before anything was sent (no model, bad URL, encoding)
        Authentication,  // the service refused the session token (401, 403)
        HttpStatus,      // any other status outside 2xx
        Network,         // the transport failed
        Decode,          // a 2xx body that is no answer
        Empty,           // an answer with nothing in it but white space
    };
    Kind kind;
    std::string message;
};

// The request was cancelled; nothing else happened.
struct ProxyCancelled {};

// What one chat request delivers, exactly once.
using ProxyResult = std::variant<ProxyAnswer, ProxyError, ProxyCancelled>;

}  // namespace velmora
