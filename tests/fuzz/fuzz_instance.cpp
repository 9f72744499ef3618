// The instance socket's reader: whatever another start sends, in whatever pieces it arrives, is
// read as one request or none, never before its line is whole, and a request reads back the same
// from the line a start sends for it.
#include <string_view>

#include "FuzzSupport.h"
#include "platform/linux/SingleInstance.h"

using velmora::desktop::InstanceMessage;
using velmora::desktop::InstanceRequest;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Pieces of 1 to 16 bytes, their sizes taken from the input itself.
    std::string received;
    InstanceMessage message;
    for (std::size_t at = 0; at < size && !message.complete;) {
        const std::size_t piece = 1 + data[at] % 16;
        received += input.substr(at, piece);
        at += piece;
        message = InstanceMessage::read(received, at >= size);
        FUZZ_CHECK(message.complete || received.find('\n') == std::string::npos);
    }
    if (!message.request) {
        return 0;
    }
    const std::string line = message.request->line();
    FUZZ_CHECK(line.find('\n') == std::string::npos && line.size() <= InstanceRequest::kMaxBytes);
    const InstanceMessage again = InstanceMessage::read(line + "\n", false);
    FUZZ_CHECK(again.complete && again.request == message.request);
    return 0;
}
