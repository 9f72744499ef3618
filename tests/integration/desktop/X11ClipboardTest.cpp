// Velmora's X11 clipboard against a real Xvfb (tests/support/run-in-session.sh) and real peers:
// xclip, a Qt program, and owners that misbehave.
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
using Formats = decltype(ClipboardSnapshot::formats);

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

    {
        Peer other({"UTF8_STRING|theirs"});
        EXPECT_EQ(clipboard.text(), "theirs");
        clipboard.clear();
    }
    EXPECT_EQ(xclip("clipboard", "UTF8_STRING"), "");
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

}  // namespace
}  // namespace velmora::desktop
