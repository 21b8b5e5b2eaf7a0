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
    std::string installedContainer;  // never empty
    std::optional<std::string> installedFixtureVersion;
    std::optional<std::string> screenshotPath;
    std::map<std::string, double> timings;  // seconds per step

    // The installed copy carries the bundle's fixture version, or the bundle has none.
    bool passed() const {
        return !app.fixtureVersion.has_value() || installedFixtureVersion == app.fixtureVersion;
    }

    bool operator==(const SelfTestReport&) const = default;
};

}  // namespace quaylet
