#include "core/support/LaunchTimeline.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace quaylet {
namespace {

TEST(LaunchTimelineTest, StepsEndByTheirScopeAndKeepTheirRungs) {
    LaunchTimeline timeline;
    try {
        LaunchTimeline::Step boot = timeline.begin(LaunchStep::boot, "iPhone 16 Pro");
        {
            const LaunchTimeline::Step rung =
                boot.rung("Restarting iPhone 16 Pro after a stuck start…");
        }
        boot.setBytes(7);
        const LaunchTimeline::Step install = timeline.begin(LaunchStep::install, "iPhone 16 Pro");
        throw std::runtime_error("install failed");
    } catch (const std::runtime_error&) {
    }
    const std::vector<TimelineEntry> entries = timeline.entries();
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(entries[0].state, StepState::failed) << "left by the exception too";
    ASSERT_EQ(entries[0].rungs.size(), 1U);
    EXPECT_EQ(entries[0].rungs[0].state, StepState::done);
    EXPECT_EQ(entries[0].rungs[0].device, "iPhone 16 Pro");
    EXPECT_EQ(entries[1].state, StepState::failed);
    const auto json = timeline.toJson();
    EXPECT_EQ(json["steps"][0]["rungs"][0]["detail"],
              "Restarting iPhone 16 Pro after a stuck start…");
    EXPECT_EQ(json["steps"][0]["bytes"], 7);
}

}  // namespace
}  // namespace quaylet
