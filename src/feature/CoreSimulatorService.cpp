#include "feature/CoreSimulatorService.h"

#include <future>

#include "core/android/ApkInspector.h"
#include "core/service/BuildPlatform.h"
#include "feature/StopEither.h"

namespace quaylet {

CoreSimulatorService::CoreSimulatorService(SimulatorDiscovery discovery,
                                           EmulatorDiscovery emulators, SimulatorLauncher launcher,
                                           EmulatorLauncher emulatorLauncher, std::stop_token stop)
    : discovery_(std::move(discovery)),
      emulators_(std::move(emulators)),
      launcher_(std::move(launcher)),
      emulatorLauncher_(std::move(emulatorLauncher)),
      stop_(std::move(stop)) {}

CoreSimulatorService CoreSimulatorService::forThisHost(std::stop_token stop) {
    const ProcessRunner runner;
    const DeveloperTools tools = DeveloperTools::forThisHost();
    const SimulatorDiscovery discovery(runner, tools);
    return CoreSimulatorService(discovery, EmulatorDiscovery(runner, AndroidSdk::forThisHost()),
                                SimulatorLauncher(runner, tools, discovery, SimulatorSelector(),
                                                  AppInspector(runner, tools)),
                                EmulatorLauncher::forThisHost(), std::move(stop));
}

EnvironmentSnapshot CoreSimulatorService::environment() {
    // Side by side: adb may first have to start its server.
    auto android = std::async(std::launch::async, [this] { return emulators_.environment(stop_); });
    EnvironmentSnapshot snapshot = discovery_.environment(stop_);
    snapshot.android = android.get();
    return snapshot;
}

std::vector<DeviceOutcome> CoreSimulatorService::runLocalApplication(
    const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
    const std::optional<std::string>& preferredEmulator, bool activateSimulator,
    const LaunchTargets& targets, LaunchTimeline* timeline, const RepairSettings& repairs,
    const ProgressCallback& progress, std::stop_token stop) {
    const StopEither either(stop, stop_);
    if (localBuildPlatform(app) == BuildPlatform::android) {
        checkAndroidLaunchOptions(targets.options);
        return emulatorLauncher_.launchOnEach({.apk = ApkInspector().inspect(app, either.token()),
                                               .preferredEmulator = preferredEmulator,
                                               .openURL = targets.options.openURL,
                                               .displayName = app.stem().string(),
                                               .timeline = timeline},
                                              targets.emulatorNames, progress, {}, either.token());
    }
    // No expected fixture version and no screenshot: a local build is checked against itself.
    const SelfTestRequest request{.appPath = app,
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

void CoreSimulatorService::openURLInEmulator(const std::string& emulatorName,
                                             const std::string& package, const std::string& url) {
    emulatorLauncher_.openURL(emulatorName, package, url, stop_);
}

}  // namespace quaylet
