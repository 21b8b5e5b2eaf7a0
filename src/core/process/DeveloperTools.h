#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/process/ProcessRunner.h"

namespace quaylet {

// The one place that knows every host tool's absolute path and argument list. The
// command lines are the macOS ones; only the directory differs between hosts.
class DeveloperTools {
  public:
    explicit DeveloperTools(std::filesystem::path directory);

    // QUAYLET_HOST_TOOLS_DIR when it holds an absolute path; otherwise /usr/bin on macOS and
    // the stand-in tools installed beside the running program elsewhere.
    static DeveloperTools forThisHost();

    const std::filesystem::path& directory() const { return directory_; }

    ToolCommand selectedDeveloperDirectory() const;  // xcode-select -p
    ToolCommand locateSimctl() const;                // xcrun --find simctl
    ToolCommand machineArchitecture() const;         // uname -m
    ToolCommand listSimulators() const;              // xcrun simctl list --json
    ToolCommand boot(const std::string& udid) const;
    ToolCommand waitUntilBooted(const std::string& udid) const;
    ToolCommand shutdown(const std::string& udid) const;
    ToolCommand install(const std::string& udid, const std::filesystem::path& app) const;
    // The app's arguments follow the bundle identifier.
    ToolCommand launch(const std::string& udid, const std::string& bundleIdentifier,
                       const std::vector<std::string>& arguments = {}) const;
    // The launch command's environment: ours, plus SIMCTL_CHILD_<name> for each of the app's
    // variables, which the tool hands to the app without the prefix. Absent when the app gets
    // none, so the command inherits ours unchanged.
    static std::optional<Environment> launchEnvironment(
        const std::vector<std::pair<std::string, std::string>>& appEnvironment);
    ToolCommand openURL(const std::string& udid, const std::string& url) const;
    ToolCommand installedLocation(const std::string& udid,
                                  const std::string& bundleIdentifier) const;
    ToolCommand screenshot(const std::string& udid, const std::filesystem::path& image) const;
    // The simulator window, brought forward in the form the selected Xcode has: its Device Hub
    // opened on the device, its Simulator.app told the device, or any Simulator by name.
    ToolCommand openDeviceHub(const std::string& udid) const;  // open devices://device/open?id=
    ToolCommand openSimulatorApp(const std::filesystem::path& app, const std::string& udid) const;
    ToolCommand activateSimulator() const;                                     // open -a Simulator
    ToolCommand architectures(const std::filesystem::path& executable) const;  // lipo -archs
    ToolCommand listArchive(const std::filesystem::path& archive) const;       // zipinfo -1
    ToolCommand extractArchive(const std::filesystem::path& archive,
                               const std::filesystem::path& destination) const;  // ditto

  private:
    std::string tool(const char* name) const;

    std::filesystem::path directory_;
};

}  // namespace quaylet
