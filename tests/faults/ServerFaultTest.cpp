// The preview service misbehaving at each request of a launch: error answers, a connection
// that drops halfway through the archive, and requests that are never answered.
#include <filesystem>

#include "LaunchRoad.h"

namespace quaylet::testing {
namespace {

const std::string kServiceTrouble = "The service is having trouble. Try again later.";
const std::string kDownloadFailed =
    "The build couldn’t be downloaded. Check your connection, then try again.";

class ServerFaultTest : public LaunchRoadTest {
  protected:
    // Each case starts from an empty cache, so that the download is needed again.
    void forgetDownloads() { std::filesystem::remove_all(cacheRoot); }
};

TEST_F(ServerFaultTest, AnErrorAnswerToEachRequestInTurnEndsTheLaunchWithItsMessage) {
    const struct {
        const char* route;
        RemoteLaunchStage stage;
        const std::string& message;
    } requests[] = {
        {"manifest", RemoteLaunchStage::fetching, kServiceTrouble},
        {"download", RemoteLaunchStage::downloading, kServiceTrouble},
        {"artifact", RemoteLaunchStage::downloading, kDownloadFailed},
    };
    for (const auto& request : requests) {
        for (const int status : {500, 503}) {
            SCOPED_TRACE(std::string(request.route) + " answered " + std::to_string(status));
            forgetDownloads();
            armFault(request.route, "status", status);
            const LaunchOutcome outcome = launch();
            EXPECT_EQ(outcome.message(), request.message);
            EXPECT_EQ(outcome.stages.back(), request.stage);
            expectCleanMachineAndWorkingNextLaunch();
        }
    }
}

TEST_F(ServerFaultTest, AConnectionLostHalfwayThroughTheArchiveLeavesNothingBehind) {
    armFault("artifact", "drop");
    const LaunchOutcome outcome = launch();
    EXPECT_EQ(outcome.message(),
              "The connection to the server at 127.0.0.1 was lost. Check your connection, then "
              "try again.");
    EXPECT_EQ(outcome.stages.back(), RemoteLaunchStage::downloading);
    EXPECT_FALSE(std::filesystem::exists(cachedArchive()));
    expectCleanMachineAndWorkingNextLaunch();
}

TEST_F(ServerFaultTest, TheUserEndsTheWaitForAServiceThatStoppedAnswering) {
    const struct {
        const char* route;
        RemoteLaunchStage stage;
    } requests[] = {
        {"manifest", RemoteLaunchStage::fetching},
        {"download", RemoteLaunchStage::downloading},
        {"artifact", RemoteLaunchStage::downloading},
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request.route);
        forgetDownloads();
        armFault(request.route, "stall");
        const LaunchOutcome outcome = launchAndCancelWhen([this] { awaitStalledRequest(); });
        EXPECT_TRUE(outcome.wasCancelled()) << outcome.message().value_or("it succeeded");
        EXPECT_EQ(outcome.stages.back(), request.stage);
        EXPECT_FALSE(std::filesystem::exists(cachedArchive()));
        expectCleanMachineAndWorkingNextLaunch();
    }
}

}  // namespace
}  // namespace quaylet::testing
