#include "platform/linux/ServeEventsWhile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <thread>

namespace velmora::desktop {

void runServingEvents(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    if (!done) {
        // Returns early only when the application is quitting; the work is still waited for.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    worker.join();
}

}  // namespace velmora::desktop
