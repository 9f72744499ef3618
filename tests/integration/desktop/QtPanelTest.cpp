#include <gtest/gtest.h>

#include <QLineEdit>
#include <QWindow>

#include "DesktopTestSupport.h"
#include "platform/linux/HudContentView.h"
#include "platform/linux/QtPanel.h"

namespace velmora::desktop {
namespace {

using namespace testing;
using namespace std::chrono_literals;

// An editor that counts the clicks it receives.
class Editor : public QLineEdit {
  public:
    int clicks = 0;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++clicks;
        QLineEdit::mousePressEvent(event);
    }
};

bool panelMapped() {
    return xdotool({"search", "--onlyvisible", "--name", "^Velmora HUD$"});
}

// The panel never takes the keyboard from the window the user types in. A later fade drops an
// earlier one's `done`. Fading out, the panel lets clicks through to the window under it, and
// leaves the screen at once when a notice is about to appear.
TEST(QtPanel, NeverInTheWayOfTheUser) {
    Editor editor;
    editor.setGeometry(200, 200, 400, 200);
    editor.show();
    ASSERT_TRUE(waitUntil([&] { return editor.windowHandle()->isExposed(); }));
    const QString editorId = QString::number(editor.winId());
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", editorId}));

    QtPanel panel;
    panel.setContent({"Working...", "sparkles", 1});
    const platform::Size size = panel.fittingSize("Working...", "sparkles");
    panel.setSize(size);
    const QPoint centre = editor.geometry().center();
    panel.setOrigin({centre.x() - size.width / 2, centre.y() - size.height / 2});
    panel.orderFront();
    int superseded = 0;
    int shown = 0;
    panel.fadeTo(1.0, 10s, [&] { ++superseded; });
    panel.fadeTo(1.0, 50ms, [&] { ++shown; });
    ASSERT_TRUE(waitUntil([&] { return shown == 1; }));
    EXPECT_TRUE(panel.content().symbol().isBouncing());
    EXPECT_EQ(run("xdotool", {"getwindowfocus"}).output, editorId);

    ASSERT_TRUE(xdotool({"mousemove", "--sync", QString::number(centre.x()),
                         QString::number(centre.y()), "click", "1"}));
    EXPECT_FALSE(waitUntil([&] { return editor.clicks > 0; }, 200)) << "the shown panel's click";
    panel.fadeTo(0.0, 10s, [&] { ++shown; });
    waitUntil([] { return false; }, 100);
    ASSERT_TRUE(xdotool({"click", "1"}));
    EXPECT_TRUE(waitUntil([&] { return editor.clicks == 1; }));
    ASSERT_TRUE(panelMapped());

    // What a notice does before it appears.
    QtPanel::finishFadeOuts();
    EXPECT_TRUE(waitUntil([&] { return shown == 2 && !panelMapped(); }));
    EXPECT_EQ(superseded, 0);
    EXPECT_FALSE(panel.content().symbol().isBouncing());
}

}  // namespace
}  // namespace velmora::desktop
