#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/SemanticVersion.h"

namespace quaylet {

// One installed iOS simulator runtime.
struct SimulatorRuntime {
    std::string identifier;  // the tool's runtime identifier; contains "iOS"
    std::string name;
    SemanticVersion version;
    bool isAvailable = false;

    bool operator==(const SimulatorRuntime&) const = default;
};

// One simulated device, with a copy of the runtime it belongs to.
struct SimulatorDevice {
    std::string udid;
    std::string name;
    std::string state;  // the tool's state word, unchanged
    bool isAvailable = false;
    SimulatorRuntime runtime;

    const std::string& id() const { return udid; }

    // The tool's state word is "Booted", in any letter case.
    bool isBooted() const;

    bool operator==(const SimulatorDevice&) const = default;
};

// The Mac's iOS runtimes, newest first, and their devices.
struct SimulatorInventory {
    std::vector<SimulatorRuntime> runtimes;
    std::vector<SimulatorDevice> devices;
    // Devices listed under an iOS runtime that is not installed, each with that runtime as its
    // identifier names it ("iOS 15.5", unavailable): kept only to say why one cannot be used.
    std::vector<SimulatorDevice> devicesWithoutRuntime;

    // The name of the device with this UDID in either list; absent for an unknown UDID.
    std::optional<std::string> deviceName(const std::string& udid) const;

    // Reads the simulator tool's JSON listing ("simctl list --json"). Runtimes of other
    // platforms, without "iOS" in their identifier or with an unreadable version are left
    // out, together with their devices. Throws DecodingError when the text is not a listing.
    static SimulatorInventory fromSimctlListing(std::string_view listing);

    bool operator==(const SimulatorInventory&) const = default;
};

}  // namespace quaylet
