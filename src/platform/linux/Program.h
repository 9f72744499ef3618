#pragma once

#include <functional>
#include <memory>

namespace velmora::desktop {

class LinuxServices;

// What the entry point makes on the platform services: the application's logic, launched once the
// event loop runs and ended after it stops.
class Logic {
  public:
    virtual ~Logic() = default;
    virtual void launch() = 0;
    virtual void terminate() = 0;
};

using MakeLogic = std::function<std::unique_ptr<Logic>(LinuxServices& services)>;

// The whole program: reads the command line, hands a request to a running Velmora or becomes the
// one instance, starts the toolkit and the platform services, and runs the event loop around the
// logic. Returns the exit status.
int runProgram(int argc, char** argv, const MakeLogic& makeLogic);

}  // namespace velmora::desktop
