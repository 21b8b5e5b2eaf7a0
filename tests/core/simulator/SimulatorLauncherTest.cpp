#include "core/simulator/SimulatorLauncher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sstream>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using Stage = RemoteLaunchStage;
using Stages = std::vector<RemoteLaunchStage>;
using Keys = std::vector<std::string>;

constexpr const char* kShutDownListing = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "DEVICE-1", "name": "iPhone 15", "state": "Shutdown", "isAvailable": true}]}})";
constexpr const char* kBootedListing = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "DEVICE-1", "name": "iPhone 15", "state": "booted", "isAvailable": true}]}})";

// How each simctl subcommand of the scripted xcrun behaves; every call is logged.
struct Simctl {
    std::string list = std::string("printf '%s' '") + kShutDownListing + "'";
    std::string boot = "exit 0";
    std::string bootstatus = "exit 0";
    std::string install = "exit 0";
    std::string launch = "exit 0";
    std::string getAppContainer = "echo \"$INSTALLED\"";
    std::string screenshot = "touch \"$5\"";
    std::string activate = "exit 0";
};

std::string commandsRun(const std::filesystem::path& log) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SimulatorLauncherTest : public ::testing::Test {
  protected:
    // A bundle declaring fixture version 3, its installed copy declaring installedVersion.
    void SetUp() override {
        app = fixtures::AppBundleBuilder().fixtureVersion("3").writeInto(folder.path());
        setInstalledVersion("3");
    }

    void setInstalledVersion(const std::optional<std::string>& version) {
        fixtures::AppBundleBuilder builder;
        if (version) {
            builder.fixtureVersion(*version);
        } else {
            builder.remove("QuayletFixtureVersion");
        }
        std::filesystem::remove_all(folder.path() / "installed");
        installed = builder.writeInto(folder.path() / "installed");
    }

    void script(const Simctl& simctl) {
        const std::string log = (folder.path() / "calls").string();
        scripted.add("xcrun", "echo \"$*\" >> '" + log + "'\nINSTALLED='" + installed.string() +
                                  "'\ncase \"$2\" in\n"
                                  "list) " +
                                  simctl.list +
                                  " ;;\n"
                                  "boot) " +
                                  simctl.boot +
                                  " ;;\n"
                                  "bootstatus) " +
                                  simctl.bootstatus +
                                  " ;;\n"
                                  "install) " +
                                  simctl.install +
                                  " ;;\n"
                                  "launch) " +
                                  simctl.launch +
                                  " ;;\n"
                                  "get_app_container) " +
                                  simctl.getAppContainer +
                                  " ;;\n"
                                  "io) " +
                                  simctl.screenshot +
                                  " ;;\n"
                                  "esac");
        scripted.add("open", "echo \"open $*\" >> '" + log + "'\n" + simctl.activate);
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
        return launcher().selfTest(
            request, [this](Stage stage) { stages.push_back(stage); }, stop);
    }

    SelfTestRequest request() const { return {.appURL = app}; }
    std::string calls() const { return commandsRun(folder.path() / "calls"); }

    testing::TemporaryDirectory folder;
    mutable testing::ScriptedTools scripted;
    std::filesystem::path app;
    std::filesystem::path installed;
    Stages stages;
};

Keys keysOf(const std::map<std::string, double>& timings) {
    Keys keys;
    for (const auto& [key, seconds] : timings) {
        keys.push_back(key);
    }
    return keys;
}

const Keys kKeysWithBoot = {"boot", "inspect", "install", "launch", "simulatorSelection"};
const Keys kKeysWithoutBoot = {"inspect", "install", "launch", "simulatorSelection"};
const Stages kStagesWithBoot = {Stage::selecting, Stage::booting, Stage::installing,
                                Stage::launching, Stage::running};

TEST_F(SimulatorLauncherTest, BootsInstallsLaunchesAndVerifies) {
    struct Case {
        const char* name;
        Simctl simctl;
        Stages stages;
        Keys keys;
    };
    const Case cases[] = {
        {"shut-down device is booted", {}, kStagesWithBoot, kKeysWithBoot},
        {"already booted device is not booted again",
         {.list = std::string("printf '%s' '") + kBootedListing + "'"},
         {Stage::selecting, Stage::installing, Stage::launching, Stage::running},
         kKeysWithoutBoot},
        {"boot refused because the device runs already",
         {.boot = "printf 'Unable to boot device in current state: BOOTED\\n' >&2; exit 149"},
         kStagesWithBoot,
         kKeysWithBoot},
        {"a failing activation is ignored", {.activate = "exit 1"}, kStagesWithBoot, kKeysWithBoot},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stages.clear();
        script(c.simctl);
        SelfTestRequest activating = request();
        activating.activateSimulator = true;
        const SelfTestReport report = run(activating);
        EXPECT_EQ(stages, c.stages);
        EXPECT_EQ(keysOf(report.timings), c.keys);
        EXPECT_GE(report.timings.at("launch"), 1.0);
        EXPECT_EQ(report.simulator.udid, "DEVICE-1");
        EXPECT_EQ(report.installedContainer, installed.string());
        EXPECT_EQ(report.installedFixtureVersion, "3");
        EXPECT_FALSE(report.screenshotPath);
        EXPECT_TRUE(report.passed());
        EXPECT_NE(calls().find("open -a Simulator"), std::string::npos);
    }
}

TEST_F(SimulatorLauncherTest, BootedDeviceRunsNoBootCommands) {
    script({.list = std::string("printf '%s' '") + kBootedListing + "'"});
    const SelfTestReport report = run(request());
    EXPECT_EQ(report.simulator.state, "booted");
    EXPECT_EQ(calls().find("boot"), std::string::npos);
}

TEST_F(SimulatorLauncherTest, EachFailingStepEndsTheRunWithItsError) {
    const std::string xcrun = (scripted.directory() / "xcrun").string();
    struct Case {
        const char* name;
        Simctl simctl;
        QuayletError expected;
        Stages stages;
    };
    const Case cases[] = {
        {"boot fails: its standard error kept untrimmed",
         {.boot = "printf '  No such device\\n' >&2; exit 164"},
         QuayletError::commandFailed("xcrun simctl boot", 164, "  No such device\n"),
         {Stage::selecting, Stage::booting}},
        {"boot wait fails",
         {.bootstatus = "echo ' stuck ' >&2; exit 2"},
         QuayletError::commandFailed(xcrun + " simctl bootstatus DEVICE-1 -b", 2, "stuck"),
         {Stage::selecting, Stage::booting}},
        {"install fails",
         {.install = "exit 1"},
         QuayletError::commandFailed(xcrun + " simctl install DEVICE-1 " + app.string(), 1, ""),
         {Stage::selecting, Stage::booting, Stage::installing}},
        {"launch fails",
         {.launch = "exit 3"},
         QuayletError::commandFailed(xcrun + " simctl launch DEVICE-1 com.example.Demo", 3, ""),
         {Stage::selecting, Stage::booting, Stage::installing, Stage::launching}},
        {"location is only a line break",
         {.getAppContainer = "echo"},
         QuayletError::invalidApplication(
             "Simulator couldn’t verify the installed app. Restart Simulator, then try again."),
         {Stage::selecting, Stage::booting, Stage::installing, Stage::launching}},
        {"installed copy is another build",
         {.getAppContainer = "echo '" + app.parent_path().string() + "'"},
         QuayletError::fixtureVersionMismatch("3", std::nullopt),
         {Stage::selecting, Stage::booting, Stage::installing, Stage::launching}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stages.clear();
        script(c.simctl);
        try {
            run(request());
            ADD_FAILURE() << "the run succeeded";
        } catch (const QuayletError& error) {
            EXPECT_EQ(error, c.expected);
            EXPECT_EQ(error.errorDescription(), c.expected.errorDescription());
        }
        EXPECT_EQ(stages, c.stages);
    }
}

TEST_F(SimulatorLauncherTest, ComparesTheInstalledCopyWithTheExpectedVersion) {
    struct Case {
        const char* name;
        std::optional<std::string> expected;
        std::optional<std::string> installedVersion;
        std::optional<QuayletError> error;
    };
    const Case cases[] = {
        {"bundle's own version, installed copy differs", std::nullopt, "4",
         QuayletError::fixtureVersionMismatch("3", "4")},
        {"bundle's own version, installed copy has none", std::nullopt, std::nullopt,
         QuayletError::fixtureVersionMismatch("3", std::nullopt)},
        {"expected equal to the bundle's and installed", "3", "3", std::nullopt},
        {"expected differs from the bundle's: refused before selecting", "5", "5",
         QuayletError::fixtureVersionMismatch("5", "3")},
    };
    script({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stages.clear();
        setInstalledVersion(c.installedVersion);
        script({});
        SelfTestRequest expecting = request();
        expecting.expectedFixtureVersion = c.expected;
        try {
            const SelfTestReport report = run(expecting);
            EXPECT_FALSE(c.error);
            EXPECT_EQ(report.installedFixtureVersion, c.installedVersion);
        } catch (const QuayletError& error) {
            ASSERT_TRUE(c.error);
            EXPECT_EQ(error, *c.error);
        }
    }
    EXPECT_TRUE(stages.empty()) << "the bundle's own check comes before any stage";
}

TEST_F(SimulatorLauncherTest, BundleWithoutFixtureVersionIsNotChecked) {
    app = fixtures::AppBundleBuilder("Plain.app")
              .remove("QuayletFixtureVersion")
              .writeInto(folder.path() / "plain");
    setInstalledVersion("anything");
    script({});
    const SelfTestReport report = run(request());
    EXPECT_EQ(report.installedFixtureVersion, "anything");
    EXPECT_TRUE(report.passed());
}

TEST_F(SimulatorLauncherTest, ScreenshotGoesToAFolderMadeForIt) {
    script({});
    SelfTestRequest shooting = request();
    shooting.screenshotURL = folder.path() / "shots" / "deep" / "screen.png";
    const SelfTestReport report = run(shooting);
    EXPECT_EQ(report.screenshotPath, shooting.screenshotURL->string());
    EXPECT_TRUE(std::filesystem::exists(*shooting.screenshotURL));

    stages.clear();
    script({.screenshot = "exit 1"});
    EXPECT_THROW(run(shooting), QuayletError);
    EXPECT_EQ(stages.back(), Stage::launching) << "running is reported only after the screenshot";
}

TEST_F(SimulatorLauncherTest, WithoutProgressTheStepsRunTheSame) {
    script({});
    const SelfTestReport report = launcher().selfTest(request(), nullptr, {});
    EXPECT_EQ(keysOf(report.timings), kKeysWithBoot);
}

TEST_F(SimulatorLauncherTest, CancelEndsTheLaunchWaitAndRunningCommands) {
    // Each step's command leaves a mark once it runs; the test cancels only after that.
    const std::filesystem::path mark = folder.path() / "started";
    const std::string leaveMark = "touch '" + mark.string() + "'";
    struct Case {
        const char* name;
        Simctl simctl;
    };
    const Case cases[] = {
        {"during the one-second wait after launch", {.launch = leaveMark}},
        {"during a long install", {.install = leaveMark + "; exec sleep 30"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(mark);
        script(c.simctl);
        std::stop_source stop;
        auto call = std::async(std::launch::async, [&] {
            return launcher().selfTest(request(), {}, stop.get_token());
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

// The stand-in tools keep their simulated device set in QUAYLET_SIMULATOR_HOME, which a fresh
// folder makes empty of anything booted or installed.
TEST(SimulatorLauncherEndToEndTest, RunsALocalBuildOnTheStandInSimulator) {
    testing::TemporaryDirectory home;
    testing::TemporaryDirectory folder;
    const testing::ScopedEnvironment simulatorHome("QUAYLET_SIMULATOR_HOME", home.path().string());
    const testing::ScopedEnvironment hostTools("QUAYLET_HOST_TOOLS_DIR", std::nullopt);
    const ProcessRunner runner;
    const DeveloperTools tools = DeveloperTools::forThisHost();
    const SimulatorLauncher launcher(runner, tools, SimulatorDiscovery(runner, tools),
                                     SimulatorSelector(), AppInspector(runner, tools));
    const std::filesystem::path app =
        fixtures::AppBundleBuilder().fixtureVersion("7").writeInto(folder.path());

    Stages stages;
    const auto record = [&stages](Stage stage) { stages.push_back(stage); };
    const SelfTestReport first = launcher.selfTest({.appURL = app}, record, {});
    EXPECT_EQ(stages, kStagesWithBoot);
    EXPECT_EQ(keysOf(first.timings), kKeysWithBoot);
    EXPECT_FALSE(first.simulator.isBooted()) << "the device as listed before the boot";
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(first.installedContainer) /
                                                 "Info.plist"));
    EXPECT_EQ(first.installedFixtureVersion, "7");
    EXPECT_TRUE(first.passed());

    stages.clear();
    const SelfTestReport second = launcher.selfTest({.appURL = app}, record, {});
    EXPECT_EQ(stages,
              (Stages{Stage::selecting, Stage::installing, Stage::launching, Stage::running}));
    EXPECT_EQ(keysOf(second.timings), kKeysWithoutBoot);
    EXPECT_EQ(second.simulator.udid, first.simulator.udid);
    EXPECT_TRUE(second.simulator.isBooted());
    EXPECT_EQ(second.installedFixtureVersion, "7");
}

}  // namespace
}  // namespace quaylet
