#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/Log.h"
#include "platform/Platform.h"
#include "support/TestMainQueue.h"
#include "ui/hud/HUDManager.h"

// The deterministic test platform: every service in memory, on a virtual clock. Each fake keeps
// what a user or another program would see (the clipboard, what was pasted, the notices, the
// tray menu, the requests on the wire), not the calls that led there.
namespace velmora::testing {

class FakeDefaults : public platform::Defaults {
  public:
    using Value = std::variant<std::string, bool, std::int64_t>;

    std::optional<std::string> stringForKey(const std::string& key) override;
    std::int64_t integerForKey(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override {
        values[key] = value;
    }
    void setBool(const std::string& key, bool value) override { values[key] = value; }
    void setInteger(const std::string& key, std::int64_t value) override { values[key] = value; }
    void removeObject(const std::string& key) override { values.erase(key); }
    std::optional<std::string> storageProblem() const override { return problem; }
    std::optional<std::string> readProblem() const override { return unreadable; }

    std::map<std::string, Value> values;
    std::optional<std::string> problem;
    std::optional<std::string> unreadable;
};

// Secrets by "service/account". A forced result answers every call and changes nothing.
class FakeSecretStore : public platform::SecretStore {
  public:
    platform::SecretResult replace(const platform::SecretKey& key,
                                   const std::string& value) override;
    platform::SecretResult add(const platform::SecretKey& key, const std::string& value) override;
    platform::SecretLookup lookup(const platform::SecretKey& key) override;
    platform::SecretResult remove(const platform::SecretKey& key) override;

    std::optional<std::string> token() const;
    void storeToken(const std::string& token) { secrets[kToken] = token; }

    static constexpr const char* kToken = "com.mendwell.authtoken/sessionToken";
    std::map<std::string, std::string> secrets;
    std::map<std::string, platform::SecretResult> forced;  // by operation: "replace", "add", ...
};

class FakeAlerts : public platform::Alerts {
  public:
    struct Shown {
        platform::AlertRequest request;
        platform::MainQueue::Duration time{0};
    };

    explicit FakeAlerts(TestMainQueue& queue) : queue_(queue) {}
    platform::AlertResponse runModal(const platform::AlertRequest& request) override;

    std::vector<std::string> titles() const;

    // Answers for the next alerts, in order; without one an alert answers its first button with
    // its text field unchanged.
    std::deque<platform::AlertResponse> answers;
    // Runs while an alert is on screen (a press of the shortcut during a notice, say).
    std::function<void()> whileShown;
    std::vector<Shown> shown;

  private:
    TestMainQueue& queue_;
};

// The desktop shows every URL opened, unless it has no browser; it says which on a later turn.
class FakeApplication : public platform::Application {
  public:
    explicit FakeApplication(TestMainQueue& queue) : queue_(queue) {}
    std::optional<std::string> version() const override { return runningVersion; }
    void terminate() override { ++terminateRequests; }
    void openURL(const std::string& url, OpenDone done) override {
        if (hasBrowser) {
            opened.push_back(url);
        }
        queue_.async([done, shown = hasBrowser] {
            if (done) {
                done(shown ? platform::OpenResult::Opened : platform::OpenResult::NotOpened);
            }
        });
    }
    void setUrlHandler(UrlHandler handler) override { urlHandler = std::move(handler); }
    bool startsAtLogin() const override { return atLogin; }
    std::optional<std::string> setStartsAtLogin(bool on) override {
        atLogin = loginRefusal ? atLogin : on;
        return loginRefusal;
    }

    std::optional<std::string> runningVersion = "1.2";
    bool hasBrowser = true;
    bool atLogin = false;
    // Why a change of `atLogin` is refused, when it is.
    std::optional<std::string> loginRefusal;
    std::vector<std::string> opened;  // the URLs the desktop showed
    int terminateRequests = 0;
    UrlHandler urlHandler;

  private:
    TestMainQueue& queue_;
};

class FakeStatusItem : public platform::StatusItem {
  public:
    void setImage(const std::string& name, const std::string&) override { images.push_back(name); }
    void setMenu(platform::Menu newMenu) override { menu = std::move(newMenu); }
    void popUpMenu(platform::Menu popUp) override { popUps.push_back(std::move(popUp)); }

    // The item of the menu with this title, searching submenus too.
    const platform::MenuItem* find(std::string_view title) const;
    // Chooses the item with this title: its action is queued, as the tray does.
    void choose(std::string_view title, TestMainQueue& queue) const;
    std::vector<std::string> titles() const;

    std::vector<std::string> images;
    platform::Menu menu;
    std::vector<platform::Menu> popUps;
};

class FakeTray : public platform::Tray {
  public:
    std::unique_ptr<platform::StatusItem> createStatusItem() override;
    std::string menuLocation() const override { return "Velmora's menu in the system tray"; }
    FakeStatusItem* item = nullptr;
};

class FakePanel : public platform::Panel {
  public:
    explicit FakePanel(TestMainQueue& queue) : queue_(queue) {}
    void setContent(const platform::PanelContent& newContent) override { content = newContent; }
    platform::Size fittingSize(const std::string& message, const std::string&) override;
    void setSize(platform::Size newSize) override { frame.size = newSize; }
    platform::Size size() const override { return frame.size; }
    void setOrigin(platform::Point origin) override { frame.origin = origin; }
    void orderFront() override { onScreen = true; }
    void orderOut() override { onScreen = false; }
    void fadeTo(double alpha, std::chrono::milliseconds duration,
                std::function<void()> done) override;

    platform::PanelContent content;
    platform::Rect frame;
    bool onScreen = false;
    double alpha = 0;

  private:
    TestMainQueue& queue_;
    std::uint64_t fades_ = 0;
};

class FakeWindow : public platform::Window {
  public:
    explicit FakeWindow(platform::ShortcutEditorModel& model) : model(model) {}
    void setTitle(const std::string& newTitle) override { title = newTitle; }
    void setContentSize(platform::Size size) override { frame.size = size; }
    platform::Size frameSize() const override { return frame.size; }
    void setOrigin(platform::Point origin) override { frame.origin = origin; }
    void setFloating(bool value) override { floating = value; }
    void show() override { visible = true; }
    void close() override { visible = false; }
    bool isVisible() const override { return visible; }

    platform::ShortcutEditorModel& model;
    std::string title;
    platform::Rect frame;
    bool floating = false;
    bool visible = false;
};

class FakeWindows : public platform::Windows {
  public:
    explicit FakeWindows(TestMainQueue& queue) : queue_(queue) {}
    std::unique_ptr<platform::Panel> createPanel() override;
    std::unique_ptr<platform::Window> createShortcutEditorWindow(
        platform::ShortcutEditorModel& model) override;
    std::optional<platform::Rect> mainScreenVisibleFrame() override { return screen; }

    std::optional<platform::Rect> screen = platform::Rect{{0, 0}, {1440, 875}};
    FakePanel* panel = nullptr;
    FakeWindow* editor = nullptr;  // the last editor window made (it may be gone)

  private:
    TestMainQueue& queue_;
};

// The desktop the rewrite works on: the focused application with its selection, the clipboard,
// the keystrokes into it and the global shortcut. Copy puts the selection on the clipboard; the
// application reads the clipboard a moment after a paste keystroke, as a real one does, and what
// it read is recorded: a clipboard put back too early pastes the wrong text.
class FakeDesktop : public platform::Clipboard,
                    public platform::Keystrokes,
                    public platform::GlobalShortcuts {
  public:
    using Duration = platform::MainQueue::Duration;
    static constexpr const char* kText = "text/plain";

    explicit FakeDesktop(TestMainQueue& queue) : queue_(queue) {}

    platform::Capability availability() override { return clipboardAvailability; }
    std::optional<std::string> text() override;
    void setText(const std::string& text) override;
    void whenTextTaken(platform::PasteWait wait, TakeDone done) override;
    void clear() override { restore({}); }
    platform::ClipboardSnapshot snapshot() override { return clipboard; }
    void restore(const platform::ClipboardSnapshot& snapshot) override {
        clipboard = snapshot;
        offered_.reset();
    }

    platform::Capability permission(bool mayAsk) override {
        consentRequests += mayAsk ? 1 : 0;
        return keystrokePermission;
    }
    platform::KeystrokeResult send(platform::Keystroke keystroke) override;

    std::unique_ptr<platform::ShortcutBinding> bind(const platform::Shortcut& shortcut,
                                                    Pressed pressed, Outcome outcome) override;
    // The user presses the bound shortcut; false when nothing is bound.
    bool press();
    // Another program, or the user, puts text on the clipboard.
    void copyElsewhere(const std::string& text);

    // The focused application: its selection; whether it is a terminal, whose copy keys do
    // something else without a selection of its own; how long after a paste keystroke it reads
    // the clipboard (never, when none); whether it first asks the user to confirm the paste.
    std::optional<std::string> selection = "selected text";
    bool terminal = false;
    std::optional<Duration> readsPasteAfter = Duration{0};
    bool confirmsPaste = false;
    // The system refuses keystrokes with these words.
    std::optional<std::string> refusesKeys;

    std::vector<std::string> pasted;
    platform::ClipboardSnapshot clipboard;
    std::vector<std::pair<platform::Keystroke, Duration>> typed;
    platform::Capability keystrokePermission = platform::Capability::yes();
    // How often the system could have asked the user for consent.
    int consentRequests = 0;
    platform::Capability clipboardAvailability = platform::Capability::yes();

    platform::BindResult bindResult;
    std::optional<platform::Shortcut> bound;

  private:
    void readForPaste();
    void taken(platform::PasteTake take);

    TestMainQueue& queue_;
    Pressed pressed_;
    std::shared_ptr<int> binding_;
    // The text offered for a paste and the watch on it.
    std::optional<std::string> offered_;
    TakeDone takeDone_;
    std::uint64_t watch_ = 0;
    bool confirming_ = false;
};

// A US keyboard; modifiers drawn as symbols.
class FakeKeyNames : public platform::KeyNames {
  public:
    std::optional<std::string> keyName(platform::Key key) override;
    std::string modifierGlyph(platform::Modifier modifier) override;
};

// Requests wait until the test answers them; the completion runs on the calling thread, standing
// in for the session's own.
class FakeHttp : public platform::HttpSession {
  public:
    struct Pending {
        platform::HttpRequest request;
        Completion completion;
        bool completed = false;
        bool cancelled = false;
    };

    std::unique_ptr<platform::HttpTask> startDataTask(platform::HttpRequest request,
                                                      Completion completion) override;
    void prepare(const std::string& url) override { prepared.push_back(url); }
    void respond(std::size_t index, int status, std::string body = {});
    void fail(std::size_t index, const std::string& description);
    // The requests to `url`, in order.
    std::vector<std::size_t> to(const std::string& url) const;

    std::vector<std::shared_ptr<Pending>> requests;
    // The URLs a request was announced for.
    std::vector<std::string> prepared;
};

// Captures log lines for the lifetime of the object.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    const std::vector<std::string>& lines() const { return lines_; }
    bool contains(std::string_view line) const;
    void clear() { lines_.clear(); }

  private:
    std::vector<std::string> lines_;
    LogSink previous_;
};

class TestPlatform {
  public:
    TestMainQueue queue;
    FakeDefaults defaults;
    FakeSecretStore secrets;
    FakeAlerts alerts{queue};
    FakeApplication application{queue};
    FakeTray tray;
    FakeWindows windows{queue};
    FakeDesktop desktop{queue};
    FakeKeyNames keyNames;
    FakeHttp http;

    const platform::Platform platform{queue,   application, defaults, secrets, alerts,   tray,
                                      windows, desktop,     desktop,  desktop, keyNames, http};
    // The process-wide progress panel's owner.
    HUDManager hud{windows, queue};
};

}  // namespace velmora::testing
