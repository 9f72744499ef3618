#pragma once

#include "platform/Accessibility.h"
#include "platform/Alerts.h"
#include "platform/Application.h"
#include "platform/Clipboard.h"
#include "platform/Defaults.h"
#include "platform/HotKeys.h"
#include "platform/Http.h"
#include "platform/KeyEvents.h"
#include "platform/Keychain.h"
#include "platform/MainQueue.h"
#include "platform/Panel.h"
#include "platform/StatusItem.h"
#include "platform/UrlEvents.h"
#include "platform/Windows.h"
#include "platform/Workspace.h"

namespace velmora::platform {

// The services the logic reaches the operating system through, one per role. The entry point
// (or a test) owns the implementations; they outlive every user of this struct.
struct Platform {
    MainQueue& mainQueue;
    Defaults& defaults;
    Keychain& keychain;
    Alerts& alerts;
    Workspace& workspace;
    StatusBar& statusBar;
    Images& images;
    Application& application;
    BundleInfo& bundle;
    UrlEvents& urlEvents;
    Clipboard& clipboard;
    KeyEvents& keyEvents;
    Accessibility& accessibility;
    HotKeys& hotKeys;
    KeyboardLayout& keyboardLayout;
    PanelFactory& panels;
    Screens& screens;
    Windows& windows;
    HttpSession& http;
};

}  // namespace velmora::platform
