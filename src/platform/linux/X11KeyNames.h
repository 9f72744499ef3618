#pragma once

#include <memory>

#include "platform/Keys.h"
#include "platform/linux/SystemKeymap.h"

namespace velmora::desktop {

class X11Connection;

// Key names from the X server's current keyboard layout (XKB), or from the system's layout when
// there is no X server, and the modifiers as this desktop writes them ("Ctrl+").
class X11KeyNames : public platform::KeyNames {
  public:
    explicit X11KeyNames(std::shared_ptr<X11Connection> connection);

    std::optional<std::string> keyName(platform::Key key) override;
    std::string modifierGlyph(platform::Modifier modifier) override;

  private:
    std::shared_ptr<X11Connection> connection_;
    SystemKeymap systemKeymap_;
};

}  // namespace velmora::desktop
