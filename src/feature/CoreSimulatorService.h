#pragma once

#include "core/simulator/SimulatorDiscovery.h"
#include "core/simulator/SimulatorLauncher.h"
#include "feature/SimulatorService.h"

namespace quaylet {

// The simulator side as the core provides it: discovery for the readiness snapshot and
// the launcher for builds chosen on disk.
class CoreSimulatorService : public SimulatorService {
  public:
    CoreSimulatorService(SimulatorDiscovery discovery, SimulatorLauncher launcher);

    // The host's developer tools, each collaborator in its default form.
    static CoreSimulatorService forThisHost();

    EnvironmentSnapshot environment() override;
    std::vector<DeviceOutcome> runLocalApplication(
        const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
        bool activateSimulator, const LaunchTargets& targets, const ProgressCallback& progress,
        std::stop_token stop) override;
    void openURL(const std::string& udid, const std::string& url) override;

  private:
    SimulatorDiscovery discovery_;
    SimulatorLauncher launcher_;
};

}  // namespace quaylet
