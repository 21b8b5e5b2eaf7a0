#include "core/simulator/SimulatorDiscovery.h"

#include <gtest/gtest.h>

#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

constexpr const char* kOneAvailableDevice = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "U1", "name": "iPhone 15", "state": "Shutdown", "isAvailable": true}]}})";
constexpr const char* kOnlyUnavailableDevices = R"({"runtimes": [
    {"identifier": "iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": true}],
    "devices": {"iOS-17": [{"udid": "U1", "name": "iPhone 15", "state": "Shutdown", "isAvailable": false}]}})";

constexpr const char* kToolsNotSelected =
    "Xcode command-line tools aren’t selected. Choose them in Xcode Settings under Locations.";
constexpr const char* kSimctlMissing =
    "Simulator tools aren’t available. Install Xcode, then select its command-line tools.";
constexpr const char* kNoSimulators =
    "No iOS Simulators are installed. Add one in Xcode Settings under Platforms.";
constexpr const char* kCommandFailed =
    "A required Mac command failed. Open Diagnostics, then try again.";

// An xcrun whose "--find simctl" answer and "simctl list --json" behaviour are given.
std::string xcrun(const std::string& find, const std::string& list) {
    return "case \"$1\" in\n--find) " + find + " ;;\nsimctl) " + list + " ;;\nesac";
}

std::string printing(const std::string& text) {
    return "printf '%s' '" + text + "'";
}

TEST(SimulatorDiscoveryTest, InventoryDecodesTheListingOrPassesErrorsOn) {
    testing::ScriptedTools scripted;
    const SimulatorDiscovery discovery(ProcessRunner(), scripted.tools());

    scripted.add("xcrun",
                 "[ \"$*\" = 'simctl list --json' ] || exit 9\n" + printing(kOneAvailableDevice));
    EXPECT_EQ(discovery.inventory({}), SimulatorInventory::fromSimctlListing(kOneAvailableDevice));

    scripted.add("xcrun", "echo '  no simulator service  ' >&2; exit 4");
    try {
        discovery.inventory({});
        ADD_FAILURE() << "listed";
    } catch (const QuayletError& error) {
        EXPECT_EQ(error, QuayletError::commandFailed(
                             (scripted.directory() / "xcrun").string() + " simctl list --json", 4,
                             "no simulator service"));
    }

    scripted.add("xcrun", "echo 'not json'");
    EXPECT_THROW(discovery.inventory({}), DecodingError);
}

TEST(SimulatorDiscoveryTest, EnvironmentTurnsEveryProblemIntoAFailureLine) {
    const SimulatorInventory oneDevice = SimulatorInventory::fromSimctlListing(kOneAvailableDevice);
    const std::string listOne = printing(kOneAvailableDevice);
    const struct {
        const char* name;
        std::string xcodeSelect;
        std::string xcrun;
        std::string uname;
        EnvironmentSnapshot expected;
    } cases[] = {
        {"all well",
         "printf ' /Applications/Xcode.app/Contents/Developer\\n'",
         xcrun("echo /usr/bin/simctl", listOne),
         "printf 'arm64\\n\\n'",
         {"/Applications/Xcode.app/Contents/Developer", "/usr/bin/simctl", "arm64", oneDevice, {}}},
        {"developer directory fails, listing still tried",
         "exit 2",
         xcrun("echo /usr/bin/simctl", listOne),
         "echo arm64",
         {std::nullopt, "/usr/bin/simctl", "arm64", oneDevice, {kToolsNotSelected}}},
        {"architecture fails silently",
         "echo /x",
         xcrun("echo /s", listOne),
         "exit 1",
         {"/x", "/s", "unknown", oneDevice, {}}},
        {"empty output is an empty text",
         "exit 0",
         xcrun("exit 0", listOne),
         "exit 0",
         {"", "", "", oneDevice, {}}},
        {"only unavailable devices",
         "echo /x",
         xcrun("echo /s", printing(kOnlyUnavailableDevices)),
         "echo arm64",
         {"/x",
          "/s",
          "arm64",
          SimulatorInventory::fromSimctlListing(kOnlyUnavailableDevices),
          {kNoSimulators}}},
        {"listing fails: every line in order",
         "exit 1",
         xcrun("exit 1", "exit 3"),
         "echo x86_64",
         {std::nullopt,
          std::nullopt,
          "x86_64",
          std::nullopt,
          {kToolsNotSelected, kSimctlMissing, kCommandFailed}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScriptedTools scripted;
        scripted.add("xcode-select", c.xcodeSelect);
        scripted.add("xcrun", c.xcrun);
        scripted.add("uname", c.uname);
        const EnvironmentSnapshot snapshot =
            SimulatorDiscovery(ProcessRunner(), scripted.tools()).environment({});
        EXPECT_EQ(snapshot, c.expected);
        EXPECT_EQ(snapshot.isReady(), c.expected.failures.empty());
    }
}

TEST(SimulatorDiscoveryTest, EnvironmentRunsItsThreeCommandsConcurrently) {
    testing::ScriptedTools scripted;
    // Each command waits (boundedly) until all three have started, so run one after another
    // they would each give up and fail.
    const std::string rendezvous = "touch '" + scripted.directory().string() + "'/started-$1\n" +
                                   "for i in $(seq 100); do\n"
                                   "  [ $(ls '" +
                                   scripted.directory().string() +
                                   "' | grep -c started-) -eq 3 ] && { echo ok; exit 0; }\n"
                                   "  sleep 0.1\ndone\nexit 1";
    scripted.add("xcode-select", rendezvous);
    scripted.add("uname", rendezvous);
    scripted.add("xcrun", "case \"$1\" in\n--find) set -- find; " + rendezvous + " ;;\n" + "*) " +
                              printing(kOneAvailableDevice) + " ;;\nesac");
    const EnvironmentSnapshot snapshot =
        SimulatorDiscovery(ProcessRunner(), scripted.tools()).environment({});
    EXPECT_EQ(snapshot.xcodePath, "ok");
    EXPECT_EQ(snapshot.simctlPath, "ok");
    EXPECT_EQ(snapshot.architecture, "ok");
    EXPECT_TRUE(snapshot.isReady());
}

// Without the tools, and with tools that would hang but are cancelled, the snapshot lists
// what is missing; the listing's error is the platform's own description.
TEST(SimulatorDiscoveryTest, CancelledOrMissingToolsMakeASnapshotNotAnError) {
    testing::ScriptedTools empty;
    testing::ScriptedTools hanging;
    for (const char* tool : {"xcode-select", "xcrun", "uname"}) {
        hanging.add(tool, "exec sleep 30");
    }
    std::stop_source stopped;
    stopped.request_stop();
    for (const auto& [tools, stop] : {std::pair(empty.tools(), std::stop_token()),
                                      std::pair(hanging.tools(), stopped.get_token())}) {
        const EnvironmentSnapshot snapshot =
            SimulatorDiscovery(ProcessRunner(), tools).environment(stop);
        EXPECT_EQ(snapshot.architecture, "unknown");
        EXPECT_FALSE(snapshot.inventory);
        ASSERT_EQ(snapshot.failures.size(), 3u);
        EXPECT_EQ(snapshot.failures[0], kToolsNotSelected);
        EXPECT_EQ(snapshot.failures[1], kSimctlMissing);
        EXPECT_FALSE(snapshot.failures[2].empty());
    }
}

TEST(SimulatorDiscoveryTest, StandInToolsMakeAReadyMac) {
    testing::TemporaryDirectory home;
    const testing::ScopedEnvironment simulatorHome("QUAYLET_SIMULATOR_HOME", home.path().string());
    const testing::ScopedEnvironment hostTools("QUAYLET_HOST_TOOLS_DIR", std::nullopt);
    const EnvironmentSnapshot snapshot =
        SimulatorDiscovery(ProcessRunner(), DeveloperTools::forThisHost()).environment({});
    EXPECT_EQ(snapshot.failures, std::vector<std::string>{});
    ASSERT_TRUE(snapshot.inventory);
    EXPECT_FALSE(snapshot.inventory->devices.empty());
    EXPECT_FALSE(snapshot.xcodePath->empty());
    EXPECT_NE(snapshot.architecture, "unknown");
}

}  // namespace
}  // namespace quaylet
