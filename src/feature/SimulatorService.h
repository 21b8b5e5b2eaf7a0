#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/service/RemoteLaunchStage.h"
#include "core/simulator/EnvironmentSnapshot.h"
#include "core/simulator/LaunchOptions.h"
#include "core/simulator/SelfTestReport.h"
#include "core/simulator/SimulatorRepairs.h"
#include "core/support/LaunchTimeline.h"

namespace quaylet {

// The simulator side as the application state uses it: the Mac's readiness and the launch
// of a build chosen on disk. Blocking calls, made from worker threads.
class SimulatorService {
  public:
    using ProgressCallback = std::function<void(RemoteLaunchStage)>;

    virtual ~SimulatorService() = default;

    // Never throws: problems are listed in the snapshot.
    virtual EnvironmentSnapshot environment() = 0;

    // One outcome per device in targets, or the chosen device's when none is named (its
    // failure is thrown). Each step is recorded in timeline, when given. Stopping ends the
    // run with CancellationError.
    virtual std::vector<DeviceOutcome> runLocalApplication(
        const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
        const std::optional<std::string>& preferredEmulator, bool activateSimulator,
        const LaunchTargets& targets, LaunchTimeline* timeline, const RepairSettings& repairs,
        const ProgressCallback& progress, std::stop_token stop) = 0;

    // Opens an absolute URL in a booted device, for the app that runs there.
    virtual void openURL(const std::string& udid, const std::string& url) = 0;
    // Opens an absolute URL in the package's app on a running Android emulator.
    virtual void openURLInEmulator(const std::string& emulatorName, const std::string& package,
                                   const std::string& url) = 0;
};

}  // namespace quaylet
