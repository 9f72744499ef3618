// What another client on the display may hand over in the selection protocol: a TARGETS list, a
// MULTIPLE request's pairs, and an answer in pieces. The first byte picks the items' size and the
// room for an answer; the rest is the property's value, and, split at 0xFF, the pieces of an
// answer, each led by its type (0 none, 1 INCR, else data).
#include "FuzzSupport.h"
#include "platform/linux/X11SelectionReplies.h"

using namespace velmora::desktop;

namespace {

constexpr XAtom kIncr = 100;
constexpr XAtom kMultiple = 101;

void checkLists(const XPropertyValue& value) {
    const auto atoms = atomList(value);
    FUZZ_CHECK(value.format == 32 ? atoms.size() == value.bytes.size() / 4 : atoms.empty());

    const auto targets = offeredTargets(value);
    std::size_t seen = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        FUZZ_CHECK(targets[i] != kNoAtom);
        for (std::size_t j = 0; j < i; ++j) {
            FUZZ_CHECK(targets[j] != targets[i]);
        }
        while (seen < atoms.size() && atoms[seen] != targets[i]) {
            ++seen;
        }
        FUZZ_CHECK(seen < atoms.size());
    }

    const auto pairs = requestedPairs(value, kMultiple);
    FUZZ_CHECK(pairs.size() == atoms.size() / 2);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        FUZZ_CHECK(pairs[i].first == atoms[2 * i]);
        FUZZ_CHECK(pairs[i].second == (atoms[2 * i] == kMultiple ? kNoAtom : atoms[2 * i + 1]));
    }
}

void checkReply(const std::string& pieces, std::size_t room) {
    SelectionReply reply(kIncr);
    std::string data;
    bool incremental = false;
    for (const std::string& piece : fuzz::split(pieces, '\xff')) {
        const auto before = reply.state();
        const char code = piece.empty() ? 0 : piece[0];
        const XAtom type = code == 0 ? kNoAtom : code == 1 ? kIncr : 31;
        const std::string_view bytes = piece.empty() ? "" : std::string_view(piece).substr(1);
        const auto after = reply.take({type, 8, bytes, 0}, room - std::min(room, data.size()));
        if (before != SelectionReply::State::Waiting) {
            FUZZ_CHECK(after == before);
            continue;
        }
        if (type == kIncr && !incremental && after == SelectionReply::State::Waiting) {
            incremental = true;
        } else if (type != kNoAtom) {
            data += bytes;
        }
        if (after == SelectionReply::State::Read) {
            FUZZ_CHECK(reply.size() == data.size() && reply.size() <= room);
            FUZZ_CHECK(reply.takeBytes() == data);
            return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::uint8_t kFormats[] = {8, 16, 32, 0};
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    checkLists({XAtom{4}, kFormats[data[0] & 3], rest, 0});
    checkReply(rest, 16 + std::size_t{data[0]} * 8);
    return 0;
}
