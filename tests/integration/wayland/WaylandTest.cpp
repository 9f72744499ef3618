// The data-control clipboard against a real compositor (a headless sway from run-in-compositor.sh),
// with wl-clipboard's programs and a second Velmora process as the other clients. The virtual
// keyboard is tested end to end (run-rewrite.sh).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <thread>
#include <vector>

#include "platform/linux/wayland/WaylandClipboard.h"
#include "platform/linux/wayland/WaylandConnection.h"

using namespace velmora;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What the other owner holds: a text, an image and a format of its own.
const platform::ClipboardSnapshot kHeld = {
    {{"text/plain", "two\nlines"},
     {"image/png", std::string("\x89PNG\r\n\x1a\n\0\x01", 10)},
     {"application/x-velmora-note", "note"}},
    {}};

// Turns the event loop, which serves Velmora's connection, until `done` or a generous limit.
template <typename Done>
bool pumpUntil(Done done) {
    for (const auto end = Clock::now() + 10s; !done();) {
        if (Clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A command's output, read while the event loop keeps turning: it may be pasting from us.
std::string run(const std::string& command) {
    auto output = std::async(std::launch::async, [command] {
        std::string out;
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, n);
        }
        pclose(pipe);
        return out;
    });
    pumpUntil([&] { return output.wait_for(0s) == std::future_status::ready; });
    return output.get();
}

pid_t spawn(const char* program, std::vector<const char*> args) {
    args.insert(args.begin(), program);
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(program, const_cast<char**>(args.data()));
        _exit(127);
    }
    return pid;
}

void end(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

class Wayland : public testing::Test {
  protected:
    // Another client holding kHeld: this program again, as an owner.
    pid_t startOwner() {
        const pid_t owner = spawn("/proc/self/exe", {"--own"});
        EXPECT_TRUE(pumpUntil([&] { return clipboard->text() == "two\nlines"; }));
        return owner;
    }

    std::shared_ptr<desktop::WaylandConnection> connection = desktop::WaylandConnection::open();
    std::unique_ptr<platform::Clipboard> clipboard = desktop::makeDataControlClipboard(connection);
};

TEST_F(Wayland, TextGoesBothWaysWithOtherClients) {
    ASSERT_TRUE(clipboard);
    EXPECT_TRUE(clipboard->availability().available);

    run("wl-copy 'from another client' >/dev/null 2>&1");
    EXPECT_TRUE(pumpUntil([&] { return clipboard->text() == "from another client"; }));

    clipboard->setText("h\xC3\xA9llo \xE2\x9C\x93\nsecond line");
    EXPECT_EQ(run("wl-paste --no-newline"), "h\xC3\xA9llo \xE2\x9C\x93\nsecond line");
    const std::string types = run("wl-paste --list-types");
    EXPECT_NE(types.find("text/plain;charset=utf-8\n"), std::string::npos) << types;
    EXPECT_NE(types.find("UTF8_STRING\n"), std::string::npos) << types;

    clipboard->clear();
    EXPECT_EQ(clipboard->text(), std::nullopt);
    EXPECT_EQ(run("wl-paste --no-newline 2>/dev/null"), "");
}

// Taken once a reader has every byte; a reader that stops early takes nothing (and must not take
// this process down with SIGPIPE), and another client's copy replaces the text.
TEST_F(Wayland, APasteIsTakenOnceAReaderHasItAll) {
    ASSERT_TRUE(clipboard);
    std::optional<platform::PasteTake> take;
    clipboard->setText(std::string(1 << 20, 'x'));
    for (const auto& [reader, outcome] :
         {std::pair{"wl-paste | head -c 3", platform::PasteTake::NotTaken},
          {"wl-paste | wc -c", platform::PasteTake::Taken},
          {"wl-copy another >/dev/null 2>&1", platform::PasteTake::Replaced}}) {
        const auto patience = outcome == platform::PasteTake::NotTaken ? 300ms : 10s;
        clipboard->whenTextTaken({patience, 10s}, [&](platform::PasteTake t) { take = t; });
        run(reader);
        EXPECT_TRUE(pumpUntil([&] { return take == outcome; })) << reader;
    }
}

TEST_F(Wayland, SnapshotAndRestoreKeepEveryFormat) {
    ASSERT_TRUE(clipboard);
    const pid_t owner = startOwner();
    const platform::ClipboardSnapshot snapshot = clipboard->snapshot();
    EXPECT_EQ(snapshot, kHeld);

    end(owner);
    EXPECT_TRUE(pumpUntil([&] { return !clipboard->text(); }));
    clipboard->restore(snapshot);
    for (const auto& [format, bytes] : kHeld.formats) {
        EXPECT_EQ(run("wl-paste --no-newline --type " + format), bytes) << format;
    }
    clipboard->restore({});
    EXPECT_EQ(clipboard->text(), std::nullopt);
}

TEST_F(Wayland, AnOwnerThatNeverAnswersCostsBoundedTime) {
    ASSERT_TRUE(clipboard);
    const pid_t owner = startOwner();
    kill(owner, SIGSTOP);

    auto start = Clock::now();
    const platform::ClipboardSnapshot snapshot = clipboard->snapshot();
    const auto snapshotTime = Clock::now() - start;
    start = Clock::now();
    EXPECT_EQ(clipboard->text(), std::nullopt);
    const auto textTime = Clock::now() - start;

    EXPECT_TRUE(snapshot.formats.empty());
    EXPECT_EQ(snapshot.notKept.size(), kHeld.formats.size());
    std::cout << "[ figures  ] stopped owner: snapshot "
              << std::chrono::duration_cast<std::chrono::milliseconds>(snapshotTime).count()
              << " ms, text "
              << std::chrono::duration_cast<std::chrono::milliseconds>(textTime).count() << " ms\n";
    for (const std::string& reason : snapshot.notKept) {
        std::cout << "[ not kept ] " << reason << "\n";
    }
    end(owner);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--own") {
        auto clipboard = desktop::makeDataControlClipboard(desktop::WaylandConnection::open());
        if (!clipboard) {
            return 1;
        }
        clipboard->restore(kHeld);
        return app.exec();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
