#include "feature/CoreSimulatorService.h"

namespace quaylet {

CoreSimulatorService::CoreSimulatorService(SimulatorDiscovery discovery, SimulatorLauncher launcher)
    : discovery_(std::move(discovery)), launcher_(std::move(launcher)) {}

CoreSimulatorService CoreSimulatorService::forThisHost() {
    const ProcessRunner runner;
    const DeveloperTools tools = DeveloperTools::forThisHost();
    const SimulatorDiscovery discovery(runner, tools);
    return CoreSimulatorService(discovery,
                                SimulatorLauncher(runner, tools, discovery, SimulatorSelector(),
                                                  AppInspector(runner, tools)));
}

EnvironmentSnapshot CoreSimulatorService::environment() {
    return discovery_.environment(std::stop_token());
}

SelfTestReport CoreSimulatorService::runLocalApplication(
    const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
    bool activateSimulator, const ProgressCallback& progress) {
    // No expected fixture version and no screenshot: a local build is checked against itself.
    // Local launches are not cancellable, so the token is never stopped.
    const SelfTestRequest request{.appURL = app,
                                  .expectedFixtureVersion = std::nullopt,
                                  .preferredSimulatorUDID = preferredSimulatorUDID,
                                  .screenshotURL = std::nullopt,
                                  .activateSimulator = activateSimulator};
    return launcher_.selfTest(request, progress, std::stop_token());
}

}  // namespace quaylet
