#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/Keystrokes.h"

class QEventLoop;

namespace velmora::desktop {
struct PortalResponse;
}

namespace velmora::desktop {

// Keystrokes through the desktop portal's RemoteDesktop interface, for Wayland sessions: one
// keyboard-only remote-control session for the program's life, started when permission is first
// asked for (the desktop may show its consent dialog then). Where the portal can remember the
// consent, the token that restores it is kept in Velmora's settings. Main thread only.
//
// The session's keyboard shares the desktop's one keyboard state with the user's keyboard, which
// may still hold the shortcut's modifiers when the copy goes out. So the copy waits a moment for
// the user to let go of them, and each chord first releases every modifier but Control through
// the session's keyboard, which KWin honours and mutter ignores. (Presses come once the
// shortcut's key is let go: PortalGlobalShortcuts, TriggerRepeats.)
class PortalKeystrokes : public QObject, public platform::Keystrokes {
    Q_OBJECT
  public:
    // `menuLocation` names where the user finds Velmora's menu now.
    explicit PortalKeystrokes(std::function<std::string()> menuLocation = {});
    ~PortalKeystrokes() override;

    platform::Capability permission(bool mayAsk) override;
    platform::KeystrokeResult send(platform::Keystroke keystroke) override;

  private slots:
    void onSessionClosed();

  private:
    // Ended: the desktop closed a session that had started.
    enum class State { Idle, Starting, Started, NoPortal, Declined, Failed, Ended };

    void start();
    void createSession(uint version);
    void selectDevices(uint version);
    void startSession();
    void started(const PortalResponse& response);
    void finish(State state);
    void watchSession(bool watch);
    void endSession();
    void waitForStart();
    void liftOtherModifiers();
    // The portal's error, or none once the key went out.
    std::optional<std::string> sendKey(int code, bool down);

    std::function<std::string()> menuLocation_;
    State state_ = State::Idle;
    QString session_;
    std::chrono::steady_clock::time_point readyAt_;
    // Set while permission() waits for the session to start.
    QEventLoop* waiting_ = nullptr;
};

}  // namespace velmora::desktop
