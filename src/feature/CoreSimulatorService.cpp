#include "feature/CoreSimulatorService.h"

#include "core/android/ApkInspector.h"
#include "feature/StopEither.h"

namespace quaylet {

CoreSimulatorService::CoreSimulatorService(SimulatorDiscovery discovery, SimulatorLauncher launcher,
                                           EmulatorLauncher emulatorLauncher, std::stop_token stop)
    : discovery_(std::move(discovery)),
      launcher_(std::move(launcher)),
      emulatorLauncher_(std::move(emulatorLauncher)),
      stop_(std::move(stop)) {}

CoreSimulatorService CoreSimulatorService::forThisHost(std::stop_token stop) {
    const ProcessRunner runner;
    const DeveloperTools tools = DeveloperTools::forThisHost();
    const SimulatorDiscovery discovery(runner, tools);
    return CoreSimulatorService(discovery,
                                SimulatorLauncher(runner, tools, discovery, SimulatorSelector(),
                                                  AppInspector(runner, tools)),
                                EmulatorLauncher::forThisHost(), std::move(stop));
}

EnvironmentSnapshot CoreSimulatorService::environment() {
    return discovery_.environment(stop_);
}

std::vector<DeviceOutcome> CoreSimulatorService::runLocalApplication(
    const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
    bool activateSimulator, const LaunchTargets& targets, LaunchTimeline* timeline,
    const RepairSettings& repairs, const ProgressCallback& progress, std::stop_token stop) {
    const StopEither either(stop, stop_);
    if (app.extension() == ".apk") {
        checkAndroidLaunchOptions(targets.options);
        return emulatorLauncher_.launchOnEach({.apk = ApkInspector().inspect(app, either.token()),
                                               .openURL = targets.options.openURL,
                                               .displayName = app.stem().string(),
                                               .timeline = timeline},
                                              targets.emulatorNames, progress, {}, either.token());
    }
    // No expected fixture version and no screenshot: a local build is checked against itself.
    const SelfTestRequest request{.appURL = app,
                                  .expectedFixtureVersion = std::nullopt,
                                  .preferredSimulatorUDID = preferredSimulatorUDID,
                                  .screenshotURL = std::nullopt,
                                  .activateSimulator = activateSimulator,
                                  .launchOptions = targets.options,
                                  .repairs = repairs,
                                  .timeline = timeline};
    return launcher_.selfTestOnEach(request, targets.simulatorUDIDs, progress, {}, either.token());
}

void CoreSimulatorService::openURL(const std::string& udid, const std::string& url) {
    launcher_.openURL(udid, url, stop_);
}

}  // namespace quaylet
