#pragma once

#include "platform/Alerts.h"
#include "platform/Application.h"
#include "platform/Clipboard.h"
#include "platform/Defaults.h"
#include "platform/GlobalShortcuts.h"
#include "platform/Http.h"
#include "platform/Keys.h"
#include "platform/Keystrokes.h"
#include "platform/MainQueue.h"
#include "platform/SecretStore.h"
#include "platform/StatusItem.h"
#include "platform/Windows.h"

namespace velmora::platform {

// The services the logic reaches the operating system through, one per need. The entry point (or
// a test) owns the implementations; they outlive every user of this struct.
struct Platform {
    MainQueue& mainQueue;
    Application& application;
    Defaults& defaults;
    SecretStore& secrets;
    Alerts& alerts;
    Tray& tray;
    Windows& windows;
    Clipboard& clipboard;
    Keystrokes& keystrokes;
    GlobalShortcuts& shortcuts;
    KeyNames& keyNames;
    HttpSession& http;
};

}  // namespace velmora::platform
