#include <gtest/gtest.h>

#include <optional>

#include "DesktopTestSupport.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtMainQueue.h"

namespace velmora::desktop {
namespace {

using namespace testing;

// The answer is the index of the button chosen; Escape chooses the last one. The text field is
// focused with the caret at the end, takes typing and undo, and its text comes back either way.
TEST(QtAlerts, AnswersTheButtonIndexAndTheFieldText) {
    QtMainQueue queue;
    QtAlerts alerts;
    platform::AlertRequest request{"Velmora Custom Instructions",
                                   "Describe the style.",
                                   platform::AlertStyle::Informational,
                                   {"OK", "Reset", "Cancel"},
                                   "Be brief"};
    platform::AlertRequest notice{
        "Velmora Notice", "Done.", platform::AlertStyle::Warning, {"OK", "Open"}, std::nullopt};
    std::vector<platform::AlertResponse> answers;
    std::atomic<std::size_t> count{0};
    for (const auto* asked : {&request, &request, &notice}) {
        queue.async([&, asked] {
            answers.push_back(alerts.runModal(*asked));
            ++count;
        });
    }
    const auto answered = [&](std::size_t expected) {
        for (int i = 0; i < 600 && count < expected; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return count >= expected;
    };
    ASSERT_TRUE(drive([&] {
        QString box = waitForWindow(QStringLiteral("^Velmora Custom Instructions"));
        // Tab leaves the field for the buttons: OK, then Reset.
        if (box.isEmpty() || !pressKeys(box, {"space", "o", "k", "Tab", "Tab", "space"})) {
            return false;
        }
        box = answered(1) ? waitForWindow(QStringLiteral("^Velmora Custom Instructions")) : "";
        if (box.isEmpty() || !pressKeys(box, {"x", "y", "ctrl+z", "Escape"}) || !answered(2)) {
            return false;
        }
        box = waitForWindow(QStringLiteral("^Velmora Notice"));
        return !box.isEmpty() && pressKeys(box, {"Return"}) && answered(3);
    }));
    ASSERT_EQ(answers.size(), 3U);
    EXPECT_EQ(answers[0].button, 1U);
    EXPECT_EQ(answers[0].text, "Be brief ok");
    EXPECT_EQ(answers[1].button, 2U);
    EXPECT_EQ(answers[1].text, "Be brief");
    EXPECT_EQ(answers[2].button, 0U);
    EXPECT_EQ(answers[2].text, std::nullopt);
}

}  // namespace
}  // namespace velmora::desktop
