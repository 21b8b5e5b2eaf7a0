#include "feature/LaunchStage.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TEST(LaunchStageTest, RawValuesRoundTripExactly) {
    for (const LaunchStage stage : kAllLaunchStages) {
        EXPECT_EQ(launchStageFromRawValue(rawValue(stage)), stage);
    }
    EXPECT_EQ(launchStageFromRawValue("Running"), std::nullopt);
    EXPECT_EQ(launchStageFromRawValue(""), std::nullopt);
}

}  // namespace
}  // namespace quaylet
