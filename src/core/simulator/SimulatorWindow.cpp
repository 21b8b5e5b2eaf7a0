#include "core/simulator/SimulatorWindow.h"

#include <system_error>

#include "core/artifacts/InfoPlist.h"
#include "core/errors/CancellationError.h"
#include "core/support/Text.h"

namespace quaylet {

SimulatorWindow SimulatorWindow::find(const std::optional<std::filesystem::path>& developerFolder) {
    SimulatorWindow window;
    // A relative folder would be looked for wherever this process happens to run.
    if (!developerFolder || !developerFolder->is_absolute()) {
        return window;
    }
    // <Xcode.app>/Contents/Developer: Xcode's own Info.plist and applications sit in Contents.
    const std::filesystem::path contents = developerFolder->parent_path();
    if (const std::optional<InfoPlist> xcode = InfoPlist::load(contents / "Info.plist")) {
        window.xcodeVersion = xcode->shortVersion;
    }
    std::error_code ignored;  // a folder that cannot be looked at is not there for us
    if (const auto hub = contents / "Applications" / "DeviceHub.app";
        std::filesystem::is_directory(hub, ignored)) {
        window.kind = Kind::deviceHub;
        window.application = hub;
    } else if (const auto simulator = *developerFolder / "Applications" / "Simulator.app";
               std::filesystem::is_directory(simulator, ignored)) {
        window.kind = Kind::simulatorApp;
        window.application = simulator;
    }
    return window;
}

std::optional<std::filesystem::path> SimulatorWindow::selectedDeveloperFolder(
    const ProcessRunner& runner, const DeveloperTools& tools, std::stop_token stop) {
    try {
        const ProcessResult result = runner.runChecked(tools.selectedDeveloperDirectory(), stop);
        const std::string_view folder = trimmed(result.standardOutput);
        return folder.empty() ? std::nullopt : std::optional<std::filesystem::path>(folder);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string SimulatorWindow::description() const {
    std::string text = kind == Kind::deviceHub ? "Device Hub" : "Simulator";
    if (xcodeVersion) {
        text += " (Xcode " + *xcodeVersion + ")";
    }
    return text;
}

ToolCommand SimulatorWindow::openCommand(const DeveloperTools& tools,
                                         const std::string& udid) const {
    switch (kind) {
        case Kind::deviceHub:
            return tools.openDeviceHub(udid);
        case Kind::simulatorApp:
            return tools.openSimulatorApp(application, udid);
        case Kind::simulatorByName:
            break;
    }
    return tools.activateSimulator();
}

}  // namespace quaylet
