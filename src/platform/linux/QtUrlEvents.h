#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/UrlEvents.h"

class QLocalServer;

namespace velmora::desktop {

// velmora: URLs. The first instance listens on a local socket only its user can reach; later
// `velmora URL` invocations hand their argument to it and exit. URLs reach the handler on the
// main queue.
class QtUrlEvents : public QObject, public platform::UrlEvents {
  public:
    explicit QtUrlEvents(platform::MainQueue& queue);
    ~QtUrlEvents() override;

    void setHandler(Handler handler) override;
    void removeHandler() override;

    // Becomes the instance others talk to; false when the socket cannot be made.
    bool listen();
    // Queues `url` for the handler, as if it had arrived from another instance.
    void deliver(const std::string& url);

    // Where the instance socket lives: $XDG_RUNTIME_DIR/velmora.socket, or a private directory
    // under the temporary directory when there is no runtime directory.
    static QString socketPath();
    // Hands `argument` to a running instance. False when none is listening.
    static bool sendToRunningInstance(const std::string& argument);

  private:
    void acceptConnections();

    platform::MainQueue& queue_;
    QLocalServer* server_ = nullptr;
    Handler handler_;
};

}  // namespace velmora::desktop
