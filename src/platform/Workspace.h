#pragma once

#include <string>

namespace velmora::platform {

// Opens URLs with the user's default handler (the browser for https). The result is advisory:
// callers never act on it.
class Workspace {
  public:
    virtual ~Workspace() = default;
    virtual bool openURL(const std::string& url) = 0;
};

}  // namespace velmora::platform
