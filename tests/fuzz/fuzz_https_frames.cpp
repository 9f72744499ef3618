// The HTTPS helper's frames, cut from a stream that arrives in pieces of any size: every frame
// read encodes back to the very bytes it came from and keeps to the reader's limit, what is left
// is the start of a frame still to come, and nothing is read once the stream has been refused.
#include "FuzzSupport.h"
#include "platform/linux/HttpsWire.h"

using namespace velmora::desktop;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr std::size_t kLimit = 4096;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    wire::FrameReader reader(kLimit);
    std::string read;
    bool intact = true;
    for (std::size_t at = 0; at < stream.size() && intact; at += piece) {
        intact = reader.append(stream.substr(at, piece));
        while (auto frame = reader.next()) {
            const std::string bytes = wire::encode(std::move(*frame));
            FUZZ_CHECK(bytes.size() - 4 <= kLimit);
            read += bytes;
        }
    }
    FUZZ_CHECK(stream.substr(0, read.size()) == read);
    const std::string_view rest = stream.substr(read.size());
    if (intact && rest.size() >= 4) {
        const auto* length = reinterpret_cast<const uint8_t*>(rest.data());
        const std::size_t announced =
            length[0] | length[1] << 8 | length[2] << 16 | std::size_t{length[3]} << 24;
        FUZZ_CHECK(announced > rest.size() - 4);
    }
    return 0;
}
