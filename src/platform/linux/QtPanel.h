#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/Windows.h"

class QVariantAnimation;

namespace velmora::desktop {

class HudContentView;

// The floating progress panel: a frameless, always-on-top tool window that never takes focus.
class QtPanel : public QWidget, public platform::Panel {
  public:
    QtPanel();
    ~QtPanel() override;

    void setContent(const platform::PanelContent& content) override;
    platform::Size fittingSize(const std::string& message, const std::string& symbol) override;
    void setSize(platform::Size size) override;
    platform::Size size() const override;
    void setOrigin(platform::Point origin) override;
    void orderFront() override;
    void orderOut() override;
    void fadeTo(double alpha, std::chrono::milliseconds duration,
                std::function<void()> done) override;

    // Ends every panel's fade-out now and takes those panels off the screen; their `done` follows
    // from the event loop. Called before a modal alert opens, so no fading panel covers it.
    static void finishFadeOuts();

    HudContentView& content() { return *content_; }

  private:
    void stopFade();
    void endFade();
    void setClickThrough(bool clickThrough);
    void setOpacity(double opacity);

    HudContentView* content_;
    const bool onWayland_;
    double opacity_ = 0;
    QPointer<QVariantAnimation> fade_;
    std::function<void()> done_;
    // Counts fades, so a `done` posted for an earlier fade does not run after a later one began.
    std::uint64_t fadeGeneration_ = 0;
    bool fadingOut_ = false;
};

}  // namespace velmora::desktop
