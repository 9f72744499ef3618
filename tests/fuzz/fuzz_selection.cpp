// What another client on the display may hand over in the selection protocol: a TARGETS list, a
// MULTIPLE request's pairs, and an answer in pieces. The first byte picks the items' size and the
// room for an answer; the rest is the property's value, and, split at 0xFF, the pieces of an
// answer, each led by its type (0 none, 1 INCR, else data).
#include <algorithm>

#include "FuzzSupport.h"
#include "platform/linux/X11SelectionReplies.h"

using namespace velmora::desktop;
using State = SelectionReply::State;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr XAtom kIncr = 100;
    constexpr XAtom kMultiple = 101;
    const std::string rest(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
    const std::uint8_t first = size > 0 ? data[0] : 0;
    const XPropertyValue value{4, static_cast<std::uint8_t>(8 << (first & 3)), rest, 0};
    const auto atoms = atomList(value);
    FUZZ_CHECK(atoms.size() == (value.format == 32 ? rest.size() / 4 : 0));
    const auto targets = offeredTargets(value);
    for (const XAtom target : targets) {
        FUZZ_CHECK(target != kNoAtom && std::count(targets.begin(), targets.end(), target) == 1);
    }
    const auto pairs = requestedPairs(value, kMultiple);
    FUZZ_CHECK(pairs.size() == atoms.size() / 2);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        FUZZ_CHECK(pairs[i].second == (atoms[2 * i] == kMultiple ? kNoAtom : atoms[2 * i + 1]));
    }

    SelectionReply reply(kIncr);
    std::string kept;
    const std::size_t room = 16 + std::size_t{first} * 8;
    for (const std::string& piece : fuzz::split(rest, '\xff')) {
        const char code = piece.empty() ? 0 : piece[0];
        const XAtom type = code == 0 ? kNoAtom : code == 1 ? kIncr : 31;
        const std::string_view bytes = std::string_view(piece).substr(piece.empty() ? 0 : 1);
        const bool announcement = type == kIncr && !reply.incremental();
        const State before = reply.state();
        const State after = reply.take({type, 8, bytes, 0}, room - std::min(room, kept.size()));
        FUZZ_CHECK(before == State::Waiting || after == before);
        kept += type == kNoAtom || announcement || before != State::Waiting ? "" : bytes;
        FUZZ_CHECK(before != State::Waiting || after != State::Read || reply.takeBytes() == kept);
    }
    return 0;
}
