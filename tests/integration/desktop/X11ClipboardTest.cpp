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

// Reads a selection with xclip, byte for byte, while our event loop turns.
QByteArray xclip(const QString& selection, const QString& target) {
    QProcess process;
    process.start("xclip", {"-o", "-selection", selection, "-t", target});
    testing::waitUntil([&] { return process.state() == QProcess::NotRunning; });
    return process.readAllStandardOutput();
}

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

// What became of a paste by an application with the keyboard focus (ClipboardOwner --paste), and
// how long after it had the whole text the outcome came.
struct Pasted {
    std::optional<PasteTake> take;
    std::size_t received = 0;
    double msAfterRead = 0;
};
Pasted paste(X11Clipboard& clipboard, platform::PasteWait wait, const QStringList& options) {
    Peer app(QStringList{"--paste"} + options);
    app.process.readLine();
    Pasted pasted;
    Clock::time_point at;
    clipboard.whenTextTaken(wait, [&](PasteTake take) {
        pasted.take = take;
        at = Clock::now();
    });
    app.process.write("\n");
    testing::waitUntil([&] { return pasted.take && app.process.canReadLine(); });
    const QStringList said = QString(app.process.readLine()).split(' ');
    pasted.received = said.value(1).toULongLong();
    const Clock::time_point read{std::chrono::nanoseconds(said.value(3).toLongLong())};
    pasted.msAfterRead = std::chrono::duration<double, std::milli>(at - read).count();
    return pasted;
}

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
    EXPECT_EQ(xclip("clipboard", "UTF8_STRING").toStdString(), large);
    std::printf("[ figures  ] xclip read 1 MiB from us in %lld ms\n", timer.elapsed());
    const QStringList targets = QString(xclip("clipboard", "TARGETS")).split('\n');
    for (const char* target : {"TARGETS", "MULTIPLE", "TIMESTAMP", "UTF8_STRING", "STRING"}) {
        EXPECT_EQ(targets.count(target), 1) << target;
    }

    const std::string png("\x89PNG\r\n\x1a\n\0\0rest", 14);
    const ClipboardSnapshot held{
        {{"text/plain", "héllo\nworld"}, {"image/png", png}, {"text/html", "<i>h</i>"}}, {}};
    clipboard.restore(held);
    EXPECT_EQ(xclip("clipboard", "image/png").toStdString(), png);
    EXPECT_EQ(xclip("clipboard", "text/html"), "<i>h</i>");
    EXPECT_EQ(xclip("clipboard", "UTF8_STRING").toStdString(), "héllo\nworld");
    EXPECT_EQ(xclip("clipboard", "STRING"), "h\xe9llo\nworld");
    EXPECT_EQ(clipboard.snapshot(), held);

    // A program serving its selections apart from its keys (as LibreOffice's own X11 toolkit does)
    // has taken in its loss when we hold the clipboard, so a paste that follows pastes our text.
    {
        Peer busy({"--both", "--lag", "20", "UTF8_STRING|its own earlier copy"});
        clipboard.setText("answer");
        busy.process.waitForReadyRead(0);
        EXPECT_TRUE(busy.process.readAll().contains("lost"));
    }
}

// Taken once the focused application has the whole text, in pieces too, also when it asks first;
// not by another program's read (a clipboard manager's).
TEST(X11Clipboard, APasteIsTakenOnceTheFocusedApplicationHasAllOfIt) {
    X11Clipboard clipboard;
    clipboard.setText("short answer");
    const Pasted quick = paste(clipboard, {10s, 60s}, {});
    const std::string large(1024 * 1024, 'a');
    clipboard.setText(large);
    const Pasted slow = paste(clipboard, {10s, 60s}, {});
    const Pasted asked = paste(clipboard, {1s, 10s}, {"--confirm", "2000"});
    for (const Pasted& pasted : {quick, slow, asked}) {
        EXPECT_EQ(pasted.take, PasteTake::Taken);
    }
    EXPECT_EQ(quick.received, 12U);
    EXPECT_EQ(slow.received + asked.received, 2 * large.size());
    EXPECT_GE(slow.msAfterRead, 0) << "taken before the last piece";
    EXPECT_GE(asked.msAfterRead, 0) << "taken before the answer to the question";
    std::printf("[ figures  ] Taken %.2f ms after a quick read, %.2f ms after the last of 1 MiB\n",
                quick.msAfterRead, slow.msAfterRead);

    Peer idle({"--paste"});
    std::optional<PasteTake> take;
    clipboard.whenTextTaken({300ms, 10s}, [&](PasteTake t) { take = t; });
    EXPECT_EQ(xclip("clipboard", "UTF8_STRING").size(), large.size());
    EXPECT_TRUE(testing::waitUntil([&] { return take == PasteTake::NotTaken; }));
    clipboard.whenTextTaken({3s, 60s}, [&](PasteTake t) { take = t; });
    Peer other({"UTF8_STRING|theirs"});
    EXPECT_TRUE(testing::waitUntil([&] { return take == PasteTake::Replaced; }, 2000));
    EXPECT_EQ(clipboard.text(), "theirs");
    clipboard.clear();
    EXPECT_EQ(xclip("clipboard", "UTF8_STRING"), "");
    EXPECT_TRUE(clipboard.snapshot().empty());
}

// On Quit the clipboard manager takes what Velmora holds, and holds it once Velmora is gone.
TEST(X11Clipboard, AClipboardManagerKeepsTheClipboardAfterQuit) {
    Peer manager({"--manager"});
    {
        X11Clipboard clipboard;
        clipboard.setText("kept after quit");
    }
    EXPECT_EQ(xclip("clipboard", "UTF8_STRING"), "kept after quit");
}

}  // namespace
}  // namespace velmora::desktop
