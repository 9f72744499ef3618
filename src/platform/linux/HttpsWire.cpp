#include "platform/linux/HttpsWire.h"

#include <algorithm>
#include <cstring>

namespace velmora::desktop::wire {
namespace {

// Above any answer the HTTPS session lets through (32 MiB), with room for the request's fields.
constexpr std::uint32_t kMaxFrameBytes = 40u * 1024u * 1024u;
constexpr std::uint64_t kMaxRedirects = 20;

enum Tag : std::uint8_t { kStart = 1, kCancel = 2, kDone = 3 };
// What a Done frame carries.
enum Outcome : std::uint8_t { kReply = 1, kCancelled = 2, kFailed = 3 };

class Writer {
  public:
    void u8(std::uint8_t value) { out.push_back(static_cast<char>(value)); }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) {
            u8(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void text(std::string_view value) {
        u64(value.size());
        out.append(value);
    }
    void optionalText(const std::optional<std::string>& value) {
        u8(value.has_value());
        if (value) {
            text(*value);
        }
    }

    std::string out;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}

    bool u8(std::uint8_t& value) {
        if (in_.empty()) {
            return false;
        }
        value = static_cast<std::uint8_t>(in_.front());
        in_.remove_prefix(1);
        return true;
    }
    bool u64(std::uint64_t& value) {
        value = 0;
        std::uint8_t byte = 0;
        for (int shift = 0; shift < 64; shift += 8) {
            if (!u8(byte)) {
                return false;
            }
            value |= std::uint64_t{byte} << shift;
        }
        return true;
    }
    bool text(std::string& value) {
        std::uint64_t size = 0;
        if (!u64(size) || size > in_.size()) {
            return false;
        }
        value.assign(in_.substr(0, size));
        in_.remove_prefix(size);
        return true;
    }
    bool optionalText(std::optional<std::string>& value) {
        std::uint8_t present = 0;
        if (!u8(present)) {
            return false;
        }
        if (present) {
            value.emplace();
            return text(*value);
        }
        return true;
    }
    bool done() const { return in_.empty(); }

  private:
    std::string_view in_;
};

void write(Writer& w, const Start& start) {
    w.u8(kStart);
    w.u64(start.id);
    w.text(start.request.method);
    w.text(start.request.url);
    w.u64(start.request.headers.size());
    for (const auto& [name, value] : start.request.headers) {
        w.text(name);
        w.text(value);
    }
    w.optionalText(start.request.body);
    w.u64(static_cast<std::uint64_t>(start.request.timeoutSeconds * 1000.0));
    w.u64(static_cast<std::uint64_t>(std::max(0, start.request.maxRedirects)));
}

void write(Writer& w, const Cancel& cancel) {
    w.u8(kCancel);
    w.u64(cancel.id);
}

void write(Writer& w, const Done& done) {
    w.u8(kDone);
    w.u64(done.id);
    if (const auto* reply = std::get_if<platform::HttpReply>(&done.result)) {
        w.u8(kReply);
        w.u64(static_cast<std::uint64_t>(reply->statusCode));
        w.text(reply->body);
        return;
    }
    const auto& error = std::get<platform::HttpError>(done.result);
    w.u8(error.cancelled ? kCancelled : kFailed);
    w.text(error.description);
}

std::optional<Frame> read(Reader& r) {
    std::uint8_t tag = 0;
    std::uint64_t id = 0;
    if (!r.u8(tag) || !r.u64(id)) {
        return std::nullopt;
    }
    if (tag == kCancel) {
        return Cancel{id};
    }
    if (tag == kStart) {
        Start start{id, {}};
        std::uint64_t count = 0;
        std::uint64_t timeoutMs = 0;
        std::uint64_t redirects = 0;
        if (!r.text(start.request.method) || !r.text(start.request.url) || !r.u64(count)) {
            return std::nullopt;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            std::string name;
            std::string value;
            if (!r.text(name) || !r.text(value)) {
                return std::nullopt;
            }
            start.request.headers.emplace_back(std::move(name), std::move(value));
        }
        if (!r.optionalText(start.request.body) || !r.u64(timeoutMs) || !r.u64(redirects) ||
            redirects > kMaxRedirects) {
            return std::nullopt;
        }
        start.request.timeoutSeconds = static_cast<double>(timeoutMs) / 1000.0;
        start.request.maxRedirects = static_cast<int>(redirects);
        return start;
    }
    if (tag != kDone) {
        return std::nullopt;
    }
    std::uint8_t kind = 0;
    if (!r.u8(kind)) {
        return std::nullopt;
    }
    if (kind == kReply) {
        std::uint64_t status = 0;
        platform::HttpReply reply;
        if (!r.u64(status) || status < 100 || status > 999 || !r.text(reply.body)) {
            return std::nullopt;
        }
        reply.statusCode = static_cast<int>(status);
        return Done{id, std::move(reply)};
    }
    platform::HttpError error;
    if ((kind != kCancelled && kind != kFailed) || !r.text(error.description)) {
        return std::nullopt;
    }
    error.cancelled = kind == kCancelled;
    return Done{id, std::move(error)};
}

}  // namespace

std::string encode(const Frame& frame) {
    Writer w;
    std::visit([&w](const auto& f) { write(w, f); }, frame);
    const auto size = static_cast<std::uint32_t>(w.out.size());
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(size >> (8 * i));
    }
    return bytes + w.out;
}

std::optional<Frame> decode(std::string& buffer, bool& malformed) {
    malformed = false;
    if (buffer.size() < 4) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) {
        size = (size << 8) | static_cast<std::uint8_t>(buffer[static_cast<std::size_t>(i)]);
    }
    if (size > kMaxFrameBytes) {
        malformed = true;
        return std::nullopt;
    }
    if (buffer.size() < 4 + std::size_t{size}) {
        return std::nullopt;
    }
    Reader r(std::string_view(buffer).substr(4, size));
    std::optional<Frame> frame = read(r);
    malformed = !frame || !r.done();
    buffer.erase(0, 4 + std::size_t{size});
    return malformed ? std::nullopt : frame;
}

}  // namespace velmora::desktop::wire
