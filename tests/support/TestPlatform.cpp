#include "support/TestPlatform.h"

#include <algorithm>
#include <utility>

namespace velmora::testing {

// --- Defaults ---------------------------------------------------------------------------------

std::optional<std::string> TestDefaults::stringForKey(const std::string& key) {
    auto it = values.find(key);
    if (it == values.end() || !std::holds_alternative<std::string>(it->second)) {
        return std::nullopt;
    }
    return std::get<std::string>(it->second);
}

bool TestDefaults::boolForKey(const std::string& key) {
    auto it = values.find(key);
    if (it == values.end()) {
        return false;
    }
    if (auto* b = std::get_if<bool>(&it->second)) {
        return *b;
    }
    if (auto* i = std::get_if<std::int64_t>(&it->second)) {
        return *i != 0;
    }
    return false;
}

std::int64_t TestDefaults::integerForKey(const std::string& key) {
    auto it = values.find(key);
    if (it == values.end()) {
        return 0;
    }
    if (auto* i = std::get_if<std::int64_t>(&it->second)) {
        return *i;
    }
    if (auto* b = std::get_if<bool>(&it->second)) {
        return *b ? 1 : 0;
    }
    return 0;
}

void TestDefaults::setString(const std::string& key, const std::string& value) {
    values[key] = value;
    writes.push_back("set " + key);
}

void TestDefaults::setBool(const std::string& key, bool value) {
    values[key] = value;
    writes.push_back("set " + key);
}

void TestDefaults::setInteger(const std::string& key, std::int64_t value) {
    values[key] = value;
    writes.push_back("set " + key);
}

void TestDefaults::removeObject(const std::string& key) {
    values.erase(key);
    writes.push_back("remove " + key);
}

// --- Keychain ---------------------------------------------------------------------------------

namespace {

std::string itemKey(const platform::KeychainIdentity& identity) {
    return identity.service + "/" + identity.account;
}

}  // namespace

platform::OSStatus TestKeychain::update(const platform::KeychainIdentity& identity,
                                        const Bytes& value) {
    calls.push_back({"update", identity, value, std::nullopt});
    if (auto it = forcedStatus.find("update"); it != forcedStatus.end()) {
        return it->second;
    }
    auto it = items.find(itemKey(identity));
    if (it == items.end()) {
        return platform::errSecItemNotFound;
    }
    it->second.value = value;
    return platform::errSecSuccess;
}

platform::OSStatus TestKeychain::add(const platform::KeychainIdentity& identity, const Bytes& value,
                                     platform::KeychainAccessibility accessibility) {
    calls.push_back({"add", identity, value, accessibility});
    if (auto it = forcedStatus.find("add"); it != forcedStatus.end()) {
        return it->second;
    }
    if (items.count(itemKey(identity)) != 0) {
        return -25299;  // errSecDuplicateItem
    }
    items[itemKey(identity)] = Item{value, accessibility};
    return platform::errSecSuccess;
}

platform::OSStatus TestKeychain::copyMatching(const platform::KeychainIdentity& identity,
                                              std::optional<Bytes>& result) {
    calls.push_back({"copyMatching", identity, std::nullopt, std::nullopt});
    if (auto it = forcedStatus.find("copyMatching"); it != forcedStatus.end()) {
        return it->second;
    }
    auto it = items.find(itemKey(identity));
    if (it == items.end()) {
        return platform::errSecItemNotFound;
    }
    if (copyMatchingReturnsNonData) {
        result.reset();
    } else {
        result = it->second.value;
    }
    return platform::errSecSuccess;
}

platform::OSStatus TestKeychain::remove(const platform::KeychainIdentity& identity) {
    calls.push_back({"remove", identity, std::nullopt, std::nullopt});
    if (auto it = forcedStatus.find("remove"); it != forcedStatus.end()) {
        return it->second;
    }
    return items.erase(itemKey(identity)) != 0 ? platform::errSecSuccess
                                               : platform::errSecItemNotFound;
}

std::optional<std::string> TestKeychain::errorMessage(platform::OSStatus status) {
    auto it = messages.find(status);
    if (it == messages.end()) {
        return std::nullopt;
    }
    return it->second;
}

void TestKeychain::storeToken(const std::string& token) {
    items["com.mendwell.authtoken/sessionToken"] =
        Item{Bytes(token.begin(), token.end()), platform::KeychainAccessibility::WhenUnlocked};
}

std::optional<std::string> TestKeychain::storedToken() const {
    auto it = items.find("com.mendwell.authtoken/sessionToken");
    if (it == items.end()) {
        return std::nullopt;
    }
    return std::string(it->second.value.begin(), it->second.value.end());
}

// --- Alerts -----------------------------------------------------------------------------------

platform::AlertResponse TestAlerts::runModal(const platform::AlertRequest& request) {
    platform::AlertResponse response;
    if (!script.empty()) {
        response = script.front();
        script.pop_front();
    } else {
        response.button = platform::alertFirstButtonReturn;
    }
    if (request.textAccessoryInitialText && !response.accessoryText) {
        response.accessoryText = request.textAccessoryInitialText;
    }
    if (!request.textAccessoryInitialText) {
        response.accessoryText.reset();
    }
    shown.push_back({request, response, queue_.now()});
    return response;
}

std::vector<std::string> TestAlerts::titles() const {
    std::vector<std::string> result;
    for (const auto& alert : shown) {
        result.push_back(alert.request.messageText);
    }
    return result;
}

// --- Status item ------------------------------------------------------------------------------

void TestStatusItem::setImage(const platform::StatusImage& newImage) {
    image = newImage;
    images.push_back(newImage);
}

void TestStatusItem::setMenu(platform::Menu newMenu) {
    menu = std::move(newMenu);
    ++menusSet;
}

namespace {

const platform::MenuItem* findIn(const std::vector<platform::MenuItem>& items,
                                 std::string_view title) {
    for (const auto& item : items) {
        if (!item.isSeparator && item.title == title) {
            return &item;
        }
        if (auto* found = findIn(item.submenu, title)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

const platform::MenuItem* TestStatusItem::find(std::string_view title) const {
    return menu ? findIn(menu->items, title) : nullptr;
}

bool TestStatusItem::choose(std::string_view title) const {
    const platform::MenuItem* item = find(title);
    if (!item || !item->action) {
        return false;
    }
    // Copy first: the action may replace the menu that owns the item.
    auto action = item->action;
    action();
    return true;
}

std::shared_ptr<platform::StatusItem> TestStatusBar::statusItem(double length) {
    lengths.push_back(length);
    item = std::make_shared<TestStatusItem>();
    item->button = itemsHaveButton;
    return item;
}

// --- Clipboard --------------------------------------------------------------------------------

std::optional<std::string> TestClipboard::text() {
    for (const auto& [format, bytes] : contents.formats) {
        if (format == kTextFormat || format == "text/plain") {
            return bytes;
        }
    }
    return std::nullopt;
}

void TestClipboard::setText(const std::string& text) {
    std::erase_if(contents.formats,
                  [](const auto& f) { return f.first == kTextFormat || f.first == "text/plain"; });
    contents.formats.emplace_back(kTextFormat, text);
}

// --- Key events -------------------------------------------------------------------------------

std::optional<platform::KeyEvent> TestKeyEvents::createKeyboardEvent(bool, std::uint16_t keyCode,
                                                                     bool keyDown) {
    if ((keyDown && failKeyDown) || (!keyDown && failKeyUp)) {
        return std::nullopt;
    }
    ++eventsCreated;
    return platform::KeyEvent{keyCode, keyDown, 0};
}

void TestKeyEvents::post(const platform::KeyEvent& event) {
    posted.push_back({event, queue_.now()});
    if (onPost) {
        onPost(event);
    }
}

// --- Hot keys ---------------------------------------------------------------------------------

platform::HotKeyStatus TestHotKeys::installEventHandler(Handler handler, void* userData,
                                                        platform::PlatformHandle& outHandle) {
    calls.push_back("installEventHandler");
    if (installStatus != platform::noErr) {
        return installStatus;
    }
    outHandle = nextHandle_++;
    handlers[outHandle] = {handler, userData};
    return platform::noErr;
}

platform::HotKeyStatus TestHotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   platform::HotKeyID id,
                                                   platform::PlatformHandle& outHandle) {
    calls.push_back("registerHotKey " + std::to_string(keyCode) + " " + std::to_string(modifiers));
    if (registerStatus != platform::noErr) {
        return registerStatus;
    }
    outHandle = nextHandle_++;
    registrations[outHandle] = {keyCode, modifiers, id, outHandle};
    return platform::noErr;
}

platform::HotKeyStatus TestHotKeys::unregisterHotKey(platform::PlatformHandle handle) {
    calls.push_back("unregisterHotKey");
    registrations.erase(handle);
    return platform::noErr;
}

platform::HotKeyStatus TestHotKeys::removeEventHandler(platform::PlatformHandle handle) {
    calls.push_back("removeEventHandler");
    handlers.erase(handle);
    return platform::noErr;
}

std::vector<platform::HotKeyStatus> TestHotKeys::press() {
    std::vector<platform::HotKeyStatus> statuses;
    auto current = handlers;
    for (const auto& [handle, entry] : current) {
        statuses.push_back(entry.first(entry.second));
    }
    return statuses;
}

// --- Keyboard layout --------------------------------------------------------------------------

TestKeyboardLayout::TestKeyboardLayout() {
    // The unshifted characters of a US ANSI keyboard, by virtual key code.
    const std::pair<std::uint16_t, const char*> usAnsi[] = {
        {0, "a"},  {1, "s"},   {2, "d"},    {3, "f"},   {4, "h"},  {5, "g"},  {6, "z"},  {7, "x"},
        {8, "c"},  {9, "v"},   {11, "b"},   {12, "q"},  {13, "w"}, {14, "e"}, {15, "r"}, {16, "y"},
        {17, "t"}, {18, "1"},  {19, "2"},   {20, "3"},  {21, "4"}, {22, "6"}, {23, "5"}, {24, "="},
        {25, "9"}, {26, "7"},  {27, "-"},   {28, "8"},  {29, "0"}, {30, "]"}, {31, "o"}, {32, "u"},
        {33, "["}, {34, "i"},  {35, "p"},   {36, "\r"}, {37, "l"}, {38, "j"}, {39, "'"}, {40, "k"},
        {41, ";"}, {42, "\\"}, {43, ","},   {44, "/"},  {45, "n"}, {46, "m"}, {47, "."}, {48, "\t"},
        {49, " "}, {50, "`"},  {53, "\x1b"}};
    for (const auto& [code, text] : usAnsi) {
        keys[code] = text;
    }
}

std::optional<std::string> TestKeyboardLayout::unshiftedCharacters(std::uint16_t keyCode) {
    if (!hasLayout) {
        return std::nullopt;
    }
    auto it = keys.find(keyCode);
    return it == keys.end() ? std::string() : it->second;
}

std::string TestKeyboardLayout::modifierGlyph(platform::Modifier modifier) {
    switch (modifier) {
        case platform::Modifier::Command:
            return "⌘";
        case platform::Modifier::Shift:
            return "⇧";
        case platform::Modifier::Option:
            return "⌥";
        case platform::Modifier::Control:
            return "⌃";
    }
    return {};
}

// --- Panel ------------------------------------------------------------------------------------

void TestPanel::setContent(const platform::HUDViewContent& content) {
    contents.push_back(content);
}

platform::Size TestPanel::measureContent(const std::string& message, const std::string&) {
    // 40 pt symbol, 12 pt spacing, a body line per 28 characters, 20 pt padding; 140-220 wide.
    const double lineWidth = 7.0;
    const double textWidth = std::min(180.0, lineWidth * static_cast<double>(message.size()));
    const double lines = std::max(1.0, static_cast<double>((message.size() + 25) / 26));
    const double width = std::clamp(textWidth + 40.0, 140.0, 220.0);
    return {width, 40.0 + 12.0 + 17.0 * lines + 40.0};
}

void TestPanel::orderFront() {
    onScreen = true;
    ++orderFronts;
}

void TestPanel::orderOut() {
    onScreen = false;
    ++orderOuts;
}

void TestPanel::animateAlpha(double target, double duration, std::function<void()> completion) {
    animations.push_back({target, duration, queue_.now()});
    queue_.asyncAfter(duration, [this, target, completion = std::move(completion)] {
        alpha_ = target;
        if (completion) {
            completion();
        }
    });
}

std::unique_ptr<platform::Panel> TestPanelFactory::createHUDPanel() {
    auto panel = std::make_unique<TestPanel>(queue_);
    panels.push_back(panel.get());
    return panel;
}

// --- Windows ----------------------------------------------------------------------------------

std::shared_ptr<platform::Window> TestWindows::createShortcutEditorWindow(
    std::shared_ptr<platform::ShortcutEditorModel> model, platform::WindowStyle style) {
    auto window = std::make_shared<TestWindow>();
    window->model = std::move(model);
    window->style = style;
    windows.push_back(window);
    return window;
}

// --- HTTP -------------------------------------------------------------------------------------

namespace {

class TestHttpTask : public platform::HttpTask {
  public:
    TestHttpTask(TestHttpSession& session, std::size_t index) : session_(session), index_(index) {}
    void cancel() override {
        auto& pending = *session_.requests[index_];
        if (pending.completed) {
            return;
        }
        pending.cancelled = true;
        session_.fail(index_, platform::httpErrorCancelled, "cancelled");
    }

  private:
    TestHttpSession& session_;
    std::size_t index_;
};

}  // namespace

std::shared_ptr<platform::HttpTask> TestHttpSession::startDataTask(platform::HttpRequest request,
                                                                   Completion completion) {
    requests.push_back(
        std::make_shared<Pending>(Pending{std::move(request), std::move(completion)}));
    return std::make_shared<TestHttpTask>(*this, requests.size() - 1);
}

void TestHttpSession::complete(std::size_t index, std::optional<std::string> body,
                               std::optional<platform::HttpResponse> response,
                               std::optional<platform::HttpError> error) {
    auto pending = requests.at(index);
    if (pending->completed) {
        return;
    }
    pending->completed = true;
    pending->completion(std::move(body), response, std::move(error));
}

void TestHttpSession::respond(std::size_t index, int status, std::optional<std::string> body) {
    complete(index, std::move(body), platform::HttpResponse{true, status}, std::nullopt);
}

void TestHttpSession::fail(std::size_t index, int code, const std::string& description) {
    complete(index, std::nullopt, std::nullopt, platform::HttpError{code, description});
}

// --- Log capture ------------------------------------------------------------------------------

LogCapture::LogCapture() {
    previous_ = setLogSink([this](std::string_view line) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
}

LogCapture::~LogCapture() {
    setLogSink(std::move(previous_));
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

bool LogCapture::contains(std::string_view line) const {
    return indexOf(line) >= 0;
}

int LogCapture::indexOf(std::string_view line) const {
    std::lock_guard lock(mutex_);
    auto it = std::find(lines_.begin(), lines_.end(), line);
    return it == lines_.end() ? -1 : static_cast<int>(it - lines_.begin());
}

// --- Platform ---------------------------------------------------------------------------------

TestPlatform::TestPlatform()
    : platform{queue,          defaults, keychain,  alerts,    workspace, statusBar,     images,
               application,    bundle,   urlEvents, clipboard, keyEvents, accessibility, hotKeys,
               keyboardLayout, panels,   screens,   windows,   http} {}

}  // namespace velmora::testing
