// The velmora program: the Qt shell around the application's logic.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "api/ServiceEndpoints.h"
#include "app/AppDelegate.h"
#include "platform/linux/LinuxServices.h"
#include "platform/linux/ProcessHardening.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SingleInstance.h"
#include "ui/hud/HUDManager.h"

namespace {

constexpr const char* kUsage =
    "Usage: velmora [URL | --trigger]\n"
    "Rewrites the selected text in any application with a global shortcut.\n"
    "\n"
    "  URL            a velmora: URL (the sign-in callback), handed to the running instance\n"
    "  --trigger      rewrite the selection now, as the shortcut does (for a desktop's own\n"
    "                 shortcut settings)\n"
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

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    using desktop::QtApplication;
    using desktop::SingleInstance;

    // Before anything else: the sign-in callback's URL carries the session token, so it leaves
    // the command line that every local user can read, and the process may not be dumped.
    desktop::hardenProcess();
    std::vector<std::string> arguments = desktop::takeArguments(argc, argv);

    std::optional<std::string> url;
    bool trigger = false;
    // The toolkit sees every argument but the URL (its own options among them).
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
        if (argument == QtApplication::kTriggerLine) {
            trigger = true;
        } else if (argument[0] != '-' && !url) {
            url = argument;
            continue;
        }
        qtArguments.push_back(argument.data());
    }

    // One Velmora per user: a later start hands its URL, or the trigger, to the running one.
    SingleInstance instance;
    switch (instance.start(trigger ? QtApplication::kTriggerLine : url.value_or(""), !trigger)) {
        case SingleInstance::Start::Instance:
            break;
        case SingleInstance::Start::HandedOver:
            return 0;
        case SingleInstance::Start::NotRunning:
            std::fputs("velmora: Velmora is not running; start it first, then trigger it.\n",
                       stderr);
            return 1;
        case SingleInstance::Start::Failed:
            return 1;
    }

    int qtArgc = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication qtApp(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("velmora"));
    QApplication::setOrganizationName(QStringLiteral("velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    // A tray program: closing a notice or the editor must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals(qtApp);

    desktop::LinuxServices services;
    services.application().listen(instance.listenFd());
    const platform::Platform platform = services.platform();

    HUDManager hud(services.windows(), services.mainQueue());
    MendwellApp app(platform, hud, ServiceEndpoints::forHosts(ServiceHosts::fromEnvironment()));

    // The launch runs once the event loop runs; a URL given on the command line follows it.
    services.mainQueue().async([&] {
        app.didFinishLaunching();
        if (url) {
            services.application().deliverUrl(*url);
        }
    });
    QApplication::exec();
    app.willTerminate();
    std::fflush(stdout);
    return 0;
}
