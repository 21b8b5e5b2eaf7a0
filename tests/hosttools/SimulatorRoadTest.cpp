// The launcher on the stand-in tools, which play the failures simulators are known for; each
// tool is run through a script that logs its command line first.
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/errors/QuayletError.h"
#include "core/simulator/SimulatorLauncher.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedTools.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Lines = std::vector<std::string>;

constexpr const char* kUDID = "5D3C1F0A-7B2E-4C61-9A8D-1E2F3A4B5C6D";

// The timeline's rungs, as "boot Restarting …", with " failed" after those that did not work.
Lines rungsOf(const LaunchTimeline& timeline) {
    Lines rungs;
    for (const TimelineEntry& entry : timeline.entries()) {
        for (const TimelineEntry& rung : entry.rungs) {
            rungs.push_back(std::string(launchStepName(entry.step)) + " " + rung.detail +
                            (rung.state == StepState::failed ? " failed" : ""));
        }
    }
    return rungs;
}

class SimulatorRoadTest : public ::testing::Test {
  protected:
    SimulatorRoadTest() {
        for (const char* tool : {"xcrun", "open", "xcode-select", "uname", "lipo"}) {
            wrappers.add(
                tool, "echo \"${0##*/} $*\" >> '" + (home.path() / "log").string() + "'\nexec '" +
                          (fs::path(QUAYLET_HOST_TOOLS_BUILD_DIR) / tool).string() + "' \"$@\"");
        }
    }

    // One booted iPhone 16 Pro, changed by set["phone"], and the rest of set.
    void seed(json set) const {
        json phone = json::parse(R"({"name": "iPhone 16 Pro", "state": "Booted",
            "isAvailable": true, "runtime": "iOS-18"})");
        phone["udid"] = kUDID;
        phone.update(set.value("phone", json::object()));
        set.erase("phone");
        set["devices"] = {phone};
        set["runtimes"] = json::parse(R"([{"identifier": "iOS-18", "name": "iOS 18.2",
            "version": "18.2", "isAvailable": true}])");
        std::ofstream(home.path() / "devices.json") << set.dump();
        fs::remove(home.path() / "log");
    }

    // Of each logged line that starts with prefix, the word after it.
    Lines loggedCommands(const std::string& prefix) const {
        Lines lines;
        std::ifstream log(home.path() / "log");
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with(prefix)) {
                lines.push_back(
                    line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size()));
            }
        }
        return lines;
    }

    SelfTestReport launch(Lines& told, LaunchTimeline& timeline) const {
        const ProcessRunner runner;
        const DeveloperTools tools = wrappers.tools();
        return SimulatorLauncher(runner, tools, SimulatorDiscovery(runner, tools),
                                 SimulatorSelector(), AppInspector(runner, tools))
            .selfTest(
                {.appPath = app,
                 .activateSimulator = true,
                 .repairs = {.bootTimeout = std::chrono::seconds(1),
                             .onRepair = [&](const std::string& line) { told.push_back(line); }},
                 .timeline = &timeline},
                nullptr, {});
    }

    TemporaryDirectory home;
    ScopedEnvironment simulatorHome{"QUAYLET_SIMULATOR_HOME", home.path().string()};
    ScriptedTools wrappers;
    const fs::path app =
        fixtures::AppBundleBuilder().elfExecutableForHost().writeInto(home.path() / "bundle");
};

// Each repair is taken for its own failure only, once: a second failure is the step's message.
TEST_F(SimulatorRoadTest, EachRepairMendsItsFailureOnce) {
    const std::string restart = "Restarting iPhone 16 Pro after a stuck start…";
    const std::string reinstall = "Installing on iPhone 16 Pro again…";
    const std::string reconnect = "Reconnecting to the simulator service…";
    const Lines ran = {"install", "launch", "get_app_container"};
    const Lines restarted = {"list", "boot", "bootstatus", "shutdown", "boot", "bootstatus"};
    // clang-format off
    const struct {
        const char* set;
        Lines steps;
        std::string step, repair;
        std::optional<std::string> error = std::nullopt;
    } cases[] = {
        {R"({"phone": {"state": "Shutting Down", "settlesAfterListings": 2}})",
         {"list", "boot", "list", "boot", "bootstatus"}, "boot",
         "Waiting for iPhone 16 Pro to be ready to start…"},
        {R"({"phone": {"state": "Shutdown"}, "faults": {"hangingBootWaits": 1}})", restarted,
         "boot", restart},
        {R"({"phone": {"state": "Shutdown"}, "faults": {"hangingBootWaits": 2}})", restarted,
         "boot", restart,
         "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try "
         "again."},
        {R"({"faults": {"failingInstalls": 1}})", {"list", "install"}, "install", reinstall},
        {R"({"faults": {"failingInstalls": 2}})", {"list", "install", "install"}, "install",
         reinstall, "The app couldn’t be installed. Restart Simulator, then try again."},
        {R"({"faults": {"serviceErrors": 1}})", {"list", "list"}, "selection", reconnect},
        {R"({"faults": {"serviceErrors": 2}})", {"list", "list"}, "selection", reconnect,
         SimulatorRepairs::kServiceNotResponding},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        seed(json::parse(c.set));
        Lines told;
        LaunchTimeline timeline;
        Lines steps = c.steps;
        try {
            launch(told, timeline);
            EXPECT_EQ(c.error, std::nullopt);
            steps.insert(steps.end(), ran.begin(), ran.end());
        } catch (const QuayletError& error) {
            EXPECT_EQ(error.errorDescription(), c.error);
        }
        EXPECT_EQ(loggedCommands("xcrun simctl "), steps);
        EXPECT_EQ(told, Lines{c.repair});
        EXPECT_EQ(rungsOf(timeline), Lines{c.step + " " + c.repair + (c.error ? " failed" : "")});
    }
}

// The window comes forward on the device just used, through whichever application the
// selected Xcode has, which Diagnostics names.
TEST_F(SimulatorRoadTest, BringsForwardTheWindowOfTheSelectedXcode) {
    const fs::path developer = home.path() / "Xcode.app" / "Contents" / "Developer";
    const struct {
        json set;
        std::string request, description;
    } cases[] = {
        {{{"xcode", {{"version", "27.0"}, {"simulatorWindow", "DeviceHub"}}}},
         "devices://device/open?id=" + std::string(kUDID),
         "Device Hub (Xcode 27.0)"},
        {{{"xcode", {{"version", "16.2"}, {"simulatorWindow", "Simulator"}}}},
         "-a " + (developer / "Applications" / "Simulator.app").string() +
             " --args -CurrentDeviceUDID " + kUDID,
         "Simulator (Xcode 16.2)"},
        {json::object(), "-a Simulator", "Simulator"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        seed(c.set);
        Lines told;
        LaunchTimeline timeline;
        launch(told, timeline);
        EXPECT_EQ(json::parse(std::ifstream(home.path() / "devices.json"))["windowRequests"],
                  json{c.request});
        EXPECT_EQ(
            SimulatorDiscovery(ProcessRunner(), wrappers.tools()).environment({}).simulatorWindow,
            c.description);
    }
}

}  // namespace
}  // namespace quaylet::testing
