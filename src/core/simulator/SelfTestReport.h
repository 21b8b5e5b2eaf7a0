#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/artifacts/AppMetadata.h"
#include "core/simulator/SimulatorInventory.h"

namespace quaylet {

// The outcome of one successful launch in a simulator.
struct SelfTestReport {
    AppMetadata app;
    SimulatorDevice simulator;       // as listed before any boot
    std::string installedContainer;  // the installed .app folder, never empty
    std::optional<std::string> installedFixtureVersion;
    std::optional<std::string> screenshotPath;
    // Seconds per step: "inspect", "simulatorSelection", "boot" (only when this launch booted
    // the device), "install", "launch".
    std::map<std::string, double> timings;

    // The installed copy carries the bundle's fixture version, or the bundle declares none.
    bool passed() const {
        return !app.fixtureVersion || installedFixtureVersion == app.fixtureVersion;
    }

    bool operator==(const SelfTestReport&) const = default;
};

// How a build fared on one device a person named.
struct DeviceOutcome {
    std::string udid;
    std::string deviceName;                               // the UDID itself when no device has it
    std::optional<SelfTestReport> report = std::nullopt;  // present when the build runs there
    std::optional<std::string> failure = std::nullopt;    // otherwise the sentence the user reads

    bool operator==(const DeviceOutcome&) const = default;
};

}  // namespace quaylet
