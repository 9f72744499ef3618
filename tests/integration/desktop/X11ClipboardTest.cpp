// Velmora's X11 clipboard against a real Xvfb (tests/support/run-in-session.sh) and real peers:
// xclip, a Qt program, owners that misbehave, applications that paste slowly or ask first, and a
// clipboard manager.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>

#include "DesktopTestSupport.h"
#include "platform/linux/X11Clipboard.h"

namespace velmora::desktop {
namespace {

using platform::ClipboardSnapshot;
using platform::PasteTake;
using Clock = std::chrono::steady_clock;
using Formats = decltype(ClipboardSnapshot::formats);
using namespace std::chrono_literals;

// Another program holding a selection (see ClipboardOwner.cpp) until the end of the scope.
struct Peer {
    explicit Peer(const QStringList& arguments, const QString& program = CLIPBOARD_OWNER) {
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForReadyRead(15000));
    }
    ~Peer() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

ClipboardSnapshot timedSnapshot(X11Clipboard& clipboard, const char* what) {
    QElapsedTimer timer;
    timer.start();
    ClipboardSnapshot snapshot = clipboard.snapshot();
    std::printf("[ figures  ] %s: snapshot in %lld ms;", what, timer.elapsed());
    for (const auto& [format, bytes] : snapshot.formats) {
        std::printf(" kept %s (%zu bytes);", format.c_str(), bytes.size());
    }
    std::printf(" %zu not kept\n", snapshot.notKept.size());
    return snapshot;
}

// An application with the keyboard focus that pastes on cue (ClipboardOwner --paste).
struct PastingApp : Peer {
    explicit PastingApp(const QStringList& options) : Peer(QStringList{"--paste"} + options) {
        process.readLine();
    }

    struct Outcome {
        std::optional<PasteTake> take;
        std::size_t received = 0;
        // From when the application had the whole text to when the outcome came.
        std::chrono::duration<double, std::milli> after{};
    };
    Outcome paste(X11Clipboard& clipboard, platform::PasteWait wait) {
        Outcome outcome;
        Clock::time_point at;
        clipboard.whenTextTaken(wait, [&](PasteTake take) {
            outcome.take = take;
            at = Clock::now();
        });
        process.write("\n");
        testing::waitUntil([&] { return outcome.take && process.canReadLine(); });
        const QStringList said = QString(process.readLine()).split(' ');
        outcome.received = said.value(1).toULongLong();
        const Clock::time_point had{std::chrono::nanoseconds(said.value(3).toLongLong())};
        outcome.after = at - had;
        return outcome;
    }
};

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(X11Clipboard, AnOwnerThatNeverAnswersCostsAFractionOfASecond) {
    X11Clipboard clipboard;
    {
        Peer mute({"--mute", "UTF8_STRING|unused"});
        const ClipboardSnapshot snapshot = timedSnapshot(clipboard, "owner answering nothing");
        EXPECT_EQ(snapshot,
                  (ClipboardSnapshot{{}, {"the clipboard's formats: no answer in time"}}));
        EXPECT_EQ(clipboard.text(), std::nullopt);
    }
    Peer silent({"UTF8_STRING|kept", "text/html", "image/png"});
    const ClipboardSnapshot snapshot = timedSnapshot(clipboard, "owner answering TARGETS only");
    EXPECT_EQ(snapshot.formats, (Formats{{"text/plain", "kept"}}));
    EXPECT_TRUE(contains(snapshot.notKept, "text/html: no answer in time"));
    EXPECT_TRUE(contains(snapshot.notKept, "image/png: no answer in time"));
}

TEST(X11Clipboard, ServesWhatItHoldsToOtherPrograms) {
    X11Clipboard clipboard;
    ASSERT_TRUE(clipboard.availability().available);
    std::string large;
    while (large.size() < 1024 * 1024) {
        large += std::to_string(large.size()) + '\n';
    }
    clipboard.setText(large);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(testing::xclip("clipboard", "UTF8_STRING").toStdString(), large);
    std::printf("[ figures  ] xclip read 1 MiB from us in %lld ms\n", timer.elapsed());
    const QStringList targets = QString(testing::xclip("clipboard", "TARGETS")).split('\n');
    for (const char* target : {"TARGETS", "MULTIPLE", "TIMESTAMP", "UTF8_STRING", "STRING"}) {
        EXPECT_EQ(targets.count(target), 1) << target;
    }

    const std::string png("\x89PNG\r\n\x1a\n\0\0rest", 14);
    const ClipboardSnapshot held{
        {{"text/plain", "héllo\nworld"}, {"image/png", png}, {"text/html", "<i>h</i>"}}, {}};
    clipboard.restore(held);
    EXPECT_EQ(testing::xclip("clipboard", "image/png").toStdString(), png);
    EXPECT_EQ(testing::xclip("clipboard", "text/html"), "<i>h</i>");
    EXPECT_EQ(testing::xclip("clipboard", "UTF8_STRING").toStdString(), "héllo\nworld");
    EXPECT_EQ(testing::xclip("clipboard", "STRING"), "h\xe9llo\nworld");
    EXPECT_EQ(clipboard.snapshot(), held);

    {
        Peer other({"UTF8_STRING|theirs"});
        EXPECT_EQ(clipboard.text(), "theirs");
        clipboard.clear();
    }
    EXPECT_EQ(testing::xclip("clipboard", "UTF8_STRING"), "");
    EXPECT_TRUE(clipboard.snapshot().empty());
    // A program serving its selections apart from its keys (as LibreOffice's own X11 toolkit does)
    // has taken in its loss when we hold the clipboard, so a paste that follows pastes our text.
    {
        Peer busy({"--both", "--lag", "20", "UTF8_STRING|its own earlier copy"});
        clipboard.setText("answer");
        busy.process.waitForReadyRead(0);
        EXPECT_TRUE(busy.process.readAll().contains("lost"));
    }
}

// Taken once the focused application has the whole text, in pieces too; not by another program's
// read (a clipboard manager's); the wait goes on while the application asks first.
TEST(X11Clipboard, APasteIsTakenOnceTheFocusedApplicationHasAllOfIt) {
    X11Clipboard clipboard;
    clipboard.setText("short answer");
    const auto quick = PastingApp({}).paste(clipboard, {3s, 60s});
    EXPECT_EQ(quick.take, PasteTake::Taken);
    EXPECT_EQ(quick.received, 12U);

    const std::string large(1024 * 1024, 'a');
    clipboard.setText(large);
    const auto slow = PastingApp({"--piece-delay", "150"}).paste(clipboard, {3s, 60s});
    EXPECT_EQ(slow.take, PasteTake::Taken);
    EXPECT_EQ(slow.received, large.size());
    EXPECT_GE(slow.after.count(), 0) << "taken before the last piece";
    std::printf(
        "[ figures  ] Taken %.2f ms after a quick read, %.2f ms after a 1 MiB read in pieces\n",
        quick.after.count(), slow.after.count());

    const auto asked = PastingApp({"--confirm", "1000"}).paste(clipboard, {300ms, 10s});
    EXPECT_EQ(asked.take, PasteTake::Taken);
    EXPECT_EQ(asked.received, large.size());

    PastingApp idle({});
    std::optional<PasteTake> take;
    clipboard.whenTextTaken({300ms, 10s}, [&](PasteTake t) { take = t; });
    EXPECT_EQ(testing::xclip("clipboard", "UTF8_STRING").size(), large.size());
    EXPECT_TRUE(testing::waitUntil([&] { return take.has_value(); }));
    EXPECT_EQ(take, PasteTake::NotTaken);

    take.reset();
    clipboard.whenTextTaken({3s, 60s}, [&](PasteTake t) { take = t; });
    Peer other({"UTF8_STRING|theirs"});
    EXPECT_TRUE(testing::waitUntil([&] { return take.has_value(); }, 2000));
    EXPECT_EQ(take, PasteTake::Replaced);
}

// On Quit the clipboard manager takes what Velmora holds, and holds it once Velmora is gone.
TEST(X11Clipboard, AClipboardManagerKeepsTheClipboardAfterQuit) {
    Peer manager({"--manager"});
    {
        X11Clipboard clipboard;
        clipboard.setText("kept after quit");
    }
    EXPECT_EQ(testing::xclip("clipboard", "UTF8_STRING"), "kept after quit");
}

}  // namespace
}  // namespace velmora::desktop
