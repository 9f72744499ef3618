#pragma once

#include <optional>
#include <string>

#include "platform/StatusItem.h"

namespace velmora {

class MenuManagerDelegate {
  public:
    virtual ~MenuManagerDelegate() = default;
    virtual bool isAuthenticated() const = 0;
    virtual const std::optional<std::string>& authToken() const = 0;
    virtual void selectModel(const std::string& name) = 0;
    virtual void processSelectedText() = 0;
    virtual void showShortcutEditor() = 0;
    virtual void setWritingStyle(const std::string& key) = 0;
};

// A second action target that forwards menu commands to its delegate.
class MenuManager {
  public:
    // The application delegate, which owns this manager; never owned from here.
    MenuManagerDelegate* delegate = nullptr;

    void selectModel(const platform::MenuItem& sender);
    void processSelectedTextWrapper(const platform::MenuItem& sender);
    void editShortcutWrapper(const platform::MenuItem& sender);
    void selectCustomStyle(const platform::MenuItem& sender);
    void selectInformalStyle(const platform::MenuItem& sender);
    void selectCasualStyle(const platform::MenuItem& sender);
    void selectConciseStyle(const platform::MenuItem& sender);

  private:
    MenuManagerDelegate* signedInDelegate() const;
};

}  // namespace velmora
