#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <memory>
#include <optional>

#include "platform/Windows.h"

class QKeyEvent;
class QLabel;
class QPushButton;

namespace velmora::desktop {

// A key press or release turned into what the local monitor reports: the virtual key code of the
// key's position (from the X key code) and the event modifier flags. Releases of ordinary keys and
// keys without a position report none.
std::optional<platform::KeyboardEventInfo> keyboardEventInfoFor(const QKeyEvent& event);

// Qt keyboard modifiers as event modifier flags: Control plays Command's part, Super Control's.
std::uint64_t eventFlagsForModifiers(Qt::KeyboardModifiers modifiers);

// The shortcut box: a flat button drawn as a rounded box, with a recording look.
class ShortcutBox : public QAbstractButton {
  public:
    explicit ShortcutBox(QWidget* parent = nullptr);
    void setRecording(bool recording);
    bool isRecording() const { return recording_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool recording_ = false;
};

// The "Edit Shortcut" window drawn from a shortcut editor model. While it is open an event filter
// on the application hands every key press and modifier change to the model before any control.
class QtShortcutEditorWindow : public QWidget, public platform::Window {
  public:
    QtShortcutEditorWindow(std::shared_ptr<platform::ShortcutEditorModel> model,
                           platform::WindowStyle style);
    ~QtShortcutEditorWindow() override;

    void setTitle(const std::string& title) override;
    void setContentSize(platform::Size size) override;
    platform::Rect frame() const override;
    void setFrameOrigin(platform::Point origin) override;
    void setLevel(int level) override;
    void makeKeyAndOrderFront() override;
    void close() override;
    bool isVisible() const override;

    ShortcutBox& shortcutBox() { return *box_; }
    QPushButton& saveButton() { return *save_; }
    QPushButton& cancelButton() { return *cancel_; }
    QLabel& escapeHint() { return *hint_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void render();

    std::shared_ptr<platform::ShortcutEditorModel> model_;
    ShortcutBox* box_;
    QLabel* hint_;
    QPushButton* cancel_;
    QPushButton* save_;
    bool filtering_ = false;
};

class QtWindows : public platform::Windows {
  public:
    std::shared_ptr<platform::Window> createShortcutEditorWindow(
        std::shared_ptr<platform::ShortcutEditorModel> model, platform::WindowStyle style) override;
};

}  // namespace velmora::desktop
