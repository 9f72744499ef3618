#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/MainQueue.h"
#include "platform/Panel.h"

class QLabel;
class QPropertyAnimation;

namespace velmora::desktop {

// The HUD's symbol, bouncing upwards while the panel shows; the bounce restarts at every new
// content identity.
class BouncingSymbol : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal lift READ lift WRITE setLift)
  public:
    static constexpr int kPointSize = 40;

    explicit BouncingSymbol(QWidget* parent = nullptr);
    void setSymbol(const std::string& name);
    void restartBounce();
    void stopBounce();
    bool isBouncing() const;

    qreal lift() const { return lift_; }
    void setLift(qreal lift);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::string name_;
    qreal lift_ = 0;
    QPropertyAnimation* bounce_;
};

// The HUD's content: symbol over a centred, wrapped message on a rounded translucent card.
class HUDContentView : public QWidget {
  public:
    static constexpr int kPadding = 20;
    static constexpr int kSpacing = 12;
    static constexpr int kMinWidth = 140;
    static constexpr int kMaxWidth = 220;
    static constexpr int kCornerRadius = 15;

    explicit HUDContentView(QWidget* parent = nullptr);
    void setContent(const platform::HUDViewContent& content);
    // The fitting size for a message and symbol, the padding included.
    static QSize fittingSize(const std::string& message, const std::string& systemImage);

    BouncingSymbol& symbol() { return *symbol_; }
    QString message() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    BouncingSymbol* symbol_;
    QLabel* message_;
    std::uint64_t identity_ = 0;
};

// The floating HUD panel: a frameless, always-on-top tool window that never takes focus.
class QtPanel : public QWidget, public platform::Panel {
  public:
    explicit QtPanel(platform::MainQueue& queue);
    ~QtPanel() override;

    void setContent(const platform::HUDViewContent& content) override;
    platform::Size measureContent(const std::string& message,
                                  const std::string& systemImage) override;
    void setContentSize(platform::Size size) override;
    platform::Rect frame() const override;
    void setFrameOrigin(platform::Point origin) override;
    void orderFront() override;
    void orderOut() override;
    double alpha() const override;
    void animateAlpha(double target, double duration, std::function<void()> completion) override;

    HUDContentView& content() { return *content_; }

  private:
    void finishAnimation();

    platform::MainQueue& queue_;
    HUDContentView* content_;
    QPointer<QPropertyAnimation> fade_;
    std::function<void()> fadeCompletion_;
};

class QtPanelFactory : public platform::PanelFactory {
  public:
    explicit QtPanelFactory(platform::MainQueue& queue) : queue_(queue) {}
    std::unique_ptr<platform::Panel> createHUDPanel() override;

  private:
    platform::MainQueue& queue_;
};

class QtScreens : public platform::Screens {
  public:
    std::optional<platform::Rect> mainScreenVisibleFrame() override;
};

}  // namespace velmora::desktop
