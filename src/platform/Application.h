#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velmora::platform {

// What became of a URL handed to the desktop: shown, or not (no opener, no handler for it, or the
// opener failed).
enum class OpenResult { Opened, NotOpened };

// The running program.
class Application {
  public:
    using UrlHandler = std::function<void(const std::optional<std::string>& url)>;
    using OpenDone = std::function<void(OpenResult result)>;

    virtual ~Application() = default;
    // The release version ("1.4.0"), or none.
    virtual std::optional<std::string> version() const = 0;
    // Asks the program to end; the shutdown runs before the process exits.
    virtual void terminate() = 0;
    // Opens a URL with the user's default handler (the browser for https) and tells `done`, once,
    // on the main queue, whether it was shown. That can take seconds: the opener may fail only
    // after trying several browsers.
    virtual void openURL(const std::string& url, OpenDone done = {}) = 0;
    // Receives URLs opened with the program's own scheme (velmora:) on the main queue: the URL
    // text, or none when the event carried no text. An empty handler stops the delivery.
    virtual void setUrlHandler(UrlHandler handler) = 0;

    // Whether the program starts when the user logs in.
    virtual bool startsAtLogin() const = 0;
    // Makes the program start at login, or no longer: none when done, else why not, in plain
    // words.
    virtual std::optional<std::string> setStartsAtLogin(bool on) = 0;
};

}  // namespace velmora::platform
