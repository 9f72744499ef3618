#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velmora::platform {

// Delivery of URLs opened with the application's own scheme (velmora:). The handler runs on the
// main thread; its argument is the URL text, or none when the event carried no text.
class UrlEvents {
  public:
    using Handler = std::function<void(const std::optional<std::string>& url)>;

    virtual ~UrlEvents() = default;
    virtual void setHandler(Handler handler) = 0;
    virtual void removeHandler() = 0;
};

}  // namespace velmora::platform
