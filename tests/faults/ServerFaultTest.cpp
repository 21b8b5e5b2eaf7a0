// The preview service misbehaving at each request of a launch: error answers, a connection
// that drops part-way through the archive, expired download addresses, an archive longer than
// promised, and requests that are never answered.
#include <filesystem>
#include <fstream>

#include "LaunchRoad.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;
using Stage = RemoteLaunchStage;

const std::string kServiceTrouble = "The service is having trouble. Try again later.";
const std::string kDownloadFailed =
    "The build couldn’t be downloaded. Check your connection, then try again.";

using ServerFaultTest = LaunchRoadTest;

// Each case starts from an empty cache, so that the download is needed again. The archive's
// host is asked again after a 5xx, and for a new address after a 410; a stalled request
// holds the launch until the user cancels it.
TEST_F(ServerFaultTest, EachRequestFailingInTurnEndsOrResumesTheLaunchAndLeavesNothingBehind) {
    const auto resumeAt = [size = fs::file_size(builds / kPreview / "artifact.zip")](double part) {
        return "bytes=" + std::to_string(static_cast<std::uintmax_t>(double(size) * part)) + "-";
    };
    const struct {
        const char* route;
        const char* fault;
        std::optional<std::string> message;  // absent: it succeeds, or a stall is cancelled
        Stage stage;                         // the last stage reported
        std::vector<std::string> ranges;     // of the archive requests, when checked
    } cases[] = {
        {"manifest", R"({"fault": "status", "status": 500})", kServiceTrouble, Stage::fetching, {}},
        {"manifest", R"({"fault": "status", "status": 503})", kServiceTrouble, Stage::fetching, {}},
        {"download",
         R"({"fault": "status", "status": 500})",
         kServiceTrouble,
         Stage::downloading,
         {}},
        {"download",
         R"({"fault": "status", "status": 503})",
         kServiceTrouble,
         Stage::downloading,
         {}},
        {"artifact",
         R"({"fault": "status", "status": 404})",
         kDownloadFailed,
         Stage::downloading,
         {}},
        {"artifact",
         R"({"fault": "status", "status": 410})",
         kDownloadFailed,
         Stage::downloading,
         {}},
        {"artifact",
         R"({"fault": "drop", "at": 0.4, "times": 1})",
         std::nullopt,
         Stage::running,
         {"", resumeAt(0.4)}},
        {"artifact",
         R"({"fault": "status", "status": 502, "times": 1})",
         std::nullopt,
         Stage::running,
         {"", ""}},
        {"download", R"({"fault": "expire", "times": 1})", std::nullopt, Stage::running, {"", ""}},
        {"download",
         R"({"fault": "expire", "times": 2})",
         kDownloadFailed,
         Stage::downloading,
         {"", ""}},
        {"manifest", R"({"fault": "stall"})", std::nullopt, Stage::fetching, {}},
        {"download", R"({"fault": "stall"})", std::nullopt, Stage::downloading, {}},
        {"artifact", R"({"fault": "stall"})", std::nullopt, Stage::downloading, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.route) + " " + c.fault);
        fs::remove_all(cacheRoot);
        clearFaults();
        armFault(c.route, c.fault);
        const bool stalls = std::string_view(c.fault).find("stall") != std::string_view::npos;
        const LaunchOutcome outcome =
            stalls ? launchAndCancelWhen([this] { awaitStalledRequest(); }) : launch();
        EXPECT_EQ(outcome.message(), c.message);
        EXPECT_EQ(outcome.wasCancelled(), stalls);
        EXPECT_EQ(outcome.stages.back(), c.stage);
        if (!c.ranges.empty()) {
            EXPECT_EQ(artifactRanges(), c.ranges);
        }
        EXPECT_EQ(fs::exists(cachedArchive()), !c.message && !stalls);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

TEST_F(ServerFaultTest, AConnectionThatKeepsDroppingFailsAndTheNextLaunchResumes) {
    armFault("artifact", R"({"fault": "drop"})");
    const LaunchOutcome outcome = launch();
    EXPECT_EQ(outcome.message(), kDownloadFailed);
    EXPECT_FALSE(fs::exists(cachedArchive()));
    EXPECT_EQ(artifactRanges().size(), 4u) << "the first attempt and three retries";
    expectCleanMachineAndWorkingNextLaunch();
    EXPECT_EQ(artifactRanges().size(), 1u);
    EXPECT_TRUE(artifactRanges().at(0).starts_with("bytes=")) << "the next launch resumes";
}

TEST_F(ServerFaultTest, AnArchiveLargerThanTheManifestSaysIsRefusedBeforeItIsSaved) {
    const auto setArtifactSize = [&](std::uintmax_t size) {
        const auto file = builds / kPreview / "manifest.json";
        nlohmann::json manifest = nlohmann::json::parse(std::ifstream(file));
        manifest["artifactSize"] = size;
        std::ofstream(file) << manifest.dump();
    };
    const auto size = fs::file_size(builds / kPreview / "artifact.zip");
    setArtifactSize(size - 1);
    EXPECT_EQ(launch().message(),
              "The download failed its security check. Open Settings, clear the cache, then try "
              "again.");
    EXPECT_TRUE(fs::is_empty(buildDirectory()));
    setArtifactSize(size);
    expectCleanMachineAndWorkingNextLaunch();
}

}  // namespace
}  // namespace quaylet::testing
