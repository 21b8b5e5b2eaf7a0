#include "core/simulator/SimulatorRepairs.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

using Clock = std::chrono::steady_clock;

// The service behind every simulator command names itself when it, or the connection to it,
// is what failed.
bool namesService(std::string_view error) {
    return containsIgnoringCase(error, "CoreSimulatorService");
}

bool namesService(const QuayletError& error) {
    const auto* failed = error.as<QuayletError::CommandFailed>();
    return failed != nullptr && namesService(failed->details);
}

// As runner.runChecked, but also stopped once the limit has passed, which returns nothing.
std::optional<ProcessResult> runCheckedWithin(const ProcessRunner& runner,
                                              const ToolCommand& command,
                                              std::chrono::seconds limit, std::stop_token stop) {
    std::stop_source bounded;
    const std::stop_callback byCaller(stop, [&bounded] { bounded.request_stop(); });
    std::jthread timer([&bounded, limit](std::stop_token finished) {
        std::mutex mutex;
        std::condition_variable_any wakeUp;
        std::unique_lock lock(mutex);
        if (!wakeUp.wait_for(lock, finished, limit, [] { return false; }) &&
            !finished.stop_requested()) {
            bounded.request_stop();
        }
    });
    try {
        return runner.runChecked(command, bounded.get_token());
    } catch (const CancellationError&) {
        throwIfStopRequested(stop);
        return std::nullopt;
    }
}

}  // namespace

SimulatorRepairs::SimulatorRepairs(const ProcessRunner& runner, const DeveloperTools& tools,
                                   const SimulatorDiscovery& discovery,
                                   const RepairSettings& settings, std::stop_token stop)
    : runner_(runner),
      tools_(tools),
      discovery_(discovery),
      settings_(settings),
      stop_(std::move(stop)) {}

bool SimulatorRepairs::take(Repair repair, LaunchTimeline::Step& step, const std::string& detail,
                            Rung& rung) {
    if (!taken_.insert(repair).second) {
        return false;
    }
    throwIfStopRequested(stop_);
    if (settings_.onRepair) {
        settings_.onRepair(detail);
    }
    rung.emplace(step.rung(detail));
    return true;
}

void SimulatorRepairs::reconnect(LaunchTimeline::Step& step, Rung& rung) {
    if (!take(Repair::reconnect, step, "Reconnecting to the simulator service…", rung)) {
        throw QuayletError::serviceError(0, kServiceNotResponding);
    }
    waitUnlessStopped(kRetryDelay, stop_);
}

SimulatorInventory SimulatorRepairs::listDevices(LaunchTimeline::Step& step) {
    Rung reconnecting;
    while (true) {
        try {
            return discovery_.inventory(stop_);
        } catch (const QuayletError& error) {
            if (!namesService(error)) {
                throw;
            }
        }
        reconnect(step, reconnecting);
    }
}

void SimulatorRepairs::boot(const SimulatorDevice& device, LaunchTimeline::Step& step) {
    startBoot(device, step);
    std::optional<QuayletError> failure = waitForBoot(device);
    if (!failure) {
        return;
    }
    Rung restarting;
    if (!take(Repair::restart, step, "Restarting " + device.name + " after a stuck start…",
              restarting)) {
        throw *failure;
    }
    // A device that never finished booting may refuse to shut down; the boot after it tells.
    runner_.run(tools_.shutdown(device.udid), stop_);
    startBoot(device, step);
    if ((failure = waitForBoot(device))) {
        throw *failure;
    }
}

void SimulatorRepairs::startBoot(const SimulatorDevice& device, LaunchTimeline::Step& step) {
    Rung settling;
    Rung reconnecting;
    while (true) {
        const ProcessResult boot = runner_.run(tools_.boot(device.udid), stop_);
        const std::string& error = boot.standardError;
        // The tool refuses to boot a device that is already running; that is success here.
        if (boot.status == 0 || containsIgnoringCase(error, "current state: Booted")) {
            return;
        }
        if ((containsIgnoringCase(error, "current state: Shutting Down") ||
             containsIgnoringCase(error, "current state: Creating")) &&
            take(Repair::settle, step, "Waiting for " + device.name + " to be ready to start…",
                 settling)) {
            awaitShutdownState(device);
            continue;
        }
        if (!namesService(error)) {
            throw QuayletError::commandFailed("xcrun simctl boot", boot.status, error);
        }
        reconnect(step, reconnecting);
    }
}

std::optional<QuayletError> SimulatorRepairs::waitForBoot(const SimulatorDevice& device) {
    try {
        if (runCheckedWithin(runner_, tools_.waitUntilBooted(device.udid), settings_.bootTimeout,
                             stop_)) {
            return std::nullopt;
        }
    } catch (const QuayletError& error) {
        return error;
    }
    // Named like the boot's own failure, whose message it shares.
    return QuayletError::commandFailed(
        "xcrun simctl bootstatus", -1,
        "No answer within " + std::to_string(settings_.bootTimeout.count()) + " seconds");
}

void SimulatorRepairs::awaitShutdownState(const SimulatorDevice& device) {
    const auto deadline = Clock::now() + kSettleLimit;
    do {
        waitUnlessStopped(kSettleInterval, stop_);
        const SimulatorInventory inventory = discovery_.inventory(stop_);
        const auto listed =
            std::ranges::find(inventory.devices, device.udid, &SimulatorDevice::udid);
        if (listed != inventory.devices.end() && equalsIgnoringCase(listed->state, "Shutdown")) {
            return;
        }
    } while (Clock::now() < deadline);
}

void SimulatorRepairs::install(const SimulatorDevice& device, const std::filesystem::path& app,
                               LaunchTimeline::Step& step) {
    const ToolCommand command = tools_.install(device.udid, app);
    Rung reinstalling;
    try {
        runner_.runChecked(command, stop_);
        return;
    } catch (const QuayletError&) {
        // Simulators often refuse the first install right after a boot.
        if (!take(Repair::reinstall, step, "Installing on " + device.name + " again…",
                  reinstalling)) {
            throw;
        }
    }
    waitUnlessStopped(kRetryDelay, stop_);
    runner_.runChecked(command, stop_);
}

}  // namespace quaylet
