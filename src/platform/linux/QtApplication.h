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

// The running program, and the one instance of it per user (SingleInstance): the instance serves
// the socket on which a later `velmora URL` hands over its URL and a later `velmora --trigger` asks
// it to run the shortcut's action.
class QtApplication : public QObject, public platform::Application {
  public:
    using TriggerHandler = std::function<void()>;

    // The line a second instance sends for `velmora --trigger`.
    static constexpr const char* kTriggerLine = "--trigger";

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

    // Runs `handler` on the main thread, during event dispatch, for every `velmora --trigger`:
    // for shortcut backends whose desktop runs a command instead of handing over a key press.
    void setTriggerHandler(TriggerHandler handler);

    // Takes in the lines other starts send on `listenFd`, a listening socket the caller owns and
    // keeps open while this object lives. Connections from other users are refused.
    void listen(int listenFd);
    // Queues `url` for the URL handler, as if it had come from another instance.
    void deliverUrl(const std::string& url);

  private:
    // One connection from another instance: the line it sends, up to its end.
    struct Peer {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
        std::string received;
    };

    void acceptConnections();
    void readPeer(int fd);
    void handleLine(const QByteArray& line);

    platform::MainQueue& queue_;
    int listenFd_ = -1;
    std::unique_ptr<QSocketNotifier> listenNotifier_;
    std::map<int, Peer> peers_;
    UrlHandler urlHandler_;
    TriggerHandler triggerHandler_;
};

}  // namespace velmora::desktop
