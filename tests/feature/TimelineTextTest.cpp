#include "feature/TimelineText.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TimelineEntry entry(LaunchStep step, double duration, StepState state = StepState::done,
                    std::string device = {}) {
    return {.step = step, .device = std::move(device), .duration = duration, .state = state};
}

TEST(TimelineTextTest, SumsThePartsAPersonNamesAndSaysWhereALaunchStopped) {
    std::vector<TimelineEntry> steps{
        entry(LaunchStep::manifest, 0.3),
        entry(LaunchStep::download, 24.2),
        entry(LaunchStep::verification, 0.9),
        entry(LaunchStep::unpack, 0.84),
        entry(LaunchStep::boot, 6, StepState::done, "iPhone 16 Pro"),
        entry(LaunchStep::install, 2.3, StepState::done, "iPhone 16 Pro"),
        entry(LaunchStep::launch, 1.1, StepState::done, "iPhone 16 Pro"),
        entry(LaunchStep::installedCopyCheck, 0.1, StepState::done, "iPhone 16 Pro"),
        entry(LaunchStep::simulatorWindow, 75.4, StepState::failed),
    };
    steps[1].bytes = 1'100'000'000;
    EXPECT_EQ(timelineSummary(steps),
              "Downloaded 1.1 GB in 24 s · Prepared in 2.0 s · Started iPhone 16 Pro in 6.0 s · "
              "Installed in 2.3 s · Opened in 1.2 s");
    EXPECT_EQ(timelineStop(steps).stoppedAt, "Stopped at Simulator window");
    EXPECT_EQ(formatStepDuration(steps.back().duration), "1 min 15 s");

    // A cached build on a running device: no download and no start.
    const std::vector<TimelineEntry> cached{
        entry(LaunchStep::verification, 0.2),
        entry(LaunchStep::install, 2.3, StepState::failed, "iPhone 16 Pro")};
    EXPECT_EQ(timelineSummary(cached), "Prepared in 0.2 s · Installed in 2.3 s");
    const TimelineStop stop = timelineStop(cached);
    EXPECT_EQ(stop.stoppedAt, "Stopped at Install on iPhone 16 Pro");
    EXPECT_EQ(stop.stepsBefore, "Verification 0.2 s");
    EXPECT_EQ(timelineStop({entry(LaunchStep::manifest, 1)}).stoppedAt, "") << "nothing failed";
}

}  // namespace
}  // namespace quaylet
