#pragma once

#include "platform/Application.h"
#include "platform/Workspace.h"

namespace velmora::desktop {

// The application object: Velmora never shows a main window, so it never gets a taskbar entry.
class QtApplication : public platform::Application {
  public:
    void setActivationPolicy(platform::ActivationPolicy policy) override;
    // Leaves the event loop; the entry point then runs the shutdown.
    void terminate() override;
};

// The version is the CMake project version.
class QtBundleInfo : public platform::BundleInfo {
  public:
    std::optional<std::string> shortVersionString() const override;
};

class QtWorkspace : public platform::Workspace {
  public:
    bool openURL(const std::string& url) override;
};

}  // namespace velmora::desktop
