#include "core/simulator/SimulatorLauncher.h"

#include <gtest/gtest.h>

#include <future>
#include <map>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/simulator/LaunchOptions.h"
#include "core/simulator/SimulatorDiscovery.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/ScriptedTools.h"
#include "support/Signpost.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using Stage = RemoteLaunchStage;
using Stages = std::vector<RemoteLaunchStage>;
using Steps = std::map<std::string, std::string>;
namespace fs = std::filesystem;

const std::string kListing = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "DEVICE-1", "name": "iPhone 15", "state": "Shutdown", "isAvailable": true}]}})";

const Stages kStages = {Stage::selecting, Stage::booting, Stage::installing, Stage::launching,
                        Stage::running};

// Scripted tools whose every simctl step succeeds unless a test gives it another body; bringing
// Simulator forward fails, which must not fail the run.
class SimulatorLauncherTest : public ::testing::Test {
  protected:
    void installVersion(const std::string& version) {
        fs::remove_all(folder.path() / "installed");
        installed = fixtures::AppBundleBuilder().fixtureVersion(version).writeInto(folder.path() /
                                                                                   "installed");
    }

    void script(const Steps& changes = {}) {
        Steps steps = {{"list", "printf '%s' '" + kListing + "'"},
                       {"get_app_container", "echo '" + installed.string() + "'"},
                       {"io", "touch \"$5\""}};
        for (const auto& [step, body] : changes) {
            steps[step] = body;
        }
        std::string simctl = "case \"$2\" in\n";
        for (const auto& [step, body] : steps) {
            simctl += step + ") " + body + " ;;\n";
        }
        scripted.add("xcrun", simctl + "*) exit 0 ;;\nesac");
        scripted.add("open", "touch '" + (folder.path() / "activated").string() + "'; exit 1");
        scripted.add("lipo", "echo arm64");
    }

    SelfTestReport run(const SelfTestRequest& request, std::stop_token stop = {}) {
        stages.clear();
        const ProcessRunner runner;
        const DeveloperTools tools = scripted.tools();
        return SimulatorLauncher(runner, tools, SimulatorDiscovery(runner, tools),
                                 SimulatorSelector(), AppInspector(runner, tools))
            .selfTest(
                request, [this](Stage stage) { stages.push_back(stage); }, stop);
    }

    testing::TemporaryDirectory folder;
    const fs::path app = fixtures::AppBundleBuilder().writeInto(folder.path() / "bundle");
    testing::ScriptedTools scripted;
    std::filesystem::path installed;
    Stages stages;
};

// Every run asks for a screenshot in a folder made for it and for Simulator to be brought
// forward.
TEST_F(SimulatorLauncherTest, RunsEachStepOrEndsWithItsError) {
    const fs::path shot = folder.path() / "shots" / "deep" / "screen.png";
    const QuayletError unverified = QuayletError::invalidApplication(
        "Simulator couldn’t verify the installed app. Restart Simulator, then try again.");
    const QuayletError noShot =
        QuayletError::commandFailed((scripted.directory() / "xcrun").string() +
                                        " simctl io DEVICE-1 screenshot " + shot.string(),
                                    1, "disk full");
    const std::string failingShot = "printf ' disk full \\n' >&2; echo out; exit 1";
    const auto mismatch = &QuayletError::fixtureVersionMismatch;
    // The app declares fixture version 1.
    using enum LaunchStep;
    using enum StepState;
    const struct {
        Steps steps;
        std::optional<std::string> expected;
        std::string installed;
        std::optional<QuayletError> error;
        std::size_t stagesReported;
        std::pair<LaunchStep, StepState> lastStep;  // in the timeline
    } cases[] = {
        // Simulator's failure to come forward is kept in the timeline alone.
        {{}, {}, "1", {}, 5, {simulatorWindow, failed}},
        {{{"get_app_container", "echo"}}, {}, "1", unverified, 4, {installedCopyCheck, failed}},
        // Running is reported after the shot; a failed step's detail is its trimmed error.
        {{{"io", failingShot}}, {}, "1", noShot, 4, {installedCopyCheck, done}},
        {{}, {}, "4", mismatch("1", "4"), 4, {installedCopyCheck, failed}},
        {{}, "5", "5", mismatch("5", "1"), 0, {inspection, failed}},  // before selecting
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stagesReported);
        fs::remove_all(folder.path() / "shots");
        installVersion(c.installed);
        script(c.steps);
        LaunchTimeline timeline;
        try {
            const SelfTestReport report = run({.appPath = app,
                                               .expectedFixtureVersion = c.expected,
                                               .screenshotURL = shot,
                                               .activateSimulator = true,
                                               .timeline = &timeline});
            EXPECT_EQ(c.error, std::nullopt);
            EXPECT_EQ(report.installedContainer, installed.string());
            EXPECT_EQ(report.installedFixtureVersion, c.installed);
            EXPECT_EQ(report.screenshotPath, shot.string());
            EXPECT_TRUE(fs::exists(shot));
            EXPECT_TRUE(fs::exists(folder.path() / "activated")) << "Simulator brought forward";
        } catch (const QuayletError& error) {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_EQ(stages, Stages(kStages.begin(), kStages.begin() + c.stagesReported));
        const TimelineEntry last = timeline.entries().back();
        EXPECT_EQ(std::pair(last.step, last.state), c.lastStep);
        if (!c.error) {
            EXPECT_EQ(timeline.entries().at(2).device, "iPhone 15") << "the boot's device";
            const CommandRecord window = timeline.commands().back();
            EXPECT_EQ(window.executable, (scripted.directory() / "open").string());
            EXPECT_EQ(window.status, 1);
        }
    }
}

// A stop ends the one-second look after launch and a command still running (the boot wait
// too, though it has a time limit of its own), and nothing is verified after it.
TEST_F(SimulatorLauncherTest, CancelEndsTheLaunchWaitAndRunningCommands) {
    const fs::path verified = folder.path() / "verified";
    for (const std::string step : {"launch", "install", "bootstatus"}) {
        SCOPED_TRACE(step);
        const testing::Signpost started(folder.path() / step);
        const std::string markStart = "echo started > '" + started.path().string() + "'";
        script({{step, step == "launch" ? markStart : markStart + "; exec sleep 30"},
                {"get_app_container", "touch '" + verified.string() + "'"}});
        std::stop_source stop;
        auto call =
            std::async(std::launch::async, [&] { return run({.appPath = app}, stop.get_token()); });
        ASSERT_EQ(started.awaitLine(), "started");
        stop.request_stop();
        ASSERT_EQ(call.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_THROW(call.get(), CancellationError);
        EXPECT_FALSE(fs::exists(verified));
    }
}

// The command line's test reads the usual mistakes; these would carry bytes through to the
// variables or the URL handler of the app.
TEST(LaunchOptionsTest, RefusesNamesAndURLsThatWouldSmuggleBytes) {
    EXPECT_EQ(parseEnvironmentAssignment("A-B=x"), std::nullopt);
    EXPECT_THROW(checkLaunchOptions({.environment = {{"A=B", "c"}}}), QuayletError);
    for (const char* url : {"myapp://screen with space", "myapp://screen\n", "-flag"}) {
        EXPECT_THROW(checkLaunchOptions({.openURL = url}), QuayletError) << url;
    }
    EXPECT_NO_THROW(checkLaunchOptions({.openURL = "myapp://screen/42"}));
}

constexpr const char* kOnlyUnavailableDevices = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "U1", "name": "iPhone 15", "state": "Shutdown", "isAvailable": false}]}})";

// Each command waits (boundedly) until all three have started, so run one after another they
// would each give up and fail; their output is read trimmed.
TEST(SimulatorDiscoveryTest, EnvironmentRunsItsThreeCommandsConcurrently) {
    testing::ScriptedTools scripted;
    const std::string folder = "'" + scripted.directory().string() + "'";
    const std::string rendezvous = "touch " + folder + "/started-$1\nfor i in $(seq 100); do\n" +
                                   "  [ $(ls " + folder + " | grep -c started-) -eq 3 ] && " +
                                   "{ printf ' ok\\n\\n'; exit 0; }\n  sleep 0.1\ndone\nexit 1";
    scripted.add("xcode-select", rendezvous);
    scripted.add("uname", rendezvous);
    scripted.add("xcrun", "case \"$1\" in\n--find) set -- find; " + rendezvous + " ;;\n" +
                              "*) printf '%s' '" + kOnlyUnavailableDevices + "' ;;\nesac");
    const auto inventory = SimulatorInventory::fromSimctlListing(kOnlyUnavailableDevices);
    const std::string none =
        "No iOS Simulators are installed. Add one in Xcode Settings under Platforms.";
    EXPECT_EQ(SimulatorDiscovery(ProcessRunner(), scripted.tools()).environment({}),
              (EnvironmentSnapshot{"ok", "ok", "ok", inventory, {none}}));
}

}  // namespace
}  // namespace quaylet
