#include "feature/BackgroundWork.h"

#include <QCoreApplication>

#include <atomic>
#include <thread>

#include "core/errors/CancellationError.h"
#include "feature/StateHarness.h"

namespace quaylet::testing {
namespace {

TEST(BackgroundWorkTest, ApplyingBlocksTheWorkerUntilTheMainThreadHasRunTheStep) {
    BackgroundWork work(std::make_shared<FakePreviewService>(), 1);
    std::atomic<bool> workerReturned = false;
    bool workerWaitedForTheStep = false;
    std::jthread worker([&] {
        work.apply([&] { workerWaitedForTheStep = !workerReturned; }, {});
        workerReturned = true;
    });

    // Give a worker that wrongly does not wait every chance to return before the main thread
    // runs the step. A correct worker cannot return here, however long this takes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!workerReturned && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    while (!workerReturned) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(workerWaitedForTheStep);
}

TEST(BackgroundWorkTest, AResultForAContextThatHasGoneIsDropped) {
    BackgroundWork work(std::make_shared<FakePreviewService>(), 1);
    auto context = std::make_unique<QObject>();
    Latch release;
    bool delivered = false;
    const QFuture<void> future = work.run(
        context.get(),
        [&] {
            release.wait();
            return BackgroundWork::Step([&] { delivered = true; });
        },
        BackgroundWork::Reach::host);
    context.reset();
    release.open();
    EXPECT_TRUE(waitFor(future));
    EXPECT_TRUE(future.isCanceled());
    EXPECT_FALSE(delivered);
}

// Quitting in the middle of each kind of long work: the state goes while its double holds the
// work until stopped. Going must stop the work and wait for it (a hang fails the suite), and
// nothing may come back to the state that has gone.
class QuitMidWorkTest : public StateHarness {
  protected:
    // Holds the calling worker until stop; a stop that never comes hangs the test.
    void holdUntil(std::stop_token stop) {
        held = true;
        Latch().wait(stop);
        stopped = stop.stop_requested();
    }

    std::atomic<bool> held = false;
    std::atomic<bool> stopped = false;
};

TEST_F(QuitMidWorkTest, QuittingStopsTheWorkAndDropsItsResult) {
    const PreviewSummary watched = [] {
        PreviewSummary build = makeSummary("pv_watched", "Watched");
        build.repository = "acme/app";
        build.pullRequest = 7;
        return build;
    }();
    service->previews = {watched};
    service->onLaunch = [this](const LaunchCall& call) -> SelfTestReport {
        call.download(1, 2);
        holdUntil(call.stop);
        throw CancellationError();
    };
    simulator->onRun = [this](const auto& progress, std::stop_token stop) -> SelfTestReport {
        progress(RemoteLaunchStage::booting);
        holdUntil(stop);
        throw CancellationError();
    };
    service->onPrefetch = [this](std::stop_token stop) { holdUntil(stop); };

    const std::vector<std::pair<std::string, std::function<std::optional<QFuture<void>>()>>> rows =
        {
            {"download",
             [&] {
                 const QFuture<void> launch = state->open("pv_1");
                 state->pruneCache();  // waits for the launch to end
                 return launch;
             }},
            {"boot",
             [&] {
                 return state->runLocalApplication(QUrl::fromLocalFile("/b/Demo.app"), "", false);
             }},
            {"prefetch",
             [&]() -> std::optional<QFuture<void>> {
                 state->watcher().watch({.repository = "acme/app", .pullRequest = 7});
                 state->watcher().start(nullptr);
                 return std::nullopt;
             }},
        };
    for (const auto& [work, start] : rows) {
        SCOPED_TRACE(work);
        held = stopped = false;
        makeState();
        std::optional<QFuture<void>> future = start();
        ASSERT_TRUE(waitFor([&] { return held.load(); }));
        bool delivered = false;
        if (future) {
            future->then([&] { delivered = true; });
        }

        state.reset();
        EXPECT_TRUE(stopped);
        QCoreApplication::processEvents();
        EXPECT_FALSE(delivered);
        if (future) {
            EXPECT_TRUE(future->isCanceled()) << "its result was dropped";
        }
    }
}

}  // namespace
}  // namespace quaylet::testing
