#include "platform/linux/QtTray.h"

#include "platform/linux/QtStatusItem.h"

namespace velmora::desktop {

std::unique_ptr<platform::StatusItem> QtTray::createStatusItem() {
    return std::make_unique<QtStatusItem>(queue_);
}

}  // namespace velmora::desktop
