#include "core/simulator/SimulatorDiscovery.h"

#include <gtest/gtest.h>

#include "support/ScriptedTools.h"

namespace quaylet {
namespace {

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
    const EnvironmentSnapshot snapshot =
        SimulatorDiscovery(ProcessRunner(), scripted.tools()).environment({});
    EXPECT_EQ(snapshot,
              (EnvironmentSnapshot{"ok",
                                   "ok",
                                   "ok",
                                   SimulatorInventory::fromSimctlListing(kOnlyUnavailableDevices),
                                   {"No iOS Simulators are installed. Add one in Xcode Settings "
                                    "under Platforms."}}));
}

}  // namespace
}  // namespace quaylet
