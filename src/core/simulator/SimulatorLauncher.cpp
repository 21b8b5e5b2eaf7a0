#include "core/simulator/SimulatorLauncher.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/artifacts/InfoPlist.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/simulator/SimulatorWindow.h"
#include "core/support/Text.h"

namespace quaylet {
namespace {

// A simulator runs the code of its host's processor, and an Apple silicon Mac's runs Intel
// code as well. A host of another name is not judged.
bool runsInSimulatorsOf(std::string_view host, const std::vector<std::string>& architectures) {
    const auto intel = [](std::string_view name) {
        return name == "x86_64" || name == "x86_64h" || name == "i386";
    };
    if (host != "x86_64" && host != "arm64") {
        return true;
    }
    return std::ranges::any_of(architectures, [&](const std::string& name) {
        return intel(name) || (host == "arm64" && name == "arm64");
    });
}

// What the host answers, or absent when it cannot: an early judgement refuses nothing then.
template <typename Answer>
std::optional<Answer> unlessFailed(const std::function<Answer()>& ask) {
    try {
        return ask();
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt;  // the checks after the unpack ask again, with their repairs
    }
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
    LaunchTimeline unrecorded;
    LaunchTimeline& timeline = request.timeline ? *request.timeline : unrecorded;
    const LaunchTimeline::CommandCapture capture(request.timeline);
    std::map<std::string, double> timings;

    LaunchTimeline::Step inspection = timeline.begin(LaunchStep::inspection);
    AppMetadata metadata = inspector_.inspect(request.appPath, stop);
    if (request.expectedFixtureVersion &&
        metadata.fixtureVersion != request.expectedFixtureVersion) {
        throw QuayletError::fixtureVersionMismatch(*request.expectedFixtureVersion,
                                                   metadata.fixtureVersion);
    }
    timings["inspect"] = inspection.finish();

    SimulatorRepairs repairs(runner_, tools_, discovery_, request.repairs, stop);
    report(RemoteLaunchStage::selecting);
    LaunchTimeline::Step selection = timeline.begin(LaunchStep::selection);
    const SimulatorInventory inventory = repairs.listDevices(selection);
    SimulatorDevice device =
        request.simulatorUDID
            ? selector_.require(inventory, metadata.minimumOSVersion, *request.simulatorUDID)
            : selector_.select(inventory, metadata.minimumOSVersion,
                               request.preferredSimulatorUDID);
    timings["simulatorSelection"] = selection.finish();

    if (!device.isBooted()) {
        report(RemoteLaunchStage::booting);
        LaunchTimeline::Step booting = timeline.begin(LaunchStep::boot, device.name);
        // One that failed, or another device's, leaves this boot to be done as ever.
        if (!request.earlyBoots || !request.earlyBoots->await(device.udid)) {
            repairs.boot(device, booting);
        }
        timings["boot"] = booting.finish();
    }

    report(RemoteLaunchStage::installing);
    LaunchTimeline::Step install = timeline.begin(LaunchStep::install, device.name);
    repairs.install(device, request.appPath, install);
    timings["install"] = install.finish();

    report(RemoteLaunchStage::launching);
    LaunchTimeline::Step launch = timeline.begin(LaunchStep::launch, device.name);
    const LaunchOptions& options = request.launchOptions;
    runner_.runChecked(tools_.launch(device.udid, metadata.bundleIdentifier, options.arguments),
                       stop, DeveloperTools::launchEnvironment(options.environment));
    // Gives a launched app its first moments before anyone looks at it.
    waitUnlessStopped(firstLook_, stop);
    timings["launch"] = launch.finish();

    LaunchTimeline::Step installedCopyCheck =
        timeline.begin(LaunchStep::installedCopyCheck, device.name);
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
    installedCopyCheck.finish();

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
        LaunchTimeline::Step window = timeline.begin(LaunchStep::simulatorWindow, device.name);
        bringWindowForward(device.udid, window, stop);
    }

    report(RemoteLaunchStage::running);
    return SelfTestReport{std::move(metadata),       std::move(device),
                          std::move(container),      std::move(installedFixtureVersion),
                          std::move(screenshotPath), std::move(timings)};
}

void SimulatorLauncher::bringWindowForward(const std::string& udid, LaunchTimeline::Step& window,
                                           std::stop_token stop) const {
    const SimulatorWindow application =
        SimulatorWindow::find(SimulatorWindow::selectedDeveloperFolder(runner_, tools_, stop));
    try {
        runner_.runChecked(application.openCommand(tools_, udid), stop);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        // Bringing the window forward is a courtesy; only the timeline keeps the failure.
        window.fail();
    }
}

void SimulatorLauncher::openURL(const std::string& udid, const std::string& url,
                                std::stop_token stop) const {
    checkURLToOpen(url);
    runner_.runChecked(tools_.openURL(udid, url), stop);
}

LaunchPlan SimulatorLauncher::plan(const std::string& minimumOSVersion,
                                   const std::vector<std::string>& architectures,
                                   const std::optional<std::string>& preferredUDID,
                                   const std::vector<std::string>& simulatorUDIDs,
                                   std::stop_token stop) const {
    if (!architectures.empty()) {
        const std::optional<std::string> host = unlessFailed<std::string>([&] {
            return std::string(
                trimmed(runner_.runChecked(tools_.machineArchitecture(), stop).standardOutput));
        });
        if (host && !runsInSimulatorsOf(*host, architectures)) {
            throw QuayletError::unsupportedApplication(AppInspector::kNoRunnableCodeMessage);
        }
    }
    const std::optional<SemanticVersion> minimumOS = SemanticVersion::parse(minimumOSVersion);
    if (!minimumOS) {
        return {};
    }
    const std::optional<SimulatorInventory> inventory =
        unlessFailed<SimulatorInventory>([&] { return discovery_.inventory(stop); });
    if (!inventory) {
        return {};
    }
    if (simulatorUDIDs.empty()) {
        return {.devices = {selector_.select(*inventory, *minimumOS, preferredUDID)}};
    }
    LaunchPlan plan;
    for (const std::string& udid : simulatorUDIDs) {
        try {
            plan.devices.push_back(selector_.require(*inventory, *minimumOS, udid));
        } catch (const QuayletError&) {
            const auto listed = std::ranges::find(inventory->devices, udid, &SimulatorDevice::udid);
            plan.refusals.push_back(
                {.udid = udid,
                 .deviceName = listed != inventory->devices.end() ? listed->name : udid,
                 .failure = userMessage(std::current_exception())});
        }
    }
    return plan;
}

void SimulatorLauncher::bootEarly(EarlyBoots& boots, const LaunchPlan& plan,
                                  const RepairSettings& repairs,
                                  const EarlyBoots::Observer& observer,
                                  std::stop_token stop) const {
    for (const SimulatorDevice& device : plan.devices) {
        if (!device.isBooted()) {
            boots.start(runner_, tools_, discovery_, device, repairs, observer, stop);
        }
    }
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
    const LaunchTimeline::CommandCapture capture(request.timeline);
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
