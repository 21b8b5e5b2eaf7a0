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

}  // namespace
}  // namespace quaylet
