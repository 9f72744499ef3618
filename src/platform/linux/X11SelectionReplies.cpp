#include "platform/linux/X11SelectionReplies.h"

#include <algorithm>
#include <cstring>

namespace velmora::desktop {

std::vector<XAtom> atomList(const XPropertyValue& value) {
    if (value.format != 32) {
        return {};
    }
    std::vector<XAtom> atoms(value.bytes.size() / sizeof(XAtom));
    if (!atoms.empty()) {
        std::memcpy(atoms.data(), value.bytes.data(), atoms.size() * sizeof(XAtom));
    }
    return atoms;
}

std::vector<XAtom> offeredTargets(const XPropertyValue& value) {
    std::vector<XAtom> targets;
    for (const XAtom atom : atomList(value)) {
        if (atom != kNoAtom && std::find(targets.begin(), targets.end(), atom) == targets.end()) {
            targets.push_back(atom);
        }
    }
    return targets;
}

std::vector<std::pair<XAtom, XAtom>> requestedPairs(const XPropertyValue& value, XAtom multiple) {
    const std::vector<XAtom> atoms = atomList(value);
    std::vector<std::pair<XAtom, XAtom>> pairs;
    for (std::size_t i = 0; i + 1 < atoms.size(); i += 2) {
        pairs.emplace_back(atoms[i], atoms[i] == multiple ? kNoAtom : atoms[i + 1]);
    }
    return pairs;
}

SelectionReply::State SelectionReply::take(const XPropertyValue& value, std::size_t room) {
    if (state_ != State::Waiting) {
        return state_;
    }
    // No property: an answer that names one it never wrote, or a piece already taken with the
    // one before it.
    if (value.type == kNoAtom) {
        return incremental_ ? state_ : finish(State::Refused);
    }
    if (value.type == incr_ && !incremental_) {
        incremental_ = true;
        return state_;
    }
    if (value.bytesAfter > 0 || value.bytes.size() > room) {
        return finish(State::TooLarge);
    }
    if (type_ == kNoAtom) {
        type_ = value.type;
        format_ = value.format;
    }
    bytes_.append(value.bytes);
    // An incremental answer ends with an empty piece.
    return !incremental_ || value.bytes.empty() ? finish(State::Read) : state_;
}

SelectionReply::State SelectionReply::finish(State state) {
    state_ = state;
    if (state != State::Read) {
        bytes_.clear();
    }
    return state_;
}

}  // namespace velmora::desktop
