#include "feature/DownloadProgress.h"

#include <gtest/gtest.h>

#include "feature/LaunchStage.h"

namespace quaylet {
namespace {

using namespace std::chrono_literals;

TEST(DownloadProgressTest, TextsShowBytesInDecimalUnitsAndTheTimeLeft) {
    // Bytes received and expected, seconds left, and the text.
    const std::tuple<std::int64_t, std::int64_t, std::optional<double>, const char*> cases[] = {
        {312'000'000, 1'100'000'000, 24.0, "312 MB of 1.1 GB · 24 s left"},
        {0, 640, std::nullopt, "0 bytes of 640 bytes"},
        {1, 999'700'000, 0.2, "1 byte of 1.0 GB · 1 s left"},
        {9'960, 12'345'678, 59.5, "10 KB of 12 MB · 1 min left"},
        {5'000'000, 2'000'000'000'000, 61.0, "5.0 MB of 2.0 TB · 2 min left"},
        {1, 2, 3'600.0 * 2 + 60 * 5, "1 byte of 2 bytes · 2 h 5 min left"},
        {2, 2, 0.0, "2 bytes of 2 bytes"},
    };
    for (const auto& [received, expected, secondsLeft, text] : cases) {
        EXPECT_EQ(formatDownloadProgress(received, expected, secondsLeft), text);
    }
}

TEST(DownloadProgressTest, PacerLetsThroughTenReportsASecondAndAlwaysTheLast) {
    DownloadPacer pacer;
    const ProgressClock::time_point start;
    // When, bytes received of 100, and whether it is let through.
    const std::tuple<std::chrono::milliseconds, std::int64_t, bool> reports[] = {
        {0ms, 10, true},   {40ms, 20, false},  {99ms, 30, false},
        {100ms, 40, true}, {150ms, 50, false}, {160ms, 100, true},  // the whole file
    };
    for (const auto& [at, received, reported] : reports) {
        EXPECT_EQ(pacer.shouldReport(received, 100, start + at), reported) << at.count() << " ms";
    }
}

TEST(DownloadProgressTest, EstimateFollowsTheRateWithoutJumpingAtABurst) {
    TransferEstimate estimate;
    const ProgressClock::time_point start;
    EXPECT_EQ(estimate.secondsLeft(), std::nullopt);
    // 1 MB/s for ten seconds of a 100 MB download.
    for (int second = 0; second <= 10; ++second) {
        estimate.record(second * 1'000'000, 100'000'000, start + std::chrono::seconds(second));
    }
    ASSERT_TRUE(estimate.secondsLeft());
    EXPECT_NEAR(*estimate.secondsLeft(), 90.0, 0.5);
    // A burst of 5 MB in a tenth of a second moves the estimate, but not to its 2 s.
    estimate.record(15'000'000, 100'000'000, start + 10'100ms);
    EXPECT_GT(*estimate.secondsLeft(), 20.0);
    EXPECT_LT(*estimate.secondsLeft(), 85.0);
}

}  // namespace
}  // namespace quaylet
