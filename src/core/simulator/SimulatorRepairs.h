#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

#include "core/errors/QuayletError.h"
#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/simulator/SimulatorDiscovery.h"
#include "core/simulator/SimulatorInventory.h"
#include "core/support/LaunchTimeline.h"

namespace quaylet {

// How a launch meets the failures simulators are known for, and whom it tells.
struct RepairSettings {
    static constexpr std::chrono::seconds kDefaultBootTimeout{180};

    // How long each wait for a boot to finish may take before the device is restarted.
    std::chrono::seconds bootTimeout = kDefaultBootTimeout;
    // Told, and waited for, as each repair starts: the line a person reads, such as
    // "Restarting iPhone 16 Pro after a stuck start…".
    std::function<void(const std::string&)> onRepair = nullptr;
};

// One launch's listing, boot and install, each repaired at most once, and only for the failure
// it is known for: a device still shutting down or being created is waited for and booted
// again; a boot that does not finish in time, or fails, is followed by a shutdown and one more
// boot; an install is tried again after two seconds; a simulator service that does not answer
// is asked once more after two seconds. Anything else, or a second failure, is the command's
// own error. Each repair is a rung of the step it is taken in, timed until it has worked or
// failed. A stop ends every wait and command at once with CancellationError.
class SimulatorRepairs {
  public:
    enum class Repair { settle, restart, reinstall, reconnect };

    static constexpr std::chrono::seconds kSettleLimit{60};
    static constexpr std::chrono::seconds kSettleInterval{1};
    static constexpr std::chrono::seconds kRetryDelay{2};
    static constexpr const char* kServiceNotResponding =
        "The simulator service isn’t responding. Quit Simulator or Device Hub, then try again.";

    SimulatorRepairs(const ProcessRunner& runner, const DeveloperTools& tools,
                     const SimulatorDiscovery& discovery, const RepairSettings& settings,
                     std::stop_token stop);

    SimulatorInventory listDevices(LaunchTimeline::Step& step);
    // Boots the device and waits until it has finished booting.
    void boot(const SimulatorDevice& device, LaunchTimeline::Step& step);
    void install(const SimulatorDevice& device, const std::filesystem::path& app,
                 LaunchTimeline::Step& step);

  private:
    using Rung = std::optional<LaunchTimeline::Step>;

    // The one place a repair is taken: false when it was taken before in this launch;
    // otherwise told to onRepair and begun as a rung of the step, held in rung until the
    // repair has worked (or, left by an exception, failed).
    bool take(Repair repair, LaunchTimeline::Step& step, const std::string& detail, Rung& rung);
    void startBoot(const SimulatorDevice& device, LaunchTimeline::Step& step);
    // Absent once booted; the failure when the wait failed or ran past the limit.
    std::optional<QuayletError> waitForBoot(const SimulatorDevice& device);
    // Takes the one retry a service that did not answer gets, or throws when it had it.
    void reconnect(LaunchTimeline::Step& step, Rung& rung);
    void awaitShutdownState(const SimulatorDevice& device);

    const ProcessRunner& runner_;
    const DeveloperTools& tools_;
    const SimulatorDiscovery& discovery_;
    const RepairSettings& settings_;
    std::stop_token stop_;
    std::set<Repair> taken_;
};

}  // namespace quaylet
