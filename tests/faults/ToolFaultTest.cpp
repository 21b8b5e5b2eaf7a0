// A host tool misbehaving at each step that needs one: killed by a signal, failing, printing
// garbage, or hanging until the user cancels.
#include <sys/wait.h>

#include <filesystem>

#include "LaunchRoad.h"
#include "support/ProcessState.h"

namespace quaylet::testing {
namespace {

const std::string kCommandFailed =
    "A required Mac command failed. Open Diagnostics, then try again.";
// Stands for the path of the test's signpost in a script body.
const std::string kSignpostMark = "SIGNPOST";
// Tells the test that the tool runs, then waits for whatever ends it.
const std::string kHang = "echo $$ > '" + kSignpostMark + "'; exec sleep 600";

struct ToolFault {
    const char* name;
    const char* tool;
    const char* subcommand;  // empty: every call of the tool
    std::string body;
    RemoteLaunchStage stage;             // the stage the launch ends in
    std::optional<std::string> message;  // how the message starts; absent: it hangs, and the
                                         // user cancels
};

class ToolFaultTest : public LaunchRoadTest, public ::testing::WithParamInterface<ToolFault> {};

TEST_P(ToolFaultTest, EndsTheLaunchAndLeavesNothingBehind) {
    const ToolFault& fault = GetParam();
    const Signpost signpost(scratch.path() / "signpost");
    std::string body = fault.body;
    if (const auto mark = body.find(kSignpostMark); mark != std::string::npos) {
        body.replace(mark, kSignpostMark.size(), signpost.path().string());
    }
    ScriptedTools folder;
    const DeveloperTools tools = toolsWithFault(folder, fault.tool, fault.subcommand, body);

    LaunchOutcome outcome;
    if (fault.message) {
        outcome = launch(tools);
        EXPECT_TRUE(outcome.message().value_or("").starts_with(*fault.message))
            << outcome.message().value_or("it succeeded");
    } else {
        pid_t hung = 0;
        outcome = launchAndCancelWhen([&] { hung = std::stoi("0" + signpost.awaitLine()); }, tools);
        ASSERT_GT(hung, 0) << "the tool never ran: " << outcome.message().value_or("");
        EXPECT_TRUE(outcome.wasCancelled()) << outcome.message().value_or("it succeeded");
        EXPECT_FALSE(isRunning(hung)) << "the hanging tool outlived the cancellation";
    }
    ASSERT_FALSE(outcome.stages.empty());
    EXPECT_EQ(outcome.stages.back(), fault.stage);
    expectCleanMachineAndWorkingNextLaunch();
}

INSTANTIATE_TEST_SUITE_P(
    EveryToolOfTheRoad, ToolFaultTest,
    ::testing::Values(
        ToolFault{"ArchiveListingExitsNonZero", "zipinfo", "",
                  "echo 'zipinfo: damaged' >&2; exit 9", RemoteLaunchStage::extracting,
                  kCommandFailed},
        ToolFault{"ArchiveListingPrintsGarbage", "zipinfo", "",
                  "printf '../../outside\\n\\377\\376\\n'; exit 0", RemoteLaunchStage::extracting,
                  "The downloaded build failed its security check. Open Settings, clear the "
                  "cache, then try again."},
        ToolFault{"UnpackingKilledByASignal", "ditto", "", "kill -KILL $$",
                  RemoteLaunchStage::extracting, kCommandFailed},
        ToolFault{"UnpackingHangs", "ditto", "", kHang, RemoteLaunchStage::extracting,
                  std::nullopt},
        // Any other words pass: architecture names are not checked against a list.
        ToolFault{"ArchitectureListingPrintsOnlyBlanks", "lipo", "", "printf ' \t\n'; exit 0",
                  RemoteLaunchStage::extracting,
                  "This build contains no code that can run in Simulator on this Mac."},
        ToolFault{"SimulatorListingPrintsGarbage", "xcrun", "list",
                  "echo '<html>Service Unavailable</html>'; exit 0", RemoteLaunchStage::selecting,
                  "The data couldn’t be read because it isn’t in the correct format."},
        ToolFault{"SimulatorListingKilledByASignal", "xcrun", "list", "kill -TERM $$",
                  RemoteLaunchStage::selecting, kCommandFailed},
        ToolFault{"SimulatorListingHangs", "xcrun", "list", kHang, RemoteLaunchStage::selecting,
                  std::nullopt},
        ToolFault{"BootExitsNonZero", "xcrun", "boot",
                  "echo 'Unable to boot device because it is unavailable' >&2; exit 149",
                  RemoteLaunchStage::booting,
                  "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, "
                  "then try again."},
        ToolFault{"BootWaitHangs", "xcrun", "bootstatus", kHang, RemoteLaunchStage::booting,
                  std::nullopt},
        ToolFault{"InstallKilledByASignal", "xcrun", "install", "kill -KILL $$",
                  RemoteLaunchStage::installing,
                  "The app couldn’t be installed. Restart Simulator, then try again."},
        ToolFault{"InstallHangs", "xcrun", "install", kHang, RemoteLaunchStage::installing,
                  std::nullopt},
        ToolFault{"LaunchExitsNonZero", "xcrun", "launch", "exit 1", RemoteLaunchStage::launching,
                  "The app was installed but didn’t open. Restart Simulator, then try again."},
        ToolFault{"InstalledLocationPrintsGarbage", "xcrun", "get_app_container",
                  "printf '\\001\\377 not a folder\\n'; exit 0", RemoteLaunchStage::launching,
                  "The installed app doesn’t match this build. Open Settings, clear the cache, "
                  "then try again."}),
    [](const ::testing::TestParamInfo<ToolFault>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quaylet::testing
