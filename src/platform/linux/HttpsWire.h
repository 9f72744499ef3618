#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "api/ServiceEndpoints.h"
#include "platform/Http.h"

// The frames between Velmora and its HTTPS helper process, over a stream socket: each frame is a
// 32-bit length and then its fields, every string length-prefixed, so bodies travel byte for byte.
namespace velmora::desktop::wire {

// Velmora to the helper: start a request, cancel one, or get the way to a URL ready.
struct Start {
    std::uint64_t id = 0;
    platform::HttpRequest request;
};

struct Cancel {
    std::uint64_t id = 0;
};

struct Prepare {
    std::string url;
};

// The helper to Velmora: the outcome of a request, or word that it is still at work on some.
struct Done {
    std::uint64_t id = 0;
    platform::HttpResult result;
};

struct Alive {};

using Frame = std::variant<Start, Cancel, Prepare, Done, Alive>;

// The longest frame each side reads. Velmora's requests stay far below theirs; an answer holds
// at most the service's largest body and a few fields.
inline constexpr std::size_t kMaxRequestFrameBytes = 64u * 1024u * 1024u;
inline constexpr std::size_t kMaxAnswerFrameBytes = kMaxServiceAnswerBytes + 64u * 1024u;

// The helper ends an exchange that moves no byte for the request's timeout, and one that takes
// longer than this in all. While it has requests, it sends Alive at least once a second.
inline constexpr double kExchangeLimitSeconds = 300.0;
inline constexpr double kAliveIntervalSeconds = 1.0;

// A frame as bytes, its length prefix included. A body (a request's, a reply's) is the frame's
// last field and is moved into the bytes, not copied.
std::string encode(Frame frame);

// Cuts a byte stream into frames. Each frame's bytes are held once, in memory of the size its
// length announces, and a body is moved out of them.
class FrameReader {
  public:
    explicit FrameReader(std::size_t maxFrameBytes) : maxFrameBytes_(maxFrameBytes) {}

    // Takes the next bytes of the stream. False once the stream has held something that is no
    // frame (a length over the limit, an unknown kind, fields that do not add up); nothing more
    // is taken after that.
    bool append(std::string_view bytes);
    // The oldest whole frame not yet taken.
    std::optional<Frame> next();

  private:
    std::size_t maxFrameBytes_;
    char length_[4] = {};
    std::size_t lengthBytes_ = 0;
    std::optional<std::string> payload_;
    std::size_t payloadSize_ = 0;
    std::deque<Frame> frames_;
    bool broken_ = false;
};

}  // namespace velmora::desktop::wire
