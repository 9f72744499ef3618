// The velmora program: the application's logic on the Linux desktop.
#include "api/ServiceEndpoints.h"
#include "app/AppDelegate.h"
#include "platform/linux/LinuxServices.h"
#include "platform/linux/Program.h"
#include "ui/hud/HUDManager.h"

namespace {

using namespace velmora;

// The application delegate with the one progress panel it shows, on the desktop's services.
class Velmora : public desktop::Logic {
  public:
    explicit Velmora(desktop::LinuxServices& services)
        : platform_(services.platform()),
          hud_(platform_.windows, platform_.mainQueue),
          app_(platform_, hud_, ServiceEndpoints::forHosts(ServiceHosts::fromEnvironment())) {}

    void launch() override { app_.didFinishLaunching(); }
    void terminate() override { app_.willTerminate(); }

  private:
    const platform::Platform platform_;
    HUDManager hud_;
    MendwellApp app_;
};

}  // namespace

int main(int argc, char** argv) {
    return desktop::runProgram(argc, argv, [](desktop::LinuxServices& services) {
        return std::make_unique<Velmora>(services);
    });
}
