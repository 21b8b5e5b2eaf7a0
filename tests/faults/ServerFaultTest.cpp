// The preview service misbehaving at each request of a launch: error answers, a connection
// that drops part-way through the archive, expired download addresses, an archive longer than
// promised, and requests that are never answered.
#include <filesystem>
#include <fstream>

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

    void setArtifactSize(std::uintmax_t size) {
        const auto file = builds / kPreview / "manifest.json";
        nlohmann::json manifest = nlohmann::json::parse(std::ifstream(file));
        manifest["artifactSize"] = size;
        std::ofstream(file) << manifest.dump();
    }
};

TEST_F(ServerFaultTest, AnErrorAnswerToEachRequestInTurnEndsTheLaunchWithItsMessage) {
    // The archive's host is asked again after a 5xx, and for a new address after a 410; what
    // it ends with is tried in the tests below.
    const struct {
        const char* route;
        RemoteLaunchStage stage;
        const std::string& message;
        std::vector<int> statuses;
    } requests[] = {
        {"manifest", RemoteLaunchStage::fetching, kServiceTrouble, {500, 503}},
        {"download", RemoteLaunchStage::downloading, kServiceTrouble, {500, 503}},
        {"artifact", RemoteLaunchStage::downloading, kDownloadFailed, {404, 410}},
    };
    for (const auto& request : requests) {
        for (const int status : request.statuses) {
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

TEST_F(ServerFaultTest, ADownloadThatFailsPartWayIsTriedAgainAndResumed) {
    const auto sizeOfArchive = std::filesystem::file_size(builds / kPreview / "artifact.zip");
    const auto resumeAt = [&](double fraction) {
        return "bytes=" +
               std::to_string(static_cast<std::uintmax_t>(double(sizeOfArchive) * fraction)) + "-";
    };
    const struct {
        const char* name;
        const char* route;
        const char* fault;
        nlohmann::json more;
        std::optional<std::string> message;
        std::vector<std::string> ranges;
    } cases[] = {
        {"dropped at 40 %",
         "artifact",
         "drop",
         {{"at", 0.4}, {"times", 1}},
         std::nullopt,
         {"", resumeAt(0.4)}},
        {"a 5xx answer",
         "artifact",
         "status",
         {{"status", 502}, {"times", 1}},
         std::nullopt,
         {"", ""}},
        {"an expired address, renewed",
         "download",
         "expire",
         {{"times", 1}},
         std::nullopt,
         {"", ""}},
        {"an address expired twice",
         "download",
         "expire",
         {{"times", 2}},
         kDownloadFailed,
         {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetDownloads();
        clearFaults();
        armFault(c.route, c.fault, 0, c.more);
        const LaunchOutcome outcome = launch();
        EXPECT_EQ(outcome.message(), c.message);
        EXPECT_EQ(artifactRanges(), c.ranges);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

TEST_F(ServerFaultTest, AConnectionThatKeepsDroppingFailsAndTheNextLaunchResumes) {
    armFault("artifact", "drop");
    const LaunchOutcome outcome = launch();
    EXPECT_EQ(outcome.message(), kDownloadFailed);
    EXPECT_EQ(outcome.stages.back(), RemoteLaunchStage::downloading);
    EXPECT_FALSE(std::filesystem::exists(cachedArchive()));
    EXPECT_EQ(artifactRanges().size(), 4u) << "the first attempt and three retries";
    expectCleanMachineAndWorkingNextLaunch();
    EXPECT_EQ(artifactRanges().size(), 1u);
    EXPECT_TRUE(artifactRanges().at(0).starts_with("bytes=")) << "the next launch resumes";
}

TEST_F(ServerFaultTest, AnArchiveLargerThanTheManifestSaysIsRefusedBeforeItIsSaved) {
    setArtifactSize(std::filesystem::file_size(builds / kPreview / "artifact.zip") - 1);
    const LaunchOutcome outcome = launch();
    EXPECT_EQ(outcome.message(),
              "The download failed its security check. Open Settings, clear the cache, then try "
              "again.");
    EXPECT_TRUE(std::filesystem::is_empty(buildDirectory()));
    setArtifactSize(std::filesystem::file_size(builds / kPreview / "artifact.zip"));
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
