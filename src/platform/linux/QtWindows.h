#pragma once

#include "platform/Windows.h"

namespace velmora::desktop {

class QtWindows : public platform::Windows {
  public:
    std::unique_ptr<platform::Panel> createPanel() override;
    std::unique_ptr<platform::Window> createShortcutEditorWindow(
        platform::ShortcutEditorModel& model) override;
    std::optional<platform::Rect> mainScreenVisibleFrame() override;
};

}  // namespace velmora::desktop
