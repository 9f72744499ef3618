#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/Application.h"
#include "platform/MainQueue.h"

class QSocketNotifier;

namespace velmora::desktop {

// The running program, and the one instance of it per user: the first instance listens on a
// local socket only its user can reach; a later `velmora URL` hands its URL over and exits, a
// later `velmora --trigger` asks it to run the shortcut's action.
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
    void openURL(const std::string& url) override;
    void setUrlHandler(UrlHandler handler) override;

    // Runs `handler` on the main thread, during event dispatch, for every `velmora --trigger`:
    // for shortcut backends whose desktop runs a command instead of handing over a key press.
    void setTriggerHandler(TriggerHandler handler);

    // Becomes the instance others talk to; false when the socket cannot be made.
    bool listen();
    // Queues `url` for the URL handler, as if it had come from another instance.
    void deliverUrl(const std::string& url);

    // Where the instance socket lives: $XDG_RUNTIME_DIR/velmora.socket, or a private directory
    // under the temporary directory when there is no runtime directory.
    static QString socketPath();
    // Hands one line to a running instance. False when none is listening.
    static bool sendToRunningInstance(const std::string& line);

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
