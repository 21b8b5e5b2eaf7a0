#include "feature/BackgroundWork.h"

#include <QCoreApplication>

#include <atomic>

#include "core/errors/CancellationError.h"
#include "feature/StateHarness.h"

namespace quaylet::testing {
namespace {

// A worker's step waits for the main thread; a result goes only to a context that exists.
TEST(BackgroundWorkTest, AppliesOnTheMainThreadAndDropsAResultForAContextThatHasGone) {
    BackgroundWork work(std::make_shared<FakePreviewService>(), 1);
    auto context = std::make_unique<QObject>();
    std::atomic<bool> applied = false, appliedBeforeReturning = false;
    bool delivered = false;
    Latch release;
    const QFuture<void> future = work.run(
        context.get(),
        [&] {
            work.apply([&] { applied = true; }, {});
            appliedBeforeReturning = applied.load();
            release.wait();
            return BackgroundWork::Step([&] { delivered = true; });
        },
        [](const std::exception_ptr&) {}, BackgroundWork::Reach::host);
    EXPECT_TRUE(waitFor([&] { return appliedBeforeReturning.load(); }));
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

    std::atomic<bool> held = false, stopped = false;
};

TEST_F(QuitMidWorkTest, QuittingStopsTheWorkAndDropsItsResult) {
    PreviewSummary watched = makeSummary("pv_watched", "Watched");
    watched.repository = "acme/app";
    watched.pullRequest = 7;
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

    // Each starts its work and gives the future of its result (none for a prefetch).
    const std::vector<std::pair<std::string, std::function<QFuture<void>()>>> rows = {
        {"download",
         [&] {
             const QFuture<void> launch = state->launch().open("pv_1");
             state->cache().pruneCache();  // waits for the launch to end
             return launch;
         }},
        {"boot",
         [&] {
             return state->launch().runLocalApplication(QUrl::fromLocalFile("/b/D.app"), "", false);
         }},
        {"prefetch",
         [&] {
             state->watcher().watch({.repository = "acme/app", .pullRequest = 7});
             state->watcher().start(nullptr);
             return QFuture<void>();
         }},
    };
    for (const auto& [work, start] : rows) {
        SCOPED_TRACE(work);
        held = stopped = false;
        makeState();
        QFuture<void> future = start();
        ASSERT_TRUE(waitFor([&] { return held.load(); }));
        bool delivered = false;
        future.then([&] { delivered = true; });

        state.reset();
        EXPECT_TRUE(stopped);
        QCoreApplication::processEvents();
        EXPECT_FALSE(delivered);
        EXPECT_TRUE(future.isCanceled()) << "its result was dropped";
    }
}

}  // namespace
}  // namespace quaylet::testing
