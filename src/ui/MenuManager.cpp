#include "ui/MenuManager.h"

namespace velmora {

std::shared_ptr<MenuManagerDelegate> MenuManager::signedInDelegate() const {
    auto strong = delegate.lock();
    if (!strong || !strong->isAuthenticated() || !strong->authToken()) {
        return nullptr;
    }
    return strong;
}

void MenuManager::selectModel(const platform::MenuItem& sender) {
    auto strong = signedInDelegate();
    if (!strong || !sender.representedObject) {
        return;
    }
    strong->selectModel(*sender.representedObject);
}

void MenuManager::processSelectedTextWrapper(const platform::MenuItem&) {
    if (auto strong = signedInDelegate()) {
        strong->processSelectedText();
    }
}

void MenuManager::editShortcutWrapper(const platform::MenuItem&) {
    if (auto strong = delegate.lock()) {
        strong->showShortcutEditor();
    }
}

void MenuManager::selectCustomStyle(const platform::MenuItem&) {
    if (auto strong = delegate.lock()) {
        strong->setWritingStyle("custom");
    }
}

void MenuManager::selectInformalStyle(const platform::MenuItem&) {
    if (auto strong = delegate.lock()) {
        strong->setWritingStyle("informal");
    }
}

void MenuManager::selectCasualStyle(const platform::MenuItem&) {
    if (auto strong = delegate.lock()) {
        strong->setWritingStyle("casual");
    }
}

void MenuManager::selectConciseStyle(const platform::MenuItem&) {
    if (auto strong = delegate.lock()) {
        strong->setWritingStyle("concise");
    }
}

}  // namespace velmora
