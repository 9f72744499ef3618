#include "support/TestPlatform.h"

#include <algorithm>

namespace velmora::testing {

namespace {

template <typename T>
std::optional<T> valueOf(const std::map<std::string, FakeDefaults::Value>& values,
                         const std::string& key) {
    const auto found = values.find(key);
    if (found == values.end() || !std::holds_alternative<T>(found->second)) {
        return std::nullopt;
    }
    return std::get<T>(found->second);
}

}  // namespace

std::optional<std::string> FakeDefaults::stringForKey(const std::string& key) {
    return valueOf<std::string>(values, key);
}

std::int64_t FakeDefaults::integerForKey(const std::string& key) {
    return valueOf<std::int64_t>(values, key).value_or(0);
}

namespace {

std::string name(const platform::SecretKey& key) {
    return key.service + "/" + key.account;
}

}  // namespace

platform::SecretResult FakeSecretStore::replace(const platform::SecretKey& key,
                                                const std::string& value) {
    if (const auto f = forced.find("replace"); f != forced.end()) {
        return f->second;
    }
    if (!secrets.contains(name(key))) {
        return {platform::SecretStatus::NotFound, ""};
    }
    secrets[name(key)] = value;
    return {};
}

platform::SecretResult FakeSecretStore::add(const platform::SecretKey& key,
                                            const std::string& value) {
    if (const auto f = forced.find("add"); f != forced.end()) {
        return f->second;
    }
    secrets[name(key)] = value;
    return {};
}

platform::SecretLookup FakeSecretStore::lookup(const platform::SecretKey& key) {
    if (const auto f = forced.find("lookup"); f != forced.end()) {
        return {f->second, {}};
    }
    const auto found = secrets.find(name(key));
    if (found == secrets.end()) {
        return {{platform::SecretStatus::NotFound, ""}, {}};
    }
    return {{}, found->second};
}

platform::SecretResult FakeSecretStore::remove(const platform::SecretKey& key) {
    if (const auto f = forced.find("remove"); f != forced.end()) {
        return f->second;
    }
    return secrets.erase(name(key)) ? platform::SecretResult{}
                                    : platform::SecretResult{platform::SecretStatus::NotFound, ""};
}

std::optional<std::string> FakeSecretStore::token() const {
    const auto found = secrets.find(kToken);
    return found == secrets.end() ? std::nullopt : std::optional(found->second);
}

platform::AlertResponse FakeAlerts::runModal(const platform::AlertRequest& request) {
    shown.push_back({request, queue_.now()});
    if (whileShown) {
        whileShown();
    }
    if (answers.empty()) {
        return {0, request.textField};
    }
    platform::AlertResponse answer = answers.front();
    answers.pop_front();
    return answer;
}

std::vector<std::string> FakeAlerts::titles() const {
    std::vector<std::string> result;
    for (const Shown& alert : shown) {
        result.push_back(alert.request.title);
    }
    return result;
}

namespace {

const platform::MenuItem* findIn(const std::vector<platform::MenuItem>& items,
                                 std::string_view title) {
    for (const platform::MenuItem& item : items) {
        if (item.title == title) {
            return &item;
        }
        if (const platform::MenuItem* found = findIn(item.submenu, title)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

const platform::MenuItem* FakeStatusItem::find(std::string_view title) const {
    return findIn(menu.items, title);
}

void FakeStatusItem::choose(std::string_view title, TestMainQueue& queue) const {
    if (const platform::MenuItem* item = find(title); item && item->action) {
        queue.async(item->action);
    }
}

std::vector<std::string> FakeStatusItem::titles() const {
    std::vector<std::string> result;
    for (const platform::MenuItem& item : menu.items) {
        result.push_back(item.isSeparator ? "-" : item.title);
    }
    return result;
}

std::unique_ptr<platform::StatusItem> FakeTray::createStatusItem() {
    auto made = std::make_unique<FakeStatusItem>();
    item = made.get();
    return made;
}

platform::Size FakePanel::fittingSize(const std::string& message, const std::string&) {
    // About the width of the characters, between the panel's minimum and maximum widths.
    const double width = std::clamp(40.0 + 7.0 * static_cast<double>(message.size()), 140.0, 220.0);
    return {width, 110};
}

void FakePanel::fadeTo(double target, std::chrono::milliseconds duration,
                       std::function<void()> done) {
    const std::uint64_t fade = ++fades_;
    // Not through the queue: a fade ends on time also while a notice holds it.
    queue_.asyncAfter(duration, [this, fade, target, done = std::move(done)] {
        if (fade != fades_) {
            return;
        }
        alpha = target;
        if (done) {
            done();
        }
    });
}

std::unique_ptr<platform::Panel> FakeWindows::createPanel() {
    auto made = std::make_unique<FakePanel>(queue_);
    panel = made.get();
    return made;
}

std::unique_ptr<platform::Window> FakeWindows::createShortcutEditorWindow(
    platform::ShortcutEditorModel& model) {
    auto made = std::make_unique<FakeWindow>(model);
    editor = made.get();
    return made;
}

std::optional<std::string> FakeDesktop::text() {
    for (const auto& [format, bytes] : clipboard.formats) {
        if (format == kText) {
            return bytes;
        }
    }
    return std::nullopt;
}

void FakeDesktop::setText(const std::string& text) {
    clipboard = {{{kText, text}}, {}};
    offered_ = text;
}

void FakeDesktop::copyElsewhere(const std::string& text) {
    clipboard = {{{kText, text}}, {}};
    offered_.reset();
    taken(platform::PasteTake::Replaced);
}

void FakeDesktop::whenTextTaken(platform::PasteWait wait, TakeDone done) {
    takeDone_ = std::move(done);
    confirming_ = false;
    const std::uint64_t watch = ++watch_;
    queue_.asyncAfter(wait.patience, [this, watch] {
        if (watch == watch_ && !confirming_) {
            taken(platform::PasteTake::NotTaken);
        }
    });
    queue_.asyncAfter(wait.whileConfirming, [this, watch] {
        if (watch == watch_) {
            taken(platform::PasteTake::NotTaken);
        }
    });
}

void FakeDesktop::taken(platform::PasteTake take) {
    if (auto done = std::move(takeDone_)) {
        takeDone_ = nullptr;
        ++watch_;
        done(take);
    }
}

platform::KeystrokeResult FakeDesktop::send(platform::Keystroke keystroke) {
    const bool copy = keystroke == platform::Keystroke::Copy;
    if (refusesKeys) {
        return platform::KeystrokeResult::failed(*refusesKeys);
    }
    if (copy && terminal && !selection) {
        return platform::KeystrokeResult::nothingSelected();
    }
    typed.emplace_back(keystroke, queue_.now());
    if (copy && selection) {
        copyElsewhere(*selection);
    } else if (!copy && readsPasteAfter) {
        confirming_ = confirmsPaste;
        queue_.asyncAfter(*readsPasteAfter, [this] { readForPaste(); });
    }
    return platform::KeystrokeResult::sent();
}

// The application takes whatever the clipboard holds when it reads.
void FakeDesktop::readForPaste() {
    confirming_ = false;
    const std::optional<std::string> read = text();
    pasted.push_back(read.value_or(""));
    if (read && read == offered_) {
        taken(platform::PasteTake::Taken);
    }
}

std::unique_ptr<platform::ShortcutBinding> FakeDesktop::bind(const platform::Shortcut& shortcut,
                                                             Pressed pressed, Outcome outcome) {
    class Binding : public platform::ShortcutBinding {
      public:
        Binding(FakeDesktop& desktop, std::shared_ptr<int> token)
            : desktop_(desktop), token_(std::move(token)) {}
        ~Binding() override {
            if (desktop_.binding_ == token_) {
                desktop_.bound.reset();
                desktop_.pressed_ = nullptr;
            }
        }

      private:
        FakeDesktop& desktop_;
        std::shared_ptr<int> token_;
    };
    binding_ = std::make_shared<int>(0);
    if (bindResult.status == platform::BindStatus::Bound) {
        bound = shortcut;
        pressed_ = std::move(pressed);
    }
    outcome(bindResult);
    return std::make_unique<Binding>(*this, binding_);
}

bool FakeDesktop::press() {
    if (!pressed_) {
        return false;
    }
    pressed_();
    return true;
}

std::optional<std::string> FakeKeyNames::keyName(platform::Key key) {
    static const std::map<std::uint16_t, std::string> kUs = {
        {30, "a"}, {48, "b"}, {46, "c"}, {32, "d"}, {18, "e"}, {33, "f"}, {34, "g"},
        {35, "h"}, {23, "i"}, {36, "j"}, {37, "k"}, {38, "l"}, {50, "m"}, {49, "n"},
        {24, "o"}, {25, "p"}, {16, "q"}, {19, "r"}, {31, "s"}, {20, "t"}, {22, "u"},
        {47, "v"}, {17, "w"}, {45, "x"}, {21, "y"}, {44, "z"}, {57, " "}, {39, "ß"},
    };
    const auto found = kUs.find(key.position);
    return found == kUs.end() ? std::nullopt : std::optional(found->second);
}

std::string FakeKeyNames::modifierGlyph(platform::Modifier modifier) {
    switch (modifier) {
        case platform::Modifier::Control:
            return "Ctrl+";
        case platform::Modifier::Shift:
            return "Shift+";
        case platform::Modifier::Alt:
            return "Alt+";
        case platform::Modifier::Super:
            return "Super+";
    }
    return {};
}

std::unique_ptr<platform::HttpTask> FakeHttp::startDataTask(platform::HttpRequest request,
                                                            Completion completion) {
    class Task : public platform::HttpTask {
      public:
        explicit Task(std::shared_ptr<Pending> pending) : pending_(std::move(pending)) {}
        void cancel() override {
            if (pending_->completed) {
                return;
            }
            pending_->cancelled = true;
            pending_->completed = true;
            pending_->completion(platform::HttpError{true, "cancelled"});
        }

      private:
        std::shared_ptr<Pending> pending_;
    };
    auto pending = std::make_shared<Pending>(Pending{std::move(request), std::move(completion)});
    requests.push_back(pending);
    return std::make_unique<Task>(pending);
}

void FakeHttp::respond(std::size_t index, int status, std::string body) {
    Pending& pending = *requests.at(index);
    if (!pending.completed) {
        pending.completed = true;
        pending.completion(platform::HttpReply{status, std::move(body)});
    }
}

void FakeHttp::fail(std::size_t index, const std::string& description) {
    Pending& pending = *requests.at(index);
    if (!pending.completed) {
        pending.completed = true;
        pending.completion(platform::HttpError{false, description});
    }
}

std::vector<std::size_t> FakeHttp::to(const std::string& url) const {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i]->request.url == url) {
            found.push_back(i);
        }
    }
    return found;
}

LogCapture::LogCapture()
    : previous_(setLogSink([this](std::string_view line) { lines_.emplace_back(line); })) {}

LogCapture::~LogCapture() {
    setLogSink(previous_);
}

bool LogCapture::contains(std::string_view line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

}  // namespace velmora::testing
