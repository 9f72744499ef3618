#include "platform/linux/LinuxServices.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>

#include "base/Log.h"
#include "platform/linux/DesktopNotification.h"
#include "platform/linux/HelperHttpSession.h"
#include "platform/linux/ProcessHardening.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtDefaults.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtTray.h"
#include "platform/linux/QtWindows.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/X11Clipboard.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11GlobalShortcuts.h"
#include "platform/linux/X11KeyNames.h"
#include "platform/linux/XTestKeystrokes.h"
#include "platform/linux/portal/PortalGlobalShortcuts.h"
#include "platform/linux/portal/PortalKeystrokes.h"
#include "platform/linux/portal/TriggerRepeats.h"
#include "platform/linux/wayland/WaylandClipboard.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WaylandKeystrokes.h"

namespace velmora::desktop {
namespace {

// Where no clipboard can be reached at all.
class NoClipboard : public platform::Clipboard {
  public:
    explicit NoClipboard(std::string explanation) : explanation_(std::move(explanation)) {}
    platform::Capability availability() override { return platform::Capability::no(explanation_); }
    std::optional<std::string> text() override { return std::nullopt; }
    void setText(const std::string&) override {}
    void whenTextTaken(platform::PasteWait, TakeDone done) override {
        done(platform::PasteTake::NotTaken);
    }
    void clear() override {}
    platform::ClipboardSnapshot snapshot() override { return {}; }
    void restore(const platform::ClipboardSnapshot&) override {}

  private:
    std::string explanation_;
};

// The setting that remembers that the user has a key of the desktop's own for `velmora --trigger`.
constexpr const char* kTriggerReceivedKey = "TriggerCommandReceived";
// How long a `velmora --trigger` that started Velmora waits for it to be ready to rewrite. Later
// than this the user has likely moved on, and a rewrite would surprise.
constexpr int kStartTriggerWaitMs = 15000;

// Any shortcut backend, plus the `velmora --trigger` command: a key the user binds to it in the
// desktop's settings acts like the shortcut, whether or not Velmora could bind one itself. Once
// such a trigger has come, a backend that cannot bind says so only in the log. A trigger that
// comes before the launch has bound the shortcut (the one that started Velmora) waits for it.
class CommandTriggeredShortcuts : public platform::GlobalShortcuts {
  public:
    CommandTriggeredShortcuts(std::unique_ptr<platform::GlobalShortcuts> backend,
                              QtApplication& application, platform::Defaults& defaults,
                              std::chrono::milliseconds letGoWait = {})
        : backend_(std::move(backend)),
          defaults_(defaults),
          repeats_([this] { triggered(); }, letGoWait) {
        application.setTriggerHandler([this] { repeats_.trigger(); });
        waitForBinding_.setSingleShot(true);
        QObject::connect(&waitForBinding_, &QTimer::timeout, &waitForBinding_,
                         [] { tellTriggerFailed(); });
    }

    std::unique_ptr<platform::ShortcutBinding> bind(const platform::Shortcut& shortcut,
                                                    Pressed pressed, Outcome outcome) override {
        const int id = ++lastId_;
        pressed_ = pressed;
        if (waitForBinding_.isActive()) {
            waitForBinding_.stop();
            // After the launch that binds has returned.
            QTimer::singleShot(0, &waitForBinding_, [this] { triggered(); });
        }
        auto inner = backend_->bind(
            shortcut, std::move(pressed),
            [this, outcome = std::move(outcome)](const platform::BindResult& result) {
                outcome(result.status == platform::BindStatus::Unavailable &&
                                defaults_.integerForKey(kTriggerReceivedKey) != 0
                            ? platform::BindResult{platform::BindStatus::BoundByDesktop,
                                                   "No global shortcut here; the desktop's own "
                                                   "key for velmora --trigger starts a rewrite.",
                                                   std::nullopt}
                            : result);
            });
        return std::make_unique<Binding>(*this, id, std::move(inner));
    }

  private:
    class Binding : public platform::ShortcutBinding {
      public:
        Binding(CommandTriggeredShortcuts& owner, int id,
                std::unique_ptr<platform::ShortcutBinding> inner)
            : owner_(owner), id_(id), inner_(std::move(inner)) {}
        ~Binding() override {
            if (owner_.lastId_ == id_) {
                owner_.pressed_ = nullptr;
            }
        }

      private:
        CommandTriggeredShortcuts& owner_;
        int id_;
        std::unique_ptr<platform::ShortcutBinding> inner_;
    };

    void triggered() {
        if (defaults_.integerForKey(kTriggerReceivedKey) == 0) {
            defaults_.setBool(kTriggerReceivedKey, true);
        }
        if (pressed_) {
            // `pressed` may end the binding that holds it.
            const Pressed pressed = pressed_;
            pressed();
        } else if (lastId_ == 0) {
            waitForBinding_.start(kStartTriggerWaitMs);
        }
    }

    static void tellTriggerFailed() {
        tellUser("Nothing Rewritten",
                 "Velmora took too long to start, so the text you selected was not rewritten. "
                 "Press the key again.");
    }

    std::unique_ptr<platform::GlobalShortcuts> backend_;
    platform::Defaults& defaults_;
    Pressed pressed_;
    TriggerRepeats repeats_;
    int lastId_ = 0;
    // Runs while a trigger waits for the first binding.
    QTimer waitForBinding_;
};

// How long a press of `velmora --trigger` waits for the user to let go of the shortcut's keys
// (or their repeats to end) where Velmora's keys would meet them: about half a second for a press
// as people make one, the key held 0.3 s and the modifiers let go just after it.
constexpr std::chrono::milliseconds kCommandLetGoWait(700);

// velmora-https beside the program (a build tree), else in the libexec folder of the prefix the
// program is installed in, wherever a package put that prefix.
std::string httpsHelperPath() {
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString beside = programDir + QStringLiteral("/velmora-https");
    if (QFileInfo(beside).isExecutable()) {
        return beside.toStdString();
    }
    return (programDir + QStringLiteral("/" VELMORA_LIBEXEC_FROM_BINDIR "/velmora-https"))
        .toStdString();
}

// More window classes to treat as terminals: the "TerminalWindowClasses" setting, a
// comma-separated list, read through the settings store like every other setting.
std::vector<std::string> extraTerminalClasses(platform::Defaults& defaults) {
    std::vector<std::string> classes;
    const QString value =
        QString::fromStdString(defaults.stringForKey("TerminalWindowClasses").value_or(""));
    for (const QString& name : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        classes.push_back(name.trimmed().toStdString());
    }
    return classes;
}

}  // namespace

LinuxServices::LinuxServices()
    : mainQueue_(std::make_unique<QtMainQueue>()),
      application_(std::make_unique<QtApplication>(*mainQueue_)),
      defaults_(std::make_unique<QtDefaults>()),
      secrets_(std::make_unique<SecretServiceStore>()),
      alerts_(std::make_unique<QtAlerts>()),
      tray_(std::make_unique<QtTray>(*mainQueue_)),
      windows_(std::make_unique<QtWindows>()),
      http_(std::make_unique<HelperHttpSession>(httpsHelperPath(),
                                                HelperHttpSession::Limits::standard())) {
    application_->setReopenHandler([this] { tray_->reopen(); });
    application_->setActionHandler([this](const std::string& name) { tray_->performAction(name); });
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        useX11();
    } else {
        useWayland();
    }
}

LinuxServices::~LinuxServices() = default;

void LinuxServices::useX11() {
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    auto connection = std::make_shared<X11Connection>(x11);
    x11Clipboard_ = makeX11Clipboard();
    keystrokes_ = std::make_unique<XTestKeystrokes>(
        connection, x11Clipboard_.get(), TerminalWindows(extraTerminalClasses(*defaults_)));
    shortcuts_ = std::make_unique<CommandTriggeredShortcuts>(std::make_unique<X11GlobalShortcuts>(),
                                                             *application_, *defaults_);
    keyNames_ = std::make_unique<X11KeyNames>(connection);
    if (!x11Clipboard_) {
        clipboard_ = std::make_unique<NoClipboard>(
            "Velmora found neither an X display nor a Wayland compositor to reach the clipboard "
            "through. Start it from your desktop session.");
    }
}

// Each capability comes from the first that works: the compositor's own protocols (wlroots
// compositors, KWin), then the desktop portals (KDE, GNOME 48+), then XWayland for the clipboard.
void LinuxServices::useWayland() {
    letDesktopPortalsIdentifyProcess();
    clipboardConnection_ = WaylandConnection::open();
    clipboard_ = clipboardConnection_ ? makeDataControlClipboard(clipboardConnection_) : nullptr;
    if (!clipboard_ && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        x11Clipboard_ = makeX11Clipboard();
    }
    if (!clipboard_ && !x11Clipboard_) {
        clipboard_ = std::make_unique<NoClipboard>(
            "This desktop does not let programs in the background use the clipboard, and there "
            "is no X11 display (XWayland) to reach it through instead. Velmora cannot copy or "
            "paste here; an X11 session works.");
    }

    // A compositor that refuses the virtual keyboard drops the connection it was asked on.
    keyboardConnection_ = WaylandConnection::open();
    keystrokes_ =
        keyboardConnection_ ? makeVirtualKeyboardKeystrokes(keyboardConnection_) : nullptr;
    if (!keystrokes_) {
        keyboardConnection_.reset();
        keystrokes_ = std::make_unique<PortalKeystrokes>([this] { return tray_->menuLocation(); });
    }
    // The portal's keyboard shares the desktop's key state with the user's, which may still hold
    // the shortcut whose command ran: a press waits for its keys to be let go.
    shortcuts_ = std::make_unique<CommandTriggeredShortcuts>(
        std::make_unique<PortalGlobalShortcuts>(), *application_, *defaults_,
        keyboardConnection_ ? std::chrono::milliseconds(0) : kCommandLetGoWait);
    keyNames_ = std::make_unique<X11KeyNames>(nullptr);
    const char* clipboardRoute = x11Clipboard_ ? "XWayland" : "data-control";
    logLine(std::string("Wayland session: clipboard through ") +
            (clipboard_ && !clipboard_->availability().available ? "nothing" : clipboardRoute) +
            ", keystrokes through " +
            (keyboardConnection_ ? "a virtual keyboard" : "the RemoteDesktop portal") + ".");
}

platform::Platform LinuxServices::platform() const {
    platform::Clipboard& clipboard = x11Clipboard_ ? *x11Clipboard_ : *clipboard_;
    return {*mainQueue_, *application_, *defaults_,   *secrets_,   *alerts_,   *tray_,
            *windows_,   clipboard,     *keystrokes_, *shortcuts_, *keyNames_, *http_};
}

}  // namespace velmora::desktop
