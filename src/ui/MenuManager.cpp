#include "ui/MenuManager.h"

namespace velmora {

MenuManagerDelegate* MenuManager::signedInDelegate() const {
    if (!delegate || !delegate->isAuthenticated() || !delegate->authToken()) {
        return nullptr;
    }
    return delegate;
}

void MenuManager::selectModel(const platform::MenuItem& sender) {
    auto* strong = signedInDelegate();
    if (!strong || !sender.representedObject) {
        return;
    }
    strong->selectModel(*sender.representedObject);
}

void MenuManager::processSelectedTextWrapper(const platform::MenuItem&) {
    if (auto* strong = signedInDelegate()) {
        strong->processSelectedText();
    }
}

void MenuManager::editShortcutWrapper(const platform::MenuItem&) {
    if (auto* strong = delegate) {
        strong->showShortcutEditor();
    }
}

void MenuManager::selectCustomStyle(const platform::MenuItem&) {
    if (auto* strong = delegate) {
        strong->setWritingStyle("custom");
    }
}

void MenuManager::selectInformalStyle(const platform::MenuItem&) {
    if (auto* strong = delegate) {
        strong->setWritingStyle("informal");
    }
}

void MenuManager::selectCasualStyle(const platform::MenuItem&) {
    if (auto* strong = delegate) {
        strong->setWritingStyle("casual");
    }
}

void MenuManager::selectConciseStyle(const platform::MenuItem&) {
    if (auto* strong = delegate) {
        strong->setWritingStyle("concise");
    }
}

}  // namespace velmora
