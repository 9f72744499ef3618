#pragma once

#include <QAbstractNativeEventFilter>
#include <QTimer>
#include <cstdint>
#include <map>

#include "platform/GlobalShortcuts.h"

struct xcb_connection_t;
typedef struct _XDisplay Display;

namespace velmora::desktop {

// System-wide shortcuts on X11: passive key grabs on the root window through Qt's own X
// connection, one for every combination of the lock modifiers, so Caps Lock or Num Lock being on
// does not hide the shortcut. Must outlive its bindings.
class X11GlobalShortcuts : public platform::GlobalShortcuts, public QAbstractNativeEventFilter {
  public:
    X11GlobalShortcuts();
    ~X11GlobalShortcuts() override;

    std::unique_ptr<platform::ShortcutBinding> bind(const platform::Shortcut& shortcut,
                                                    Pressed pressed, Outcome outcome) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    class Binding;
    struct Grab {
        std::uint8_t keycode = 0;
        std::uint16_t modifiers = 0;
        Pressed pressed;
        // Down since it last fired: autorepeat presses are not new presses.
        bool held = false;
    };

    platform::BindResult grab(const Grab& grab);
    void ungrab(const Grab& grab);
    void unbind(int id);
    void pollHeldKeys();

    xcb_connection_t* connection_ = nullptr;
    Display* display_ = nullptr;
    std::uint32_t root_ = 0;
    int nextId_ = 1;
    std::map<int, Grab> grabs_;
    // After a press the keyboard is given back, so the release is never seen: the key's state is
    // polled until it is up.
    QTimer releasePoll_;
};

}  // namespace velmora::desktop
