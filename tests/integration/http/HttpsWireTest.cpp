// The frames between Velmora and its HTTPS helper, cut from a byte stream.
#include <gtest/gtest.h>

#include "platform/linux/HttpsWire.h"

namespace velmora::desktop::wire {
namespace {

// The frames read from the stream given in pieces of `piece` bytes, each encoded again: frames
// are the same when their bytes are.
std::vector<std::string> read(const std::string& stream, std::size_t piece, bool* intact = nullptr,
                              std::size_t limit = kMaxAnswerFrameBytes) {
    FrameReader reader(limit);
    std::vector<std::string> frames;
    bool ok = true;
    for (std::size_t at = 0; at < stream.size() && ok; at += piece) {
        ok = reader.append(std::string_view(stream).substr(at, piece));
    }
    while (auto frame = reader.next()) {
        frames.push_back(encode(std::move(*frame)));
    }
    if (intact) {
        *intact = ok;
    }
    return frames;
}

std::string replyOf(std::size_t bodyBytes) {
    return encode(Done{7, platform::HttpReply{200, std::string(bodyBytes, 'x')}});
}

TEST(HttpsWire, EveryKindReadsBackByteForByteHoweverTheStreamIsCut) {
    platform::HttpRequest request{
        "POST", "https://h/api", {{"A", "b"}}, std::string("b\0dy", 4), 1.5, 3};
    const std::vector<std::string> frames = {
        encode(Start{1, request}),
        encode(Start{2, {}}),
        encode(Cancel{3}),
        encode(Prepare{"https://h/"}),
        encode(Done{4, platform::HttpReply{503, ""}}),
        encode(Done{5, platform::HttpError{true, "cancelled"}}),
        encode(Done{6, platform::HttpError{false, "refused"}}),
        encode(Alive{})};
    std::string stream;
    for (const std::string& frame : frames) {
        stream += frame;
    }
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, stream.size()}) {
        EXPECT_EQ(read(stream, piece), frames) << piece;
    }
    // A stream cut anywhere holds the whole frames before the cut and waits for the rest.
    bool intact = false;
    EXPECT_EQ(read(stream.substr(0, stream.size() - 1), 3, &intact).size(), frames.size() - 1);
    EXPECT_TRUE(intact);
}

TEST(HttpsWire, AFrameUpToTheLimitIsReadAndOneByteMoreIsRefusedAtItsLength) {
    const std::string full = replyOf(1000);
    const std::size_t limit = full.size() - 4;
    EXPECT_EQ(read(full, 64, nullptr, limit), std::vector<std::string>{full});
    bool intact = true;
    EXPECT_TRUE(read(replyOf(1001).substr(0, 4), 4, &intact, limit).empty());
    EXPECT_FALSE(intact);
}

TEST(HttpsWire, BytesThatAreNoFrameStopTheStream) {
    const std::string cancel = encode(Cancel{9});
    std::string unknownKind = cancel;
    unknownKind[4] = 6;
    std::string unknownOutcome = encode(Done{1, platform::HttpError{false, "x"}});
    unknownOutcome[13] = 9;
    std::string overlong = replyOf(10);
    overlong[22] += 1;  // the body's length claims one byte more than follows
    for (const std::string& bad : {unknownKind, unknownOutcome, overlong, std::string(4, '\0'),
                                   std::string("\1\0\0\0\2", 5)}) {
        bool intact = true;
        EXPECT_TRUE(read(bad + cancel, 1, &intact).empty());
        EXPECT_FALSE(intact);
    }
}

}  // namespace
}  // namespace velmora::desktop::wire
