#include "core/simulator/SimulatorDiscovery.h"

#include <algorithm>
#include <exception>
#include <future>
#include <optional>
#include <utility>

#include "core/simulator/SimulatorWindow.h"
#include "core/support/Text.h"

namespace quaylet {
namespace {

constexpr const char* kToolsNotSelected =
    "Xcode command-line tools aren’t selected. Choose them in Xcode Settings under Locations.";
constexpr const char* kSimctlMissing =
    "Simulator tools aren’t available. Install Xcode, then select its command-line tools.";
constexpr const char* kNoSimulators =
    "No iOS Simulators are installed. Add one in Xcode Settings under Platforms.";

}  // namespace

SimulatorDiscovery::SimulatorDiscovery(ProcessRunner runner, DeveloperTools tools)
    : runner_(runner), tools_(std::move(tools)) {}

SimulatorInventory SimulatorDiscovery::inventory(std::stop_token stop) const {
    const ProcessResult listing = runner_.runChecked(tools_.listSimulators(), stop);
    return SimulatorInventory::fromSimctlListing(listing.standardOutput);
}

EnvironmentSnapshot SimulatorDiscovery::environment(std::stop_token stop) const {
    // Each command's trimmed output, or absent for any failure: these only tell whether a
    // tool is there, so why it is not does not matter.
    const auto start = [&](ToolCommand command) {
        return std::async(
            std::launch::async,
            [this, stop, command = std::move(command)]() -> std::optional<std::string> {
                try {
                    const ProcessResult result = runner_.runChecked(command, stop);
                    return std::string(trimmed(result.standardOutput));
                } catch (const std::exception&) {
                    return std::nullopt;
                }
            });
    };
    auto developerDirectory = start(tools_.selectedDeveloperDirectory());
    auto simctl = start(tools_.locateSimctl());
    auto architecture = start(tools_.machineArchitecture());

    EnvironmentSnapshot snapshot;
    snapshot.xcodePath = developerDirectory.get();
    snapshot.simctlPath = simctl.get();
    snapshot.architecture = architecture.get().value_or("unknown");
    if (!snapshot.xcodePath) {
        snapshot.failures.emplace_back(kToolsNotSelected);
    }
    snapshot.simulatorWindow =
        SimulatorWindow::find(snapshot.xcodePath
                                  ? std::optional<std::filesystem::path>(*snapshot.xcodePath)
                                  : std::nullopt)
            .description();
    if (!snapshot.simctlPath) {
        snapshot.failures.emplace_back(kSimctlMissing);
    }

    try {
        snapshot.inventory = inventory(stop);
        if (std::ranges::none_of(snapshot.inventory->devices, &SimulatorDevice::isAvailable)) {
            snapshot.failures.emplace_back(kNoSimulators);
        }
    } catch (const std::exception& error) {
        // QuayletError's what() is its user sentence; other errors describe themselves.
        snapshot.failures.emplace_back(error.what());
    }
    return snapshot;
}

}  // namespace quaylet
