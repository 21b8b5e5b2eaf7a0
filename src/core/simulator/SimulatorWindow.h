#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"

namespace quaylet {

// The application that shows simulators on this Mac, which moved as Xcode changed: Device Hub
// inside Xcode.app from Xcode 27, Simulator.app in the developer folder before it, and a
// Simulator found by name when neither is where the selected developer folder says.
struct SimulatorWindow {
    enum class Kind { deviceHub, simulatorApp, simulatorByName };

    Kind kind = Kind::simulatorByName;
    std::filesystem::path application;        // the .app found; empty when found by name
    std::optional<std::string> xcodeVersion;  // the selected Xcode's, when it says

    // From the folder xcode-select prints; anything but an absolute folder finds nothing.
    static SimulatorWindow find(const std::optional<std::filesystem::path>& developerFolder);

    // The selected developer folder, absent when xcode-select fails or says nothing.
    static std::optional<std::filesystem::path> selectedDeveloperFolder(const ProcessRunner& runner,
                                                                        const DeveloperTools& tools,
                                                                        std::stop_token stop);

    // What Diagnostics shows, such as "Device Hub (Xcode 27.0)".
    std::string description() const;

    // Brings the window forward showing the device.
    ToolCommand openCommand(const DeveloperTools& tools, const std::string& udid) const;

    bool operator==(const SimulatorWindow&) const = default;
};

}  // namespace quaylet
