#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What other programs hand over in the selection protocol, read without trusting it: any client on
// the display may write any property, and ask for anything. No X connection needed, so these are
// fuzzed on their own (tests/fuzz/fuzz_selection.cpp).
namespace velmora::desktop {

using XAtom = std::uint32_t;
inline constexpr XAtom kNoAtom = 0;

// A property's value as the server hands it over.
struct XPropertyValue {
    XAtom type = kNoAtom;     // None when there is no such property
    std::uint8_t format = 0;  // bits per item: 8, 16 or 32
    std::string_view bytes;
    std::uint32_t bytesAfter = 0;  // what is left beyond the length asked for
};

// The atoms of a list of 32-bit items; none when the value is no such list.
std::vector<XAtom> atomList(const XPropertyValue& value);

// An owner's answer to TARGETS: each target once, in its order, None left out.
std::vector<XAtom> offeredTargets(const XPropertyValue& value);

// A MULTIPLE request: the (target, property) pairs the requestor asks for, with the property
// None for the pairs it may not have (MULTIPLE itself, or no property to answer in). A last atom
// without a partner is no pair.
std::vector<std::pair<XAtom, XAtom>> requestedPairs(const XPropertyValue& value, XAtom multiple);

// One answer read from a property, whole or in pieces (INCR): feed it each value the property
// takes, in order, until it is no longer waiting.
class SelectionReply {
  public:
    enum class State { Waiting, Read, Refused, TooLarge };

    explicit SelectionReply(XAtom incr) : incr_(incr) {}

    // Takes the property's value, keeping at most `room` more bytes; returns the state after it.
    // Once the reply is no longer waiting, further values change nothing.
    State take(const XPropertyValue& value, std::size_t room);
    State state() const { return state_; }
    bool incremental() const { return incremental_; }
    // The type and format the owner labelled the data with, and the data (empty unless Read).
    XAtom type() const { return type_; }
    std::uint8_t format() const { return format_; }
    std::size_t size() const { return bytes_.size(); }
    std::string takeBytes() { return std::move(bytes_); }

  private:
    State finish(State state);

    XAtom incr_;
    State state_ = State::Waiting;
    bool incremental_ = false;
    XAtom type_ = kNoAtom;
    std::uint8_t format_ = 0;
    std::string bytes_;
};

}  // namespace velmora::desktop
