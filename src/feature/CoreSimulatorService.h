#pragma once

#include "core/android/EmulatorDiscovery.h"
#include "core/android/EmulatorLauncher.h"
#include "core/simulator/SimulatorDiscovery.h"
#include "core/simulator/SimulatorLauncher.h"
#include "feature/SimulatorService.h"

namespace quaylet {

// The simulator side as the core provides it: discovery for the readiness snapshot (the
// Android emulators' part of it too) and the launchers for builds chosen on disk: an .apk runs
// on an emulator, anything else in a simulator.
class CoreSimulatorService : public SimulatorService {
  public:
    // Stopping stop ends every call in progress, and every later one, with
    // CancellationError (the readiness snapshot lists it instead): the terminal's Ctrl-C.
    CoreSimulatorService(SimulatorDiscovery discovery, EmulatorDiscovery emulators,
                         SimulatorLauncher launcher, EmulatorLauncher emulatorLauncher,
                         std::stop_token stop = {});

    // The host's developer tools, each collaborator in its default form.
    static CoreSimulatorService forThisHost(std::stop_token stop = {});

    EnvironmentSnapshot environment() override;
    std::vector<DeviceOutcome> runLocalApplication(
        const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
        const std::optional<std::string>& preferredEmulator, bool activateSimulator,
        const LaunchTargets& targets, LaunchTimeline* timeline, const RepairSettings& repairs,
        const ProgressCallback& progress, std::stop_token stop) override;
    void openURL(const std::string& udid, const std::string& url) override;
    void openURLInEmulator(const std::string& emulatorName, const std::string& package,
                           const std::string& url) override;

  private:
    SimulatorDiscovery discovery_;
    EmulatorDiscovery emulators_;
    SimulatorLauncher launcher_;
    EmulatorLauncher emulatorLauncher_;
    std::stop_token stop_;
};

}  // namespace quaylet
