#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/Application.h"
#include "platform/MainQueue.h"

class QSocketNotifier;

namespace velmora::desktop {

struct InstanceRequest;

// The running program, and the one instance of it per user (SingleInstance). The instance serves
// the socket on which a later start hands over its request (a URL, the trigger, a launcher's
// action, or only "show yourself"), and owns the application's name on the session bus, where
// launchers that activate applications over D-Bus (DBusActivatable) reach it through
// org.freedesktop.Application: Activate, Open with URLs, ActivateAction.
class QtApplication : public QObject, public platform::Application {
  public:
    using TriggerHandler = std::function<void()>;
    using ReopenHandler = std::function<void()>;
    using ActionHandler = std::function<void(const std::string& name)>;

    // The application's id: its desktop entry's name and its name on the session bus.
    static constexpr const char* kApplicationId = "app.velmora.Velmora";

    explicit QtApplication(platform::MainQueue& queue);
    ~QtApplication() override;

    std::optional<std::string> version() const override;
    // Leaves the event loop; the entry point then runs the shutdown.
    void terminate() override;
    // Runs xdg-open in a session of its own, so the browser it may start outlives Velmora's
    // terminal. The page counts as shown when the opener succeeds, or is still running a few
    // seconds on (it keeps a browser it started in its foreground).
    void openURL(const std::string& url, OpenDone done) override;
    void setUrlHandler(UrlHandler handler) override;
    bool startsAtLogin() const override;
    std::optional<std::string> setStartsAtLogin(bool on) override;

    // Runs `handler` on the main thread, during event dispatch, for every `velmora --trigger`:
    // for shortcut backends whose desktop runs a command instead of handing over a key press.
    void setTriggerHandler(TriggerHandler handler);
    // Runs on the main thread, during event dispatch, when the user starts Velmora again.
    void setReopenHandler(ReopenHandler handler);
    // Runs on the main queue for a desktop launcher's action.
    void setActionHandler(ActionHandler handler);

    // Takes in the requests other starts send on `listenFd`, a listening socket the caller owns and
    // keeps open while this object lives. Connections from other users are refused.
    void listen(int listenFd);
    // Takes the application's name on the session bus and serves org.freedesktop.Application
    // there. Only the instance may: the name then leads to it alone.
    void serveSessionBus();
    // Performs `request` as if it had come from another start.
    void perform(const InstanceRequest& request);
    // Queues `url` for the URL handler, as if it had come from another instance.
    void deliverUrl(const std::string& url);

  private:
    class BusAdaptor;

    // One connection from another instance: the line it sends, up to its end.
    struct Peer {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
        std::string received;
    };

    void acceptConnections();
    void readPeer(int fd);
    void reopen();
    void performAction(const std::string& name);

    platform::MainQueue& queue_;
    int listenFd_ = -1;
    std::unique_ptr<QSocketNotifier> listenNotifier_;
    std::map<int, Peer> peers_;
    UrlHandler urlHandler_;
    TriggerHandler triggerHandler_;
    ReopenHandler reopenHandler_;
    ActionHandler actionHandler_;
    std::unique_ptr<BusAdaptor> busAdaptor_;
};

}  // namespace velmora::desktop
