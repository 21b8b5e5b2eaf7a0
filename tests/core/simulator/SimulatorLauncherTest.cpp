#include "core/simulator/SimulatorLauncher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <sstream>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/ScriptedTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using Stage = RemoteLaunchStage;
using Stages = std::vector<RemoteLaunchStage>;
using Keys = std::vector<std::string>;
using Steps = std::map<std::string, std::string>;
namespace fs = std::filesystem;

const std::string kListing = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "DEVICE-1", "name": "iPhone 15", "state": "Shutdown", "isAvailable": true}]}})";
const std::string kBootedListing = std::regex_replace(kListing, std::regex("Shutdown"), "booted");

const Keys kKeysWithBoot = {"boot", "inspect", "install", "launch", "simulatorSelection"};
const Keys kKeysWithoutBoot = {"inspect", "install", "launch", "simulatorSelection"};
const Stages kStagesWithBoot = {Stage::selecting, Stage::booting, Stage::installing,
                                Stage::launching, Stage::running};
const Stages kStagesWithoutBoot = {Stage::selecting, Stage::installing, Stage::launching,
                                   Stage::running};

Keys keysOf(const std::map<std::string, double>& timings) {
    Keys keys;
    for (const auto& [key, seconds] : timings) {
        keys.push_back(key);
    }
    return keys;
}

// A bundle declaring fixture version 3 and scripted tools whose every call is logged; each
// simctl step succeeds unless a test gives it another body.
class SimulatorLauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app = fixtures::AppBundleBuilder().fixtureVersion("3").writeInto(folder.path());
        installVersion("3");
    }

    void installVersion(const std::optional<std::string>& version) {
        fs::remove_all(folder.path() / "installed");
        installed = (version ? fixtures::AppBundleBuilder().fixtureVersion(*version)
                             : fixtures::AppBundleBuilder().remove("QuayletFixtureVersion"))
                        .writeInto(folder.path() / "installed");
    }

    void script(const Steps& changes = {}) {
        Steps steps = {{"list", "printf '%s' '" + kListing + "'"},
                       {"get_app_container", "echo '" + installed.string() + "'"},
                       {"io", "touch \"$5\""},
                       {"open", "exit 0"}};  // the open tool, which brings Simulator forward
        for (const auto& [step, body] : changes) {
            steps[step] = body;
        }
        fs::remove(folder.path() / "calls");
        const std::string log = "echo \"$*\" >> '" + (folder.path() / "calls").string() + "'\n";
        std::string simctl = log + "case \"$2\" in\n";
        for (const auto& [step, body] : steps) {
            simctl += step + ") " + body + " ;;\n";
        }
        scripted.add("xcrun", simctl + "*) exit 0 ;;\nesac");
        scripted.add("open", log + steps.at("open"));
        scripted.add("lipo", "echo arm64");
    }

    SimulatorLauncher launcher() const {
        const ProcessRunner runner;
        const DeveloperTools tools = scripted.tools();
        return SimulatorLauncher(runner, tools, SimulatorDiscovery(runner, tools),
                                 SimulatorSelector(), AppInspector(runner, tools));
    }

    // Runs a self test and records the stages it reported.
    SelfTestReport run(SelfTestRequest request, std::stop_token stop = {}) {
        stages.clear();
        return launcher().selfTest(
            request, [this](Stage stage) { stages.push_back(stage); }, stop);
    }

    std::string calls() const {
        std::ifstream in(folder.path() / "calls");
        return (std::stringstream() << in.rdbuf()).str();
    }

    testing::TemporaryDirectory folder;
    testing::ScriptedTools scripted;
    std::filesystem::path app;
    std::filesystem::path installed;
    Stages stages;
};

TEST_F(SimulatorLauncherTest, BootsInstallsLaunchesAndVerifies) {
    const struct {
        const char* name;
        Steps steps;
        Stages stages;
        Keys keys;
    } cases[] = {
        {"shut-down device is booted", {}, kStagesWithBoot, kKeysWithBoot},
        {"already booted device is not booted again",
         {{"list", "printf '%s' '" + kBootedListing + "'"},
          {"boot", "exit 1"},
          {"bootstatus", "exit 1"}},
         kStagesWithoutBoot,
         kKeysWithoutBoot},
        {"boot refused because the device runs already",
         {{"boot", "printf 'Unable to boot device in current state: BOOTED\\n' >&2; exit 149"}},
         kStagesWithBoot,
         kKeysWithBoot},
        {"a failing activation is ignored", {{"open", "exit 1"}}, kStagesWithBoot, kKeysWithBoot},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script(c.steps);
        const SelfTestReport report = run({.appURL = app, .activateSimulator = true});
        EXPECT_EQ(stages, c.stages);
        EXPECT_EQ(keysOf(report.timings), c.keys);
        EXPECT_GE(report.timings.at("launch"), 1.0);
        EXPECT_EQ(report.simulator.udid, "DEVICE-1");
        EXPECT_EQ(report.installedContainer, installed.string());
        EXPECT_EQ(report.installedFixtureVersion, "3");
        EXPECT_FALSE(report.screenshotPath);
        EXPECT_TRUE(report.passed());
        EXPECT_NE(calls().find("-a Simulator"), std::string::npos) << calls();
    }
}

TEST_F(SimulatorLauncherTest, EachFailingStepEndsTheRunWithItsError) {
    const std::string xcrun = (scripted.directory() / "xcrun").string();
    const Stages untilLaunch = {Stage::selecting, Stage::booting, Stage::installing,
                                Stage::launching};
    const struct {
        const char* name;
        Steps steps;
        QuayletError expected;
        std::size_t stagesReported;
    } cases[] = {
        {"boot fails: its standard error kept untrimmed",
         {{"boot", "printf '  No such device\\n' >&2; exit 164"}},
         QuayletError::commandFailed("xcrun simctl boot", 164, "  No such device\n"),
         2},
        {"boot wait fails",
         {{"bootstatus", "echo ' stuck ' >&2; exit 2"}},
         QuayletError::commandFailed(xcrun + " simctl bootstatus DEVICE-1 -b", 2, "stuck"),
         2},
        {"install fails",
         {{"install", "exit 1"}},
         QuayletError::commandFailed(xcrun + " simctl install DEVICE-1 " + app.string(), 1, ""),
         3},
        {"launch fails",
         {{"launch", "exit 3"}},
         QuayletError::commandFailed(xcrun + " simctl launch DEVICE-1 com.example.Demo", 3, ""),
         4},
        {"location is only a line break",
         {{"get_app_container", "echo"}},
         QuayletError::invalidApplication(
             "Simulator couldn’t verify the installed app. Restart Simulator, then try again."),
         4},
        {"installed copy is another build",
         {{"get_app_container", "echo '" + app.parent_path().string() + "'"}},
         QuayletError::fixtureVersionMismatch("3", std::nullopt),
         4},
        {"screenshot fails: running is reported only after it",
         {{"io", "exit 1"}},
         QuayletError::commandFailed(
             xcrun + " simctl io DEVICE-1 screenshot " + (folder.path() / "shot.png").string(), 1,
             ""),
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script(c.steps);
        try {
            run({.appURL = app, .screenshotURL = folder.path() / "shot.png"});
            ADD_FAILURE() << "the run succeeded";
        } catch (const QuayletError& error) {
            EXPECT_EQ(error, c.expected);
            EXPECT_EQ(error.errorDescription(), c.expected.errorDescription());
        }
        EXPECT_EQ(stages, Stages(untilLaunch.begin(), untilLaunch.begin() + c.stagesReported));
    }
}

TEST_F(SimulatorLauncherTest, ComparesTheInstalledCopyWithTheExpectedVersion) {
    const struct {
        const char* name;
        std::optional<std::string> bundle;
        std::optional<std::string> expected;
        std::optional<std::string> installed;
        std::optional<QuayletError> error;
        std::size_t stagesReported = 4;
    } cases[] = {
        {"bundle's own version, installed copy differs", "3", std::nullopt, "4",
         QuayletError::fixtureVersionMismatch("3", "4")},
        {"bundle's own version, installed copy has none", "3", std::nullopt, std::nullopt,
         QuayletError::fixtureVersionMismatch("3", std::nullopt)},
        {"expected equal to the bundle's and installed", "3", "3", "3", std::nullopt},
        {"expected differs from the bundle's: refused before selecting", "3", "5", "5",
         QuayletError::fixtureVersionMismatch("5", "3"), 0},
        {"a bundle without a version is not checked", std::nullopt, std::nullopt, "anything",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder.path() / "bundle");
        app = (c.bundle ? fixtures::AppBundleBuilder().fixtureVersion(*c.bundle)
                        : fixtures::AppBundleBuilder().remove("QuayletFixtureVersion"))
                  .writeInto(folder.path() / "bundle");
        installVersion(c.installed);
        script();
        try {
            const SelfTestReport report =
                run({.appURL = app, .expectedFixtureVersion = c.expected});
            EXPECT_EQ(c.error, std::nullopt);
            EXPECT_EQ(report.installedFixtureVersion, c.installed);
        } catch (const QuayletError& error) {
            EXPECT_EQ(error, c.error);
            EXPECT_EQ(stages.size(), c.stagesReported);
        }
    }
}

TEST_F(SimulatorLauncherTest, ScreenshotGoesToAFolderMadeForIt) {
    script();
    const std::filesystem::path shot = folder.path() / "shots" / "deep" / "screen.png";
    const SelfTestReport report =
        launcher().selfTest({.appURL = app, .screenshotURL = shot}, nullptr, {});
    EXPECT_EQ(report.screenshotPath, shot.string());
    EXPECT_TRUE(std::filesystem::exists(shot));
    EXPECT_EQ(keysOf(report.timings), kKeysWithBoot) << "without progress the steps run the same";
}

TEST_F(SimulatorLauncherTest, CancelEndsTheLaunchWaitAndRunningCommands) {
    // Each step's command leaves a mark once it runs; the test cancels only after that.
    const std::filesystem::path mark = folder.path() / "started";
    const std::string leaveMark = "touch '" + mark.string() + "'";
    for (const Steps& steps : {Steps{{"launch", leaveMark}},  // the one-second wait after launch
                               Steps{{"install", leaveMark + "; exec sleep 30"}}}) {
        SCOPED_TRACE(steps.begin()->first);
        std::filesystem::remove(mark);
        script(steps);
        std::stop_source stop;
        auto call = std::async(std::launch::async, [&] {
            return launcher().selfTest({.appURL = app}, {}, stop.get_token());
        });
        while (!std::filesystem::exists(mark) &&
               call.wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout) {
        }
        stop.request_stop();
        ASSERT_EQ(call.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_THROW(call.get(), CancellationError);
        EXPECT_EQ(calls().find("get_app_container"), std::string::npos);
    }
}

}  // namespace
}  // namespace quaylet
