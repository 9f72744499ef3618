#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Http.h"

// The frames between Velmora and its HTTPS helper process, over a stream socket: each frame is a
// 32-bit length and then its fields, every string length-prefixed, so bodies travel byte for byte.
namespace velmora::desktop::wire {

struct Start {
    std::uint64_t id = 0;
    platform::HttpRequest request;
};

struct Cancel {
    std::uint64_t id = 0;
};

struct Done {
    std::uint64_t id = 0;
    platform::HttpResult result;
};

using Frame = std::variant<Start, Cancel, Done>;

// A frame as bytes, its length prefix included.
std::string encode(const Frame& frame);

// Takes the first whole frame off the front of `buffer`: none while it holds only part of one.
// `malformed` is set, and none returned, for bytes that are no frame.
std::optional<Frame> decode(std::string& buffer, bool& malformed);

}  // namespace velmora::desktop::wire
