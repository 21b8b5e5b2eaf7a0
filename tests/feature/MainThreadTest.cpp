#include "feature/MainThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <thread>

namespace quaylet {
namespace {

TEST(MainThreadTest, ApplyingBlocksTheWorkerUntilTheMainThreadHasRunTheWork) {
    std::atomic<bool> workerReturned = false;
    bool workerWaitedForTheWork = false;
    std::jthread worker([&] {
        applyOnMainThread([&] { workerWaitedForTheWork = !workerReturned; }, {});
        workerReturned = true;
    });

    // Give a worker that wrongly does not wait every chance to return before the main thread
    // runs the work. A correct worker cannot return here, however long this takes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!workerReturned && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    while (!workerReturned) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(workerWaitedForTheWork);
}

}  // namespace
}  // namespace quaylet
