#include "feature/LaunchStage.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TEST(LaunchStageTest, RawValuesAndTitlesRoundTripExactly) {
    for (const LaunchStage stage : kAllLaunchStages) {
        EXPECT_EQ(launchStageFromRawValue(rawValue(stage)), stage);
    }
    EXPECT_EQ(launchStageFromRawValue("Running"), std::nullopt);
    EXPECT_EQ(launchStageFromRawValue(""), std::nullopt);
    for (const RemoteLaunchStage stage : kAllRemoteLaunchStages) {
        EXPECT_EQ(remoteLaunchStageFromTitle(title(stage)), stage);
    }
    EXPECT_EQ(remoteLaunchStageFromTitle("opening"), std::nullopt);
}

TEST(LaunchStageTest, StepsDependOnTheSource) {
    struct Case {
        LaunchStage stage;
        int local;
        int remote;
    };
    const Case cases[] = {
        {LaunchStage::idle, 0, 0},        {LaunchStage::fetching, 1, 1},
        {LaunchStage::downloading, 1, 2}, {LaunchStage::verifying, 1, 3},
        {LaunchStage::extracting, 1, 3},  {LaunchStage::inspecting, 1, 3},
        {LaunchStage::selecting, 2, 3},   {LaunchStage::booting, 3, 3},
        {LaunchStage::installing, 4, 4},  {LaunchStage::launching, 5, 5},
        {LaunchStage::running, 5, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.stage)));
        EXPECT_EQ(launchStep(c.stage, LaunchSource::local), c.local);
        EXPECT_EQ(launchStep(c.stage, LaunchSource::remote), c.remote);
        EXPECT_EQ(launchStep(c.stage, LaunchSource::none), c.remote);
    }
    EXPECT_EQ(progressAccessibilityValue(LaunchStage::idle, LaunchSource::none),
              "Ready, step 0 of 5");
    EXPECT_EQ(progressAccessibilityValue(LaunchStage::downloading, LaunchSource::remote),
              "Getting the build, step 2 of 5");
}

// A local build has nothing to download or unpack: those reports are not shown for it.
TEST(LaunchStageTest, CoreReportsTranslateBySource) {
    EXPECT_EQ(launchStage(RemoteLaunchStage::downloading, LaunchSource::remote),
              LaunchStage::downloading);
    EXPECT_EQ(launchStage(RemoteLaunchStage::downloading, LaunchSource::local), std::nullopt);
    EXPECT_EQ(launchStage(RemoteLaunchStage::extracting, LaunchSource::local), std::nullopt);
    EXPECT_EQ(launchStage(RemoteLaunchStage::selecting, LaunchSource::local),
              LaunchStage::selecting);
}

}  // namespace
}  // namespace quaylet
