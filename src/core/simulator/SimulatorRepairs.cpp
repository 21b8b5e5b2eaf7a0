#include "core/simulator/SimulatorRepairs.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/support/Text.h"
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

// As runner.run, but also stopped once the limit has passed, which returns nothing.
std::optional<ProcessResult> runWithin(const ProcessRunner& runner, const ToolCommand& command,
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
        return runner.run(command, bounded.get_token());
    } catch (const CancellationError&) {
        throwIfStopRequested(stop);
        return std::nullopt;
    }
}

std::string commandLine(const ToolCommand& command) {
    std::string line = command.executable;
    for (const std::string& argument : command.arguments) {
        line += ' ' + argument;
    }
    return line;
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

bool SimulatorRepairs::take(Repair repair, const std::string& detail) {
    if (!taken_.insert(repair).second) {
        return false;
    }
    throwIfStopRequested(stop_);
    if (settings_.onRepair) {
        settings_.onRepair(detail);
    }
    return true;
}

void SimulatorRepairs::reconnect() {
    if (!take(Repair::reconnect, "Reconnecting to the simulator service…")) {
        throw QuayletError::serviceError(0, kServiceNotResponding);
    }
    waitUnlessStopped(kRetryDelay, stop_);
}

SimulatorInventory SimulatorRepairs::listDevices() {
    while (true) {
        try {
            return discovery_.inventory(stop_);
        } catch (const QuayletError& error) {
            if (!namesService(error)) {
                throw;
            }
        }
        reconnect();
    }
}

void SimulatorRepairs::boot(const SimulatorDevice& device) {
    startBoot(device);
    std::optional<QuayletError> failure = waitForBoot(device);
    if (!failure) {
        return;
    }
    if (!take(Repair::restart, "Restarting " + device.name + " after a stuck start…")) {
        throw *failure;
    }
    // A device that never finished booting may refuse to shut down; the boot after it tells.
    runner_.run(tools_.shutdown(device.udid), stop_);
    startBoot(device);
    if ((failure = waitForBoot(device))) {
        throw *failure;
    }
}

void SimulatorRepairs::startBoot(const SimulatorDevice& device) {
    while (true) {
        const ProcessResult boot = runner_.run(tools_.boot(device.udid), stop_);
        const std::string& error = boot.standardError;
        // The tool refuses to boot a device that is already running; that is success here.
        if (boot.status == 0 || containsIgnoringCase(error, "current state: Booted")) {
            return;
        }
        if ((containsIgnoringCase(error, "current state: Shutting Down") ||
             containsIgnoringCase(error, "current state: Creating")) &&
            take(Repair::settle, "Waiting for " + device.name + " to be ready to start…")) {
            awaitShutdownState(device);
            continue;
        }
        if (!namesService(error)) {
            throw QuayletError::commandFailed("xcrun simctl boot", boot.status, error);
        }
        reconnect();
    }
}

std::optional<QuayletError> SimulatorRepairs::waitForBoot(const SimulatorDevice& device) {
    const ToolCommand command = tools_.waitUntilBooted(device.udid);
    const std::optional<ProcessResult> wait =
        runWithin(runner_, command, settings_.bootTimeout, stop_);
    if (!wait) {
        return QuayletError::commandFailed(
            commandLine(command), -1,
            "No answer within " + std::to_string(settings_.bootTimeout.count()) + " seconds");
    }
    if (wait->status != 0) {
        return QuayletError::commandFailed(commandLine(command), wait->status,
                                           std::string(trimmed(wait->standardError)));
    }
    return std::nullopt;
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

void SimulatorRepairs::install(const SimulatorDevice& device, const std::filesystem::path& app) {
    const ToolCommand command = tools_.install(device.udid, app);
    try {
        runner_.runChecked(command, stop_);
        return;
    } catch (const QuayletError&) {
        // Simulators often refuse the first install right after a boot.
        if (!take(Repair::reinstall, "Installing on " + device.name + " again…")) {
            throw;
        }
    }
    waitUnlessStopped(kRetryDelay, stop_);
    runner_.runChecked(command, stop_);
}

}  // namespace quaylet
