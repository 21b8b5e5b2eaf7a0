#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFuture>

#include <chrono>
#include <functional>

namespace quaylet::testing {

// Runs this thread's event loop until done() holds, for work that is bound to end; the
// generous bound only keeps a hang from stalling the suite. Returns done().
inline bool waitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(std::chrono::minutes(2));
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}
inline bool waitFor(const QFuture<void>& future) {
    return waitFor([&] { return future.isFinished(); });
}

}  // namespace quaylet::testing
