#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <optional>

#include "platform/Windows.h"

class QKeyEvent;
class QLabel;
class QPushButton;

namespace velmora::desktop {

// A key event as the shortcut recorder sees it: the key's position (the X key code less 8) and
// the modifiers held once the event has happened. Releases of keys other than modifiers, and
// events without a key code, give none.
std::optional<platform::KeyPress> keyPressFor(const QKeyEvent& event);

// The shortcut box: a flat button drawn as a rounded box, with a recording look.
class ShortcutBox : public QAbstractButton {
  public:
    static constexpr const char* kPrompt = "Press keys...";

    explicit ShortcutBox(QWidget* parent = nullptr);
    void setRecording(bool recording);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QFont promptFont() const;

    bool recording_ = false;
};

// The shortcut editor drawn from its model, as a titled, closable window of fixed size. While the
// model records, the window holds the keyboard, so combinations the window manager or Velmora's
// own global shortcut would take still reach it.
class ShortcutEditorWidget : public QWidget {
  public:
    explicit ShortcutEditorWidget(platform::ShortcutEditorModel& model);
    ~ShortcutEditorWidget() override;

    // Forgets the model, which may go before this widget's deferred deletion.
    void detach();
    // The window's size for a content size, or more when the content needs it.
    void setContentSize(QSize size);

    ShortcutBox& shortcutBox() { return *box_; }
    QPushButton& saveButton() { return *save_; }

  protected:
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void render();
    void holdKeyboard(bool hold);

    platform::ShortcutEditorModel* model_;
    ShortcutBox* box_;
    QLabel* hint_;
    QPushButton* cancel_;
    QPushButton* save_;
    bool grabbing_ = false;
};

}  // namespace velmora::desktop
