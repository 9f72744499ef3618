#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Log.h"
#include "platform/Platform.h"
#include "support/TestMainQueue.h"
#include "ui/hud/HUDManager.h"

namespace velmora::testing {

class TestDefaults : public platform::Defaults {
  public:
    using Value = std::variant<std::string, bool, std::int64_t>;

    std::optional<std::string> stringForKey(const std::string& key) override;
    bool boolForKey(const std::string& key) override;
    std::int64_t integerForKey(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;
    void setBool(const std::string& key, bool value) override;
    void setInteger(const std::string& key, std::int64_t value) override;
    void removeObject(const std::string& key) override;

    bool contains(const std::string& key) const { return values.count(key) != 0; }

    std::map<std::string, Value> values;
    std::vector<std::string> writes;  // "set key" / "remove key", in order
};

class TestKeychain : public platform::Keychain {
  public:
    struct Item {
        Bytes value;
        std::optional<platform::KeychainAccessibility> accessibility;
    };
    struct Call {
        std::string operation;  // "update", "add", "copyMatching", "remove"
        platform::KeychainIdentity identity;
        std::optional<Bytes> value;
        std::optional<platform::KeychainAccessibility> accessibility;
    };

    platform::OSStatus update(const platform::KeychainIdentity& identity,
                              const Bytes& value) override;
    platform::OSStatus add(const platform::KeychainIdentity& identity, const Bytes& value,
                           platform::KeychainAccessibility accessibility) override;
    platform::OSStatus copyMatching(const platform::KeychainIdentity& identity,
                                    std::optional<Bytes>& result) override;
    platform::OSStatus remove(const platform::KeychainIdentity& identity) override;
    std::optional<std::string> errorMessage(platform::OSStatus status) override;

    void storeToken(const std::string& token);
    std::optional<std::string> storedToken() const;

    std::map<std::string, Item> items;  // keyed by service + "/" + account
    // A status forced on the next calls of an operation ("update", "add", "copyMatching",
    // "remove"); the store is left unchanged by a forced failure.
    std::map<std::string, platform::OSStatus> forcedStatus;
    // copyMatching answers success with no byte buffer.
    bool copyMatchingReturnsNonData = false;
    std::map<platform::OSStatus, std::string> messages;
    std::vector<Call> calls;
};

class TestAlerts : public platform::Alerts {
  public:
    struct Shown {
        platform::AlertRequest request;
        platform::AlertResponse response;
        double time = 0;
    };

    explicit TestAlerts(TestMainQueue& queue) : queue_(queue) {}
    platform::AlertResponse runModal(const platform::AlertRequest& request) override;

    // Answers for the next alerts, in order; without one an alert answers its first button
    // (and the accessory's initial text).
    std::deque<platform::AlertResponse> script;
    std::vector<Shown> shown;

    std::vector<std::string> titles() const;

  private:
    TestMainQueue& queue_;
};

class TestWorkspace : public platform::Workspace {
  public:
    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

class TestStatusItem : public platform::StatusItem {
  public:
    bool hasButton() const override { return button; }
    void setImage(const platform::StatusImage& image) override;
    void setMenu(platform::Menu newMenu) override;

    // The item of the current menu with this title, searching submenus too.
    const platform::MenuItem* find(std::string_view title) const;
    // Runs the action of the item with this title; false when there is none.
    bool choose(std::string_view title) const;

    bool button = true;
    std::optional<platform::StatusImage> image;
    std::vector<platform::StatusImage> images;
    std::optional<platform::Menu> menu;
    int menusSet = 0;
};

class TestStatusBar : public platform::StatusBar {
  public:
    std::shared_ptr<platform::StatusItem> statusItem(double length) override;
    void popUpMenuAtMouseLocation(platform::Menu menu) override { popUps.push_back(menu); }

    bool itemsHaveButton = true;
    std::vector<double> lengths;
    std::shared_ptr<TestStatusItem> item;
    std::vector<platform::Menu> popUps;
};

class TestImages : public platform::Images {
  public:
    bool hasImageNamed(const std::string& name) const override { return names.count(name) != 0; }
    std::set<std::string> names{"AppIcon"};
};

class TestApplication : public platform::Application {
  public:
    void setActivationPolicy(platform::ActivationPolicy policy) override {
        policies.push_back(policy);
    }
    void terminate() override { ++terminateRequests; }
    std::vector<platform::ActivationPolicy> policies;
    int terminateRequests = 0;
};

class TestBundleInfo : public platform::BundleInfo {
  public:
    std::optional<std::string> shortVersionString() const override { return version; }
    std::optional<std::string> version = "1.2";
};

class TestUrlEvents : public platform::UrlEvents {
  public:
    void setHandler(Handler newHandler) override {
        handler = std::move(newHandler);
        ++installs;
    }
    void removeHandler() override {
        handler = nullptr;
        ++removals;
    }
    // Delivers a URL the way the platform does; false when no handler is installed.
    bool deliver(const std::optional<std::string>& url) {
        if (!handler) {
            return false;
        }
        handler(url);
        return true;
    }
    Handler handler;
    int installs = 0;
    int removals = 0;
};

class TestClipboard : public platform::Clipboard {
  public:
    static constexpr const char* kTextFormat = "text/plain;charset=utf-8";

    std::optional<std::string> text() override;
    void clear() override { contents.formats.clear(); }
    void setText(const std::string& text) override;
    platform::ClipboardSnapshot snapshot() override { return contents; }
    void restore(const platform::ClipboardSnapshot& snapshot) override { contents = snapshot; }

    platform::ClipboardSnapshot contents;
};

class TestKeyEvents : public platform::KeyEvents {
  public:
    struct Posted {
        platform::KeyEvent event;
        double time = 0;
    };

    explicit TestKeyEvents(TestMainQueue& queue) : queue_(queue) {}
    bool createSource() override { return sourceAvailable; }
    std::optional<platform::KeyEvent> createKeyboardEvent(bool haveSource, std::uint16_t keyCode,
                                                          bool keyDown) override;
    void post(const platform::KeyEvent& event) override;
    void createAndReleaseEventTap() override { ++eventTaps; }

    bool sourceAvailable = true;
    bool failKeyDown = false;
    bool failKeyUp = false;
    std::vector<Posted> posted;
    int eventsCreated = 0;
    int eventTaps = 0;
    // Runs when an event is posted (a stand-in for the focused application: copy and paste).
    std::function<void(const platform::KeyEvent&)> onPost;

  private:
    TestMainQueue& queue_;
};

class TestAccessibility : public platform::Accessibility {
  public:
    bool isProcessTrusted() override { return trusted; }
    bool isProcessTrustedWithPrompt() override {
        ++prompts;
        return trusted;
    }
    bool trusted = true;
    int prompts = 0;
};

class TestHotKeys : public platform::HotKeys {
  public:
    struct Registration {
        std::uint32_t keyCode;
        std::uint32_t modifiers;
        platform::HotKeyID id;
        platform::PlatformHandle handle;
    };

    platform::HotKeyStatus installEventHandler(Handler handler, void* userData,
                                               platform::PlatformHandle& outHandle) override;
    platform::HotKeyStatus registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                          platform::HotKeyID id,
                                          platform::PlatformHandle& outHandle) override;
    platform::HotKeyStatus unregisterHotKey(platform::PlatformHandle handle) override;
    platform::HotKeyStatus removeEventHandler(platform::PlatformHandle handle) override;

    // Delivers a hot key press to every installed handler, as event dispatch would; returns the
    // statuses the handlers answered.
    std::vector<platform::HotKeyStatus> press();

    platform::HotKeyStatus installStatus = platform::noErr;
    platform::HotKeyStatus registerStatus = platform::noErr;
    std::map<platform::PlatformHandle, std::pair<Handler, void*>> handlers;
    std::map<platform::PlatformHandle, Registration> registrations;
    std::vector<std::string> calls;

  private:
    platform::PlatformHandle nextHandle_ = 1;
};

class TestKeyboardLayout : public platform::KeyboardLayout {
  public:
    TestKeyboardLayout();
    std::optional<std::string> unshiftedCharacters(std::uint16_t keyCode) override;
    std::string modifierGlyph(platform::Modifier modifier) override;

    bool hasLayout = true;
    std::map<std::uint16_t, std::string> keys;  // a US ANSI layout by default
};

class TestPanel : public platform::Panel {
  public:
    struct Animation {
        double target;
        double duration;
        double startedAt;
    };

    explicit TestPanel(TestMainQueue& queue) : queue_(queue) {}
    void setContent(const platform::HUDViewContent& content) override;
    platform::Size measureContent(const std::string& message,
                                  const std::string& systemImage) override;
    void setContentSize(platform::Size size) override { frame_.size = size; }
    platform::Rect frame() const override { return frame_; }
    void setFrameOrigin(platform::Point origin) override { frame_.origin = origin; }
    void orderFront() override;
    void orderOut() override;
    double alpha() const override { return alpha_; }
    void animateAlpha(double target, double duration, std::function<void()> completion) override;

    std::vector<platform::HUDViewContent> contents;
    std::vector<Animation> animations;
    bool onScreen = false;
    int orderFronts = 0;
    int orderOuts = 0;

  private:
    TestMainQueue& queue_;
    platform::Rect frame_;
    double alpha_ = 0;
};

class TestPanelFactory : public platform::PanelFactory {
  public:
    explicit TestPanelFactory(TestMainQueue& queue) : queue_(queue) {}
    std::unique_ptr<platform::Panel> createHUDPanel() override;

    // The panels made so far; owned by their HUD manager.
    std::vector<TestPanel*> panels;

  private:
    TestMainQueue& queue_;
};

class TestScreens : public platform::Screens {
  public:
    std::optional<platform::Rect> mainScreenVisibleFrame() override { return visibleFrame; }
    std::optional<platform::Rect> visibleFrame = platform::Rect{{0, 0}, {1440, 875}};
};

class TestWindow : public platform::Window {
  public:
    void setTitle(const std::string& newTitle) override { title = newTitle; }
    void setContentSize(platform::Size size) override { frame_.size = size; }
    platform::Rect frame() const override { return frame_; }
    void setFrameOrigin(platform::Point origin) override { frame_.origin = origin; }
    void setLevel(int newLevel) override { level = newLevel; }
    void makeKeyAndOrderFront() override { visible = true; }
    void close() override {
        visible = false;
        ++closes;
    }
    bool isVisible() const override { return visible; }

    std::shared_ptr<platform::ShortcutEditorModel> model;
    platform::WindowStyle style;
    std::string title;
    int level = 0;
    bool visible = false;
    int closes = 0;

  private:
    platform::Rect frame_;
};

class TestWindows : public platform::Windows {
  public:
    std::shared_ptr<platform::Window> createShortcutEditorWindow(
        std::shared_ptr<platform::ShortcutEditorModel> model, platform::WindowStyle style) override;
    std::vector<std::shared_ptr<TestWindow>> windows;
};

// Requests are held until the test answers them. The completion runs on the calling thread,
// standing in for the session's background thread.
class TestHttpSession : public platform::HttpSession {
  public:
    struct Pending {
        platform::HttpRequest request;
        Completion completion;
        bool completed = false;
        bool cancelled = false;
    };

    std::shared_ptr<platform::HttpTask> startDataTask(platform::HttpRequest request,
                                                      Completion completion) override;

    // Answers request `index` (0 = first ever made).
    void respond(std::size_t index, int status, std::optional<std::string> body);
    void fail(std::size_t index, int code, const std::string& description);
    void complete(std::size_t index, std::optional<std::string> body,
                  std::optional<platform::HttpResponse> response,
                  std::optional<platform::HttpError> error);
    // The most recent request.
    const Pending& last() const { return *requests.back(); }

    std::vector<std::shared_ptr<Pending>> requests;
};

// Captures log lines for the lifetime of the object.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines() const;
    void clear();
    bool contains(std::string_view line) const;
    // Index of the first line equal to `line`, or -1.
    int indexOf(std::string_view line) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    LogSink previous_;
};

// Every test service, wired into one platform.
class TestPlatform {
  public:
    TestPlatform();

    TestMainQueue queue;
    TestDefaults defaults;
    TestKeychain keychain;
    TestAlerts alerts{queue};
    TestWorkspace workspace;
    TestStatusBar statusBar;
    TestImages images;
    TestApplication application;
    TestBundleInfo bundle;
    TestUrlEvents urlEvents;
    TestClipboard clipboard;
    TestKeyEvents keyEvents{queue};
    TestAccessibility accessibility;
    TestHotKeys hotKeys;
    TestKeyboardLayout keyboardLayout;
    TestPanelFactory panels{queue};
    TestScreens screens;
    TestWindows windows;
    TestHttpSession http;

    const platform::Platform platform;
    // The process-wide HUD manager of this test's "process".
    HUDManager hud{panels, screens, queue};

    TestPanel* panel() const { return panels.panels.empty() ? nullptr : panels.panels.back(); }
};

}  // namespace velmora::testing
