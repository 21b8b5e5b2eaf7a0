#include "feature/CoreSimulatorService.h"

namespace quaylet {

CoreSimulatorService::CoreSimulatorService(SimulatorDiscovery discovery, SimulatorLauncher launcher,
                                           std::stop_token stop)
    : discovery_(std::move(discovery)), launcher_(std::move(launcher)), stop_(std::move(stop)) {}

CoreSimulatorService CoreSimulatorService::forThisHost(std::stop_token stop) {
    const ProcessRunner runner;
    const DeveloperTools tools = DeveloperTools::forThisHost();
    const SimulatorDiscovery discovery(runner, tools);
    return CoreSimulatorService(discovery,
                                SimulatorLauncher(runner, tools, discovery, SimulatorSelector(),
                                                  AppInspector(runner, tools)),
                                std::move(stop));
}

EnvironmentSnapshot CoreSimulatorService::environment() {
    return discovery_.environment(stop_);
}

SelfTestReport CoreSimulatorService::runLocalApplication(
    const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
    bool activateSimulator, const ProgressCallback& progress) {
    // No expected fixture version and no screenshot: a local build is checked against itself.
    // The window cannot cancel a local launch; only the whole service's stop ends it.
    const SelfTestRequest request{.appURL = app,
                                  .expectedFixtureVersion = std::nullopt,
                                  .preferredSimulatorUDID = preferredSimulatorUDID,
                                  .screenshotURL = std::nullopt,
                                  .activateSimulator = activateSimulator};
    return launcher_.selfTest(request, progress, stop_);
}

}  // namespace quaylet
