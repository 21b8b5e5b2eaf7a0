#include "core/simulator/SimulatorSelector.h"

#include <algorithm>
#include <vector>

#include "core/errors/QuayletError.h"
#include "core/support/TextComparison.h"

namespace quaylet {

int SimulatorSelector::rank(const SimulatorDevice& device,
                            const std::optional<std::string>& preferredUDID) {
    // The first rule that holds wins, so an iPad Pro is no iPhone Pro and ranks last.
    if (device.isBooted()) {
        return 0;
    }
    if (preferredUDID && *preferredUDID == device.udid) {
        return 1;
    }
    const bool isIPhone = containsIgnoringCase(device.name, "iPhone");
    if (isIPhone && containsIgnoringCase(device.name, "Pro")) {
        return 2;
    }
    if (isIPhone) {
        return 3;
    }
    if (containsIgnoringCase(device.name, "iPad")) {
        return 5;
    }
    return 4;
}

SimulatorDevice SimulatorSelector::select(const SimulatorInventory& inventory,
                                          const SemanticVersion& minimumOS,
                                          const std::optional<std::string>& preferredUDID) const {
    struct Candidate {
        int rank;
        const SimulatorDevice* device;
    };
    std::vector<Candidate> candidates;
    for (const SimulatorDevice& device : inventory.devices) {
        if (device.isAvailable && device.runtime.isAvailable &&
            device.runtime.version >= minimumOS) {
            candidates.push_back({rank(device, preferredUDID), &device});
        }
    }

    if (candidates.empty()) {
        std::vector<std::string> installed;
        for (const SimulatorRuntime& runtime : inventory.runtimes) {
            if (runtime.isAvailable) {
                installed.push_back(runtime.version.description());
            }
        }
        throw QuayletError::noCompatibleSimulator(minimumOS.description(), std::move(installed));
    }

    const auto better = [](const Candidate& left, const Candidate& right) {
        if (left.rank != right.rank) {
            return left.rank < right.rank;
        }
        if (left.device->runtime.version != right.device->runtime.version) {
            return left.device->runtime.version > right.device->runtime.version;
        }
        return naturalCompare(left.device->name, right.device->name) < 0;
    };
    // The first of the stable order is the minimum that comes first in inventory order.
    return *std::ranges::min_element(candidates, better)->device;
}

SimulatorDevice SimulatorSelector::require(const SimulatorInventory& inventory,
                                           const SemanticVersion& minimumOS,
                                           const std::string& udid) const {
    const auto found = std::ranges::find(inventory.devices, udid, &SimulatorDevice::udid);
    if (found == inventory.devices.end()) {
        const auto& orphans = inventory.devicesWithoutRuntime;
        if (const auto orphan = std::ranges::find(orphans, udid, &SimulatorDevice::udid);
            orphan != orphans.end()) {
            throw QuayletError::unsupportedApplication(orphan->name + " can’t be used: its " +
                                                       orphan->runtime.name +
                                                       " runtime isn’t installed.");
        }
        throw QuayletError::unsupportedApplication(
            "No Simulator has this UDID. Run “quaylet doctor” to see the Simulators, then try "
            "again.");
    }
    if (!found->isAvailable || !found->runtime.isAvailable) {
        throw QuayletError::unsupportedApplication(
            "This Simulator isn’t available. Install its iOS runtime in Xcode, then try again.");
    }
    if (found->runtime.version < minimumOS) {
        throw QuayletError::unsupportedApplication(
            "This Simulator runs iOS " + found->runtime.version.description() +
            ", and this build needs iOS " + minimumOS.description() +
            " or later. Choose a newer Simulator, then try again.");
    }
    return *found;
}

}  // namespace quaylet
