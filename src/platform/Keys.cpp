#include "platform/Keys.h"

namespace velmora::platform {

bool Key::isModifier() const {
    switch (position) {
        case 29:   // left Control
        case 97:   // right Control
        case 42:   // left Shift
        case 54:   // right Shift
        case 56:   // left Alt
        case 100:  // right Alt (AltGr)
        case 125:  // left Super
        case 126:  // right Super
        case 58:   // Caps Lock
            return true;
        default:
            return false;
    }
}

}  // namespace velmora::platform
