#include "platform/linux/portal/CommandShortcut.h"

#include <QCoreApplication>

namespace velmora::desktop {
namespace {

// The path as a shell reads it: quoted when it holds anything a shell would split or expand.
std::string shellWord(const std::string& word) {
    if (word.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+") ==
        std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string runningProgram() {
    if (QCoreApplication::instance() == nullptr) {
        return "velmora";
    }
    return QCoreApplication::applicationFilePath().toStdString();
}

}  // namespace

class CommandShortcut::Binding : public platform::ShortcutBinding {
  public:
    Binding(CommandShortcut& owner, int id) : owner_(owner), id_(id) {}
    ~Binding() override {
        if (owner_.currentId_ == id_) {
            owner_.currentId_ = 0;
            owner_.current_ = nullptr;
        }
    }

  private:
    CommandShortcut& owner_;
    int id_;
};

CommandShortcut::CommandShortcut(std::string program)
    : commandLine_(shellWord(program.empty() ? runningProgram() : program) + " --trigger") {}

std::unique_ptr<platform::ShortcutBinding> CommandShortcut::bind(const platform::Shortcut&,
                                                                 Pressed pressed, Outcome outcome) {
    currentId_ = nextId_++;
    current_ = std::move(pressed);
    auto binding = std::make_unique<Binding>(*this, currentId_);
    if (outcome) {
        outcome({platform::BindStatus::Unavailable,
                 "This desktop does not let programs set global shortcuts. " + advice(),
                 std::nullopt});
    }
    return binding;
}

void CommandShortcut::pressFromCommand() {
    if (current_) {
        // A copy: the callback may replace the binding.
        const Pressed pressed = current_;
        pressed();
    }
}

std::string CommandShortcut::advice() const {
    return "To start a rewrite with a key anyway, open your desktop's keyboard settings, add a "
           "custom shortcut that runs the command\n\n    " +
           commandLine_ + "\n\nand give it the keys you want to use.";
}

}  // namespace velmora::desktop
