#pragma once

#include <QWidget>
#include <string>

#include "platform/Windows.h"

class QLabel;
class QPropertyAnimation;

namespace velmora::desktop {

// The panel's symbol, bouncing upwards while the panel shows; the bounce restarts at every new
// content identity.
class BouncingSymbol : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal lift READ lift WRITE setLift)
  public:
    static constexpr int kPointSize = 40;
    static constexpr int kBounceHeight = 6;

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

// The panel's content: the symbol over a centred, wrapped message on a rounded translucent card.
class HudContentView : public QWidget {
  public:
    static constexpr int kPadding = 20;
    static constexpr int kSpacing = 12;
    static constexpr int kMinWidth = 140;
    static constexpr int kMaxWidth = 220;
    static constexpr int kCornerRadius = 15;

    explicit HudContentView(QWidget* parent = nullptr);
    void setContent(const platform::PanelContent& content);
    // The fitting size for a message, the padding included.
    static QSize fittingSize(const std::string& message);

    BouncingSymbol& symbol() { return *symbol_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    BouncingSymbol* symbol_;
    QLabel* message_;
    std::uint64_t identity_ = 0;
};

}  // namespace velmora::desktop
