#pragma once

#include <QPointer>

#include "platform/Windows.h"
#include "platform/linux/ShortcutEditorWidget.h"

namespace velmora::desktop {

// The shortcut editor's window. The widget is deleted from the event loop, since the logic may
// drop the window from inside one of its own button handlers.
class QtShortcutEditorWindow : public platform::Window {
  public:
    explicit QtShortcutEditorWindow(platform::ShortcutEditorModel& model);
    ~QtShortcutEditorWindow() override;

    void setTitle(const std::string& title) override;
    void setContentSize(platform::Size size) override;
    platform::Size frameSize() const override;
    void setOrigin(platform::Point origin) override;
    void setFloating(bool floating) override;
    void show() override;
    void close() override;
    bool isVisible() const override;

    ShortcutEditorWidget& widget() { return *widget_; }

  private:
    QPointer<ShortcutEditorWidget> widget_;
};

}  // namespace velmora::desktop
