#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/android/AndroidEnvironment.h"
#include "core/simulator/SimulatorInventory.h"

namespace quaylet {

// Whether this Mac can run simulator builds, and what stands in the way when it cannot.
struct EnvironmentSnapshot {
    std::optional<std::string> xcodePath;         // absent when its command failed
    std::optional<std::string> simctlPath;        // absent when its command failed
    std::string architecture;                     // "unknown" when its command failed
    std::optional<SimulatorInventory> inventory;  // absent when the listing failed
    std::vector<std::string> failures;            // user-facing sentences, in the order found
    // The application that shows the simulators, such as "Device Hub (Xcode 27.0)".
    std::string simulatorWindow = "Simulator";
    // Beside the iOS checks, never one of them: isReady and failures ignore it.
    AndroidEnvironment android = {};

    bool isReady() const { return failures.empty() && inventory.has_value(); }

    bool operator==(const EnvironmentSnapshot&) const = default;
};

}  // namespace quaylet
