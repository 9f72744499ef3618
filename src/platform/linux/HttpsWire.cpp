#include "platform/linux/HttpsWire.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmora::desktop::wire {
namespace {

constexpr std::uint64_t kMaxRedirects = 20;
// A day: any timeout beyond it is no request of Velmora's.
constexpr std::uint64_t kMaxTimeoutMs = 24u * 60u * 60u * 1000u;

enum Tag : std::uint8_t { kStart = 1, kCancel = 2, kDone = 3, kPrepare = 4, kAlive = 5 };
// What a Done frame carries.
enum Outcome : std::uint8_t { kReply = 1, kCancelled = 2, kFailed = 3 };

// Writes the fields after a room for the length; the last field may be a body taken whole.
class Writer {
  public:
    void u8(std::uint8_t value) { out_.push_back(static_cast<char>(value)); }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) {
            u8(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void text(std::string_view value) {
        u64(value.size());
        out_.append(value);
    }
    std::string finish() {
        setLength(out_.size() - 4);
        return std::move(out_);
    }
    // The fields so far, then `last` as a text field, in front of which they are put.
    std::string finishWith(std::string last) {
        u64(last.size());
        setLength(out_.size() - 4 + last.size());
        last.insert(0, out_);
        return last;
    }

  private:
    void setLength(std::size_t length) {
        for (std::size_t i = 0; i < 4; ++i) {
            out_[i] = static_cast<char>(length >> (8 * i));
        }
    }

    std::string out_ = std::string(4, '\0');
};

class Reader {
  public:
    explicit Reader(std::string& payload) : payload_(payload) {}

    bool u8(std::uint8_t& value) {
        if (pos_ >= payload_.size()) {
            return false;
        }
        value = static_cast<std::uint8_t>(payload_[pos_++]);
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
    bool flag(bool& value) {
        std::uint8_t byte = 0;
        if (!u8(byte) || byte > 1) {
            return false;
        }
        value = byte == 1;
        return true;
    }
    bool text(std::string& value) {
        std::uint64_t size = 0;
        if (!u64(size) || size > payload_.size() - pos_) {
            return false;
        }
        value.assign(payload_, pos_, size);
        pos_ += size;
        return true;
    }
    // The frame's last field: the frame's own bytes become it.
    bool last(std::string& value) {
        std::uint64_t size = 0;
        if (!u64(size) || size != payload_.size() - pos_) {
            return false;
        }
        const std::size_t start = pos_;
        value = std::move(payload_);
        value.erase(0, start);
        taken_ = true;
        return true;
    }
    bool done() const { return taken_ || pos_ == payload_.size(); }

  private:
    std::string& payload_;
    std::size_t pos_ = 0;
    bool taken_ = false;
};

std::string write(Start start) {
    Writer w;
    const platform::HttpRequest& request = start.request;
    w.u8(kStart);
    w.u64(start.id);
    w.text(request.method);
    w.text(request.url);
    w.u64(request.headers.size());
    for (const auto& [name, value] : request.headers) {
        w.text(name);
        w.text(value);
    }
    w.u64(static_cast<std::uint64_t>(std::llround(std::max(0.0, request.timeoutSeconds * 1000.0))));
    w.u64(static_cast<std::uint64_t>(std::max(0, request.maxRedirects)));
    w.u8(request.body.has_value());
    return request.body ? w.finishWith(std::move(*start.request.body)) : w.finish();
}

std::string write(Cancel cancel) {
    Writer w;
    w.u8(kCancel);
    w.u64(cancel.id);
    return w.finish();
}

std::string write(Prepare prepare) {
    Writer w;
    w.u8(kPrepare);
    return w.finishWith(std::move(prepare.url));
}

std::string write(Done done) {
    Writer w;
    w.u8(kDone);
    w.u64(done.id);
    if (auto* reply = std::get_if<platform::HttpReply>(&done.result)) {
        w.u8(kReply);
        w.u64(static_cast<std::uint64_t>(reply->statusCode));
        return w.finishWith(std::move(reply->body));
    }
    auto& error = std::get<platform::HttpError>(done.result);
    w.u8(error.cancelled ? kCancelled : kFailed);
    return w.finishWith(std::move(error.description));
}

std::string write(Alive) {
    Writer w;
    w.u8(kAlive);
    return w.finish();
}

std::optional<Frame> readStart(Reader& r) {
    Start start;
    platform::HttpRequest& request = start.request;
    std::uint64_t count = 0;
    if (!r.u64(start.id) || !r.text(request.method) || !r.text(request.url) || !r.u64(count)) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        std::string name;
        std::string value;
        if (!r.text(name) || !r.text(value)) {
            return std::nullopt;
        }
        request.headers.emplace_back(std::move(name), std::move(value));
    }
    std::uint64_t timeoutMs = 0;
    std::uint64_t redirects = 0;
    bool hasBody = false;
    if (!r.u64(timeoutMs) || timeoutMs > kMaxTimeoutMs || !r.u64(redirects) ||
        redirects > kMaxRedirects || !r.flag(hasBody)) {
        return std::nullopt;
    }
    request.timeoutSeconds = static_cast<double>(timeoutMs) / 1000.0;
    request.maxRedirects = static_cast<int>(redirects);
    if (hasBody && !r.last(request.body.emplace())) {
        return std::nullopt;
    }
    return start;
}

std::optional<Frame> readDone(Reader& r) {
    std::uint64_t id = 0;
    std::uint8_t kind = 0;
    if (!r.u64(id) || !r.u8(kind)) {
        return std::nullopt;
    }
    if (kind == kReply) {
        std::uint64_t status = 0;
        platform::HttpReply reply;
        if (!r.u64(status) || status < 100 || status > 999 || !r.last(reply.body)) {
            return std::nullopt;
        }
        reply.statusCode = static_cast<int>(status);
        return Done{id, std::move(reply)};
    }
    platform::HttpError error;
    if ((kind != kCancelled && kind != kFailed) || !r.last(error.description)) {
        return std::nullopt;
    }
    error.cancelled = kind == kCancelled;
    return Done{id, std::move(error)};
}

std::optional<Frame> read(std::string payload) {
    Reader r(payload);
    std::uint8_t tag = 0;
    std::optional<Frame> frame;
    if (!r.u8(tag)) {
        return std::nullopt;
    }
    switch (tag) {
        case kStart:
            frame = readStart(r);
            break;
        case kCancel: {
            Cancel cancel;
            frame = r.u64(cancel.id) ? std::optional<Frame>(cancel) : std::nullopt;
            break;
        }
        case kDone:
            frame = readDone(r);
            break;
        case kPrepare: {
            Prepare prepare;
            frame = r.last(prepare.url) ? std::optional<Frame>(std::move(prepare)) : std::nullopt;
            break;
        }
        case kAlive:
            frame = Alive{};
            break;
        default:
            return std::nullopt;
    }
    return frame && r.done() ? std::move(frame) : std::nullopt;
}

}  // namespace

std::string encode(Frame frame) {
    return std::visit([](auto& f) { return write(std::move(f)); }, frame);
}

bool FrameReader::append(std::string_view bytes) {
    while (!broken_ && !bytes.empty()) {
        if (!payload_) {
            const std::size_t take = std::min(sizeof length_ - lengthBytes_, bytes.size());
            std::memcpy(length_ + lengthBytes_, bytes.data(), take);
            lengthBytes_ += take;
            bytes.remove_prefix(take);
            if (lengthBytes_ < sizeof length_) {
                break;
            }
            lengthBytes_ = 0;
            payloadSize_ = 0;
            for (std::size_t i = 0; i < sizeof length_; ++i) {
                payloadSize_ |= std::size_t{static_cast<std::uint8_t>(length_[i])} << (8 * i);
            }
            if (payloadSize_ == 0 || payloadSize_ > maxFrameBytes_) {
                broken_ = true;
                break;
            }
            payload_.emplace();
            payload_->reserve(payloadSize_);
        }
        const std::size_t take = std::min(payloadSize_ - payload_->size(), bytes.size());
        payload_->append(bytes.data(), take);
        bytes.remove_prefix(take);
        if (payload_->size() < payloadSize_) {
            break;
        }
        std::optional<Frame> frame = read(std::move(*payload_));
        payload_.reset();
        if (!frame) {
            broken_ = true;
            break;
        }
        frames_.push_back(std::move(*frame));
    }
    return !broken_;
}

std::optional<Frame> FrameReader::next() {
    if (frames_.empty()) {
        return std::nullopt;
    }
    Frame frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
}

}  // namespace velmora::desktop::wire
