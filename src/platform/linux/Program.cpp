// The velmora program's life on the desktop: its command line, one instance per user, the
// toolkit, the platform services and the event loop around the logic that the entry point makes.
#include "platform/linux/Program.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/DesktopNotification.h"
#include "platform/linux/LinuxServices.h"
#include "platform/linux/ProcessHardening.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SingleInstance.h"

namespace velmora::desktop {
namespace {

constexpr const char* kUsage =
    "Usage: velmora [URL | --trigger | --action=NAME]\n"
    "Rewrites the selected text in any application with a global shortcut.\n"
    "\n"
    "  URL            a velmora: URL (the sign-in callback), handed to the running instance\n"
    "  --trigger      rewrite the selection now, as the shortcut does (for a desktop's own\n"
    "                 shortcut settings); starts Velmora first when it is not running\n"
    "  --action=NAME  do what the menu item does: sign-in, sign-out, check-for-updates, quit\n"
    "  --dbus-service start as the session bus does, for requests that come over the bus\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Environment: VELMORA_API_HOST, VELMORA_DOWNLOAD_HOST, VELMORA_WEBSITE_HOST, VELMORA_CA_FILE\n";

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so the shutdown runs on the main thread.
void quitOnTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// A start that ends before Velmora runs. A trigger has no window to say so in: a desktop
// notification does.
int failStart(int argc, char** argv, bool trigger, const std::string& reason) {
    std::fputs(("velmora: " + reason + "\n").c_str(), stderr);
    if (trigger) {
        QCoreApplication core(argc, argv);
        tellUser("Nothing Rewritten", reason + " The text you selected was not rewritten.");
    }
    return 1;
}

}  // namespace

int runProgram(int argc, char** argv, const MakeLogic& makeLogic) {
    // Before anything else: the sign-in callback's URL carries the session token, so it leaves
    // the command line that every local user can read, and the process may not be dumped.
    hardenProcess();
    std::vector<std::string> arguments = takeArguments(argc, argv);

    // What this start asks for. A start the session bus made asks nothing itself: its requests
    // come over the bus.
    std::optional<std::string> line = "";
    // The toolkit sees every argument but Velmora's own (its options among them).
    std::vector<char*> qtArguments{argv[0]};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::puts("velmora " VELMORA_VERSION);
            return 0;
        }
        if (argument == "--dbus-service") {
            line.reset();
        } else if (argument == InstanceRequest::kTriggerArgument ||
                   argument.starts_with(InstanceRequest::kActionPrefix) ||
                   (argument[0] != '-' && line == "")) {
            line = argument;
        } else {
            qtArguments.push_back(argument.data());
        }
    }
    std::optional<InstanceRequest> request;
    if (line) {
        request = InstanceMessage::read(*line + "\n", true).request;
        if (!request) {
            std::fprintf(stderr, "velmora: no such request: %s\n%s", line->c_str(), kUsage);
            return 2;
        }
    }
    const bool trigger = request && request->kind == InstanceRequest::Kind::Trigger;
    int qtArgc = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);

    // One Velmora per user: a later start hands its request to the running one.
    SingleInstance instance;
    switch (instance.start(request ? std::optional(request->line()) : std::nullopt)) {
        case SingleInstance::Start::Instance:
            break;
        case SingleInstance::Start::HandedOver:
            return 0;
        case SingleInstance::Start::Failed:
            return failStart(qtArgc, qtArguments.data(), trigger,
                             "Velmora could not start, nor reach the Velmora already running.");
    }
    // A launcher's Quit with no Velmora running: nothing to quit.
    if (request && request->kind == InstanceRequest::Kind::Action && request->value == "quit") {
        return 0;
    }
    // Without a display the toolkit would end the program with its own words, or on the offscreen
    // platform run a Velmora nobody can see.
    if (!hasDisplay()) {
        return failStart(qtArgc, qtArguments.data(), trigger,
                         "There is no desktop session to show Velmora in: neither DISPLAY nor "
                         "WAYLAND_DISPLAY is set. Start Velmora from an X11 or Wayland desktop "
                         "session.");
    }

    QApplication qtApp(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("velmora"));
    QApplication::setOrganizationName(QStringLiteral("velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(QtApplication::kApplicationId));
    // A tray program: closing a notice or the editor must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals(qtApp);

    LinuxServices services;
    services.application().listen(instance.listenFd());
    services.application().serveSessionBus();
    if (trigger) {
        // Held until the launch has bound the shortcut, a bounded time.
        services.application().perform(*request);
    }
    const std::unique_ptr<Logic> logic = makeLogic(services);

    // The launch runs once the event loop runs; this start's own request follows it.
    services.mainQueue().async([&] {
        logic->launch();
        if (request && !trigger) {
            services.application().perform(*request);
        }
    });
    QApplication::exec();
    logic->terminate();
    std::fflush(stdout);
    return 0;
}

}  // namespace velmora::desktop
