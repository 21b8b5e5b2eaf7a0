#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/service/RemoteLaunchStage.h"
#include "core/simulator/EnvironmentSnapshot.h"
#include "core/simulator/SelfTestReport.h"

namespace quaylet {

// The simulator side as the application state uses it: the Mac's readiness and the launch
// of a build chosen on disk. Blocking calls, made from worker threads.
class SimulatorService {
  public:
    using ProgressCallback = std::function<void(RemoteLaunchStage)>;

    virtual ~SimulatorService() = default;

    // Never throws: problems are listed in the snapshot.
    virtual EnvironmentSnapshot environment() = 0;

    virtual SelfTestReport runLocalApplication(
        const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
        bool activateSimulator, const ProgressCallback& progress) = 0;
};

}  // namespace quaylet
