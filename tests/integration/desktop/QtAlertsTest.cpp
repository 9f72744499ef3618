#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <mutex>
#include <thread>

#include "DesktopTestSupport.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtMainQueue.h"

namespace velmora::desktop {
namespace {

// Ends the modal loops still running, so a failed test can still finish.
void closeOpenModals() {
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        QCoreApplication::processEvents();
    }
}

using namespace testing;

platform::AlertRequest notice(const std::string& title) {
    platform::AlertRequest request;
    request.messageText = title;
    request.informativeText = "Message of " + title;
    request.style = platform::AlertStyle::Informational;
    request.buttons = {"OK"};
    return request;
}

// Two notices queued in one turn: the second appears only after the first is dismissed.
TEST(QtAlerts, NoticesQueuedTogetherAppearOneAfterAnother) {
    QtMainQueue queue;
    QtAlerts alerts;
    std::mutex mutex;
    std::vector<std::string> events;
    auto record = [&](const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    };
    for (const std::string title : {"Velmora First Notice", "Velmora Second Notice"}) {
        queue.async([&, title] {
            const auto response = alerts.runModal(notice(title));
            record(title + " answered " + std::to_string(response.button));
        });
    }

    std::atomic<bool> driverDone{false};
    std::string driverFailure;
    std::thread driver([&] {
        const QString first = waitForWindow(QStringLiteral("^Velmora First Notice"));
        if (first.isEmpty()) {
            driverFailure = "first notice never appeared";
        } else if (windowExists(QStringLiteral("^Velmora Second Notice"))) {
            driverFailure = "second notice shown while the first is up";
        } else if (!pressKeys(first, {QStringLiteral("Return")})) {
            driverFailure = "could not press Return in the first notice";
        } else {
            const QString second = waitForWindow(QStringLiteral("^Velmora Second Notice"));
            if (second.isEmpty() || !pressKeys(second, {QStringLiteral("Return")})) {
                driverFailure = "second notice not shown or not dismissed";
            }
        }
        driverDone = true;
    });

    const bool finished = waitUntil([&] {
        std::lock_guard lock(mutex);
        return events.size() == 2 || (driverDone && !driverFailure.empty());
    });
    if (!finished || !driverFailure.empty()) {
        closeOpenModals();
    }
    driver.join();
    ASSERT_TRUE(finished);
    ASSERT_EQ(driverFailure, "");
    EXPECT_EQ(events, (std::vector<std::string>{"Velmora First Notice answered 1000",
                                                "Velmora Second Notice answered 1000"}));
}

// The input alert: text typed into the focused field comes back with OK (1000); Escape answers
// Cancel (1001).
TEST(QtAlerts, InputDialogReturnsTypedTextOnOkAndCancelsOnEscape) {
    QtMainQueue queue;
    QtAlerts alerts;
    platform::AlertRequest request;
    request.messageText = "Velmora Custom Instructions";
    request.informativeText = "Describe the style.";
    request.style = platform::AlertStyle::Informational;
    request.buttons = {"OK", "Cancel"};
    request.textAccessoryInitialText = "Be brief";

    std::optional<platform::AlertResponse> okResponse;
    std::optional<platform::AlertResponse> cancelResponse;
    std::atomic<bool> okAnswered{false};
    queue.async([&] {
        okResponse = alerts.runModal(request);
        okAnswered = true;
    });
    queue.async([&] { cancelResponse = alerts.runModal(request); });

    std::atomic<bool> driverDone{false};
    std::string driverFailure;
    std::thread driver([&] {
        QString box = waitForWindow(QStringLiteral("^Velmora Custom Instructions"));
        if (box.isEmpty() ||
            !pressKeys(box, {QStringLiteral("space"), QStringLiteral("o"), QStringLiteral("k")})) {
            driverFailure = "could not type into the first dialog";
            driverDone = true;
            return;
        }
        // Return belongs to the multi-line field, so OK is clicked; on the main thread.
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                auto* modal = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (modal) {
                    for (QAbstractButton* button : modal->buttons()) {
                        if (button->text() == QStringLiteral("OK")) {
                            button->click();
                        }
                    }
                }
            },
            Qt::QueuedConnection);
        // The second dialog is a new window with the same title; wait for the first to go.
        for (int i = 0; i < 600 && !okAnswered; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        box = waitForWindow(QStringLiteral("^Velmora Custom Instructions"));
        if (box.isEmpty() || !pressKeys(box, {QStringLiteral("x"), QStringLiteral("Escape")})) {
            driverFailure = "could not cancel the second dialog";
        }
        driverDone = true;
    });

    const bool finished = waitUntil(
        [&] { return (okResponse && cancelResponse) || (driverDone && !driverFailure.empty()); });
    closeOpenModals();
    driver.join();
    ASSERT_TRUE(finished);
    ASSERT_EQ(driverFailure, "");
    EXPECT_EQ(okResponse->button, platform::alertFirstButtonReturn);
    EXPECT_EQ(okResponse->accessoryText, "Be brief ok");
    EXPECT_EQ(cancelResponse->button, platform::alertSecondButtonReturn);
}

}  // namespace
}  // namespace velmora::desktop
