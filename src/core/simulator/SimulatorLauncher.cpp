#include "core/simulator/SimulatorLauncher.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/artifacts/InfoPlist.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/support/Text.h"
#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

SimulatorLauncher::SimulatorLauncher(ProcessRunner runner, DeveloperTools tools,
                                     SimulatorDiscovery discovery, SimulatorSelector selector,
                                     AppInspector inspector, std::chrono::milliseconds firstLook)
    : runner_(runner),
      tools_(std::move(tools)),
      discovery_(std::move(discovery)),
      selector_(selector),
      inspector_(std::move(inspector)),
      firstLook_(firstLook) {}

SelfTestReport SimulatorLauncher::selfTest(const SelfTestRequest& request, const Progress& progress,
                                           std::stop_token stop) const {
    const auto report = [&](RemoteLaunchStage stage) {
        throwIfStopRequested(stop);
        if (progress) {
            progress(stage);
        }
    };
    checkLaunchOptions(request.launchOptions);
    std::map<std::string, double> timings;

    auto start = Clock::now();
    AppMetadata metadata = inspector_.inspect(request.appURL, stop);
    timings["inspect"] = secondsSince(start);
    if (request.expectedFixtureVersion &&
        metadata.fixtureVersion != request.expectedFixtureVersion) {
        throw QuayletError::fixtureVersionMismatch(*request.expectedFixtureVersion,
                                                   metadata.fixtureVersion);
    }

    report(RemoteLaunchStage::selecting);
    start = Clock::now();
    const SimulatorInventory inventory = discovery_.inventory(stop);
    SimulatorDevice device =
        request.simulatorUDID
            ? selector_.require(inventory, metadata.minimumOSVersion, *request.simulatorUDID)
            : selector_.select(inventory, metadata.minimumOSVersion,
                               request.preferredSimulatorUDID);
    timings["simulatorSelection"] = secondsSince(start);

    if (!device.isBooted()) {
        report(RemoteLaunchStage::booting);
        start = Clock::now();
        const ProcessResult boot = runner_.run(tools_.boot(device.udid), stop);
        // The tool refuses to boot a device that is already running; that is success here.
        if (boot.status != 0 &&
            !containsIgnoringCase(boot.standardError, "current state: Booted")) {
            throw QuayletError::commandFailed("xcrun simctl boot", boot.status, boot.standardError);
        }
        runner_.runChecked(tools_.waitUntilBooted(device.udid), stop);
        timings["boot"] = secondsSince(start);
    }

    report(RemoteLaunchStage::installing);
    start = Clock::now();
    runner_.runChecked(tools_.install(device.udid, request.appURL), stop);
    timings["install"] = secondsSince(start);

    report(RemoteLaunchStage::launching);
    start = Clock::now();
    const LaunchOptions& options = request.launchOptions;
    runner_.runChecked(tools_.launch(device.udid, metadata.bundleIdentifier, options.arguments),
                       stop, DeveloperTools::launchEnvironment(options.environment));
    // Gives a launched app its first moments before anyone looks at it.
    waitUnlessStopped(firstLook_, stop);
    timings["launch"] = secondsSince(start);

    const ProcessResult location =
        runner_.runChecked(tools_.installedLocation(device.udid, metadata.bundleIdentifier), stop);
    std::string container(trimmed(location.standardOutput));
    if (container.empty()) {
        throw QuayletError::invalidApplication(
            "Simulator couldn’t verify the installed app. Restart Simulator, then try again.");
    }

    const std::optional<InfoPlist> installedInfo =
        InfoPlist::load(std::filesystem::path(container) / "Info.plist");
    std::optional<std::string> installedFixtureVersion =
        installedInfo ? installedInfo->fixtureVersion : std::nullopt;
    const std::optional<std::string>& expected =
        request.expectedFixtureVersion ? request.expectedFixtureVersion : metadata.fixtureVersion;
    if (expected && installedFixtureVersion != expected) {
        throw QuayletError::fixtureVersionMismatch(*expected, installedFixtureVersion);
    }

    std::optional<std::string> screenshotPath;
    if (request.screenshotURL) {
        if (const auto folder = request.screenshotURL->parent_path(); !folder.empty()) {
            std::filesystem::create_directories(folder);
        }
        runner_.runChecked(tools_.screenshot(device.udid, *request.screenshotURL), stop);
        screenshotPath = request.screenshotURL->string();
    }

    if (options.openURL) {
        openURL(device.udid, *options.openURL, stop);
    }

    if (request.activateSimulator) {
        try {
            runner_.runChecked(tools_.activateSimulator(), stop);
        } catch (const CancellationError&) {
            throw;
        } catch (const std::exception&) {
            // Bringing Simulator forward is a courtesy; the app already runs either way.
        }
    }

    report(RemoteLaunchStage::running);
    return SelfTestReport{std::move(metadata),       std::move(device),
                          std::move(container),      std::move(installedFixtureVersion),
                          std::move(screenshotPath), std::move(timings)};
}

void SimulatorLauncher::openURL(const std::string& udid, const std::string& url,
                                std::stop_token stop) const {
    checkURLToOpen(url);
    runner_.runChecked(tools_.openURL(udid, url), stop);
}

std::vector<DeviceOutcome> SimulatorLauncher::selfTestOnEach(
    SelfTestRequest request, const std::vector<std::string>& simulatorUDIDs,
    const Progress& progress, const OutcomeCallback& onOutcome, std::stop_token stop) const {
    if (simulatorUDIDs.empty()) {
        SelfTestReport report = selfTest(request, progress, stop);
        const DeviceOutcome outcome{.udid = report.simulator.udid,
                                    .deviceName = report.simulator.name,
                                    .report = std::move(report)};
        if (onOutcome) {
            onOutcome(outcome);
        }
        return {outcome};
    }
    const SimulatorInventory inventory = discovery_.inventory(stop);
    std::vector<DeviceOutcome> outcomes;
    for (const std::string& udid : simulatorUDIDs) {
        DeviceOutcome& outcome = outcomes.emplace_back(
            DeviceOutcome{.udid = udid, .deviceName = inventory.deviceName(udid).value_or(udid)});
        request.simulatorUDID = udid;
        try {
            outcome.report = selfTest(request, progress, stop);
        } catch (const CancellationError&) {
            throw;
        } catch (...) {
            outcome.failure = userMessage(std::current_exception());
        }
        if (onOutcome) {
            onOutcome(outcome);
        }
    }
    return outcomes;
}

}  // namespace quaylet
