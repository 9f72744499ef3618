#include <gtest/gtest.h>

#include <QLineEdit>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtPanel.h"

namespace velmora::desktop {
namespace {

using namespace testing;

QString focusedWindow() {
    return xdotool({QStringLiteral("getwindowfocus")}).output;
}

// The HUD comes up over a focused window without taking the focus (typing still reaches the
// window), fades in, then fades out and leaves the screen when the fade ends.
TEST(QtPanel, NeverTakesFocusAndFadesOut) {
    QtMainQueue queue;
    QLineEdit editor;
    editor.setWindowTitle(QStringLiteral("Velmora Focus Target"));
    editor.resize(300, 40);
    editor.show();
    ASSERT_TRUE(
        waitUntil([&] { return editor.isVisible() && editor.windowHandle()->isExposed(); }));
    const QString editorId = QString::number(editor.winId());
    ASSERT_EQ(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), editorId}).exitCode,
              0);
    ASSERT_EQ(focusedWindow(), editorId);

    QtPanel panel(queue);
    platform::HUDViewContent content{"Velmoraing...", "sparkles", 1};
    panel.setContent(content);
    const platform::Size size = panel.measureContent(content.message, content.systemImage);
    panel.setContentSize(size);
    QtScreens screens;
    const auto visible = screens.mainScreenVisibleFrame();
    ASSERT_TRUE(visible);
    panel.setFrameOrigin({visible->midX() - size.width / 2, visible->midY() - size.height / 2});
    panel.orderFront();
    bool shown = false;
    panel.animateAlpha(1.0, 0.2, [&] { shown = true; });
    ASSERT_TRUE(waitUntil([&] { return shown; }));
    EXPECT_DOUBLE_EQ(panel.alpha(), 1.0);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.content().symbol().isBouncing());
    EXPECT_EQ(panel.frame().size, size);
    EXPECT_EQ(focusedWindow(), editorId);

    ASSERT_EQ(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"),
                       QStringLiteral("abc")})
                  .exitCode,
              0);
    EXPECT_TRUE(waitUntil([&] { return editor.text() == QStringLiteral("abc"); }));
    EXPECT_EQ(focusedWindow(), editorId);

    bool hidden = false;
    panel.animateAlpha(0.0, 0.3, [&] {
        panel.orderOut();
        hidden = true;
    });
    EXPECT_TRUE(panel.isVisible());
    ASSERT_TRUE(waitUntil([&] { return hidden; }));
    EXPECT_DOUBLE_EQ(panel.alpha(), 0.0);
    EXPECT_FALSE(panel.isVisible());
    // Hidden, the panel runs no animation.
    EXPECT_FALSE(panel.content().symbol().isBouncing());
    EXPECT_EQ(focusedWindow(), editorId);
}

TEST(QtPanel, ContentIsSizedBetweenMinimumAndMaximumWidthAndWraps) {
    QtMainQueue queue;
    QtPanel panel(queue);
    const platform::Size shortSize = panel.measureContent("Hi", "sparkles");
    EXPECT_EQ(shortSize.width, 140);

    const platform::Size oneLine = panel.measureContent("Velmoraing...", "sparkles");
    const std::string longMessage =
        "A much longer message that cannot possibly fit on one line of the panel";
    const platform::Size longSize = panel.measureContent(longMessage, "sparkles");
    EXPECT_EQ(longSize.width, 220);
    EXPECT_GT(longSize.height, oneLine.height);

    // Laid out at that size, the wrapped message is not cut off.
    panel.setContent({longMessage, "sparkles", 1});
    panel.setContentSize(longSize);
    panel.orderFront();
    ASSERT_TRUE(waitUntil([&] { return panel.isVisible(); }));
    const QWidget* label = panel.content().findChild<QWidget*>(QStringLiteral("hudMessage"));
    ASSERT_NE(label, nullptr);
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    panel.orderOut();
}

// A superseded fade still reports its end, so its completion is never lost.
TEST(QtPanel, SupersededFadeStillCompletes) {
    QtMainQueue queue;
    QtPanel panel(queue);
    panel.orderFront();
    int first = 0;
    int second = 0;
    panel.animateAlpha(1.0, 5.0, [&] { ++first; });
    panel.animateAlpha(0.5, 0.05, [&] { ++second; });
    ASSERT_TRUE(waitUntil([&] { return first == 1 && second == 1; }));
    EXPECT_NEAR(panel.alpha(), 0.5, 0.01);
    panel.orderOut();
}

}  // namespace
}  // namespace velmora::desktop
