#include "doubles/AppStateDoubles.h"

#include <algorithm>

#include "core/errors/QuayletError.h"

namespace quaylet::testing {
namespace {

// The double's one result as the outcome on each named device, or on the chosen one.
std::vector<DeviceOutcome> outcomesOf(const SelfTestReport& report, const LaunchTargets& targets) {
    if (targets.simulatorUDIDs.empty()) {
        return {{report.simulator.udid, report.simulator.name, report, std::nullopt}};
    }
    std::vector<DeviceOutcome> outcomes;
    for (const std::string& udid : targets.simulatorUDIDs) {
        SelfTestReport onDevice = report;
        onDevice.simulator.udid = udid;
        outcomes.push_back({udid, report.simulator.name, onDevice, std::nullopt});
    }
    return outcomes;
}

void addSteps(const std::vector<TimelineEntry>& steps, LaunchTimeline* timeline) {
    for (const TimelineEntry& step : timeline ? steps : std::vector<TimelineEntry>()) {
        timeline->add(step);
    }
}

}  // namespace

void rethrowIfSet(const std::exception_ptr& failure) {
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void Latch::open() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    changed_.notify_all();
}

bool Latch::wait(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    return changed_.wait(lock, stop, [this] { return open_; });
}

void FakeTokenStore::saveToken(const std::string& newToken) {
    token.reset();
    if (failSaving) {
        throw QuayletError::previewUnavailable(
            "Quaylet couldn\u2019t save your GitHub sign-in. Unlock Keychain, then try again.");
    }
    token = newToken;
}

std::string FakePreviewService::exchangeAuthenticationCode(const std::string& code) {
    std::lock_guard lock(mutex_);
    exchangedCodes_.push_back(code);
    return "issued-token";
}

std::vector<PreviewSummary> FakePreviewService::availablePreviews(const std::string&) {
    {
        std::lock_guard lock(mutex_);
        ++listCount_;
    }
    if (onList) {
        onList();
    }
    rethrowIfSet(listFailure);
    return previews;
}

std::vector<DeviceOutcome> FakePreviewService::launch(const RemoteLaunchRequest& request,
                                                      const ManifestCallback& manifest,
                                                      const ProgressCallback& progress,
                                                      std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        requestedLaunches_.push_back({request.previewID, request.preferredSimulatorUDID,
                                      request.activateSimulator, request.targets});
    }
    addSteps(steps, request.timeline);
    return outcomesOf(
        onLaunch({manifest, progress, request.downloadProgress, stop,
                  request.bootEarly ? request.earlyBootProgress : EarlyBoots::Observer()}),
        request.targets);
}

std::vector<DeviceOutcome> FakePreviewService::relaunch(const RemoteLaunchRequest& request,
                                                        const PreviewManifest&,
                                                        const std::filesystem::path&,
                                                        const ProgressCallback& progress,
                                                        std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        relaunches_.push_back({request.previewID, request.preferredSimulatorUDID,
                               request.activateSimulator, request.targets});
    }
    const ManifestCallback noManifest;
    // A relaunch boots nothing early: its app is already unpacked.
    return outcomesOf(onLaunch({noManifest, progress, request.downloadProgress, stop, {}}),
                      request.targets);
}

void FakePreviewService::prefetch(const std::string& previewID, const std::string&, std::uintmax_t,
                                  std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        prefetchedPreviews_.push_back(previewID);
    }
    rethrowIfSet(prefetchFailure);
    if (onPrefetch) {
        onPrefetch(stop);
    }
}

void FakePreviewService::clearCache() {
    if (onClearCache) {
        onClearCache();
    }
    rethrowIfSet(clearFailure);
}

void FakePreviewService::trimCache(std::uintmax_t limitBytes) {
    std::lock_guard lock(mutex_);
    trimmedTo.push_back(limitBytes);
}

void FakePreviewService::removeCachedPreviews(const std::vector<std::string>& previewIDs) {
    std::lock_guard lock(mutex_);
    removedPreviews.insert(removedPreviews.end(), previewIDs.begin(), previewIDs.end());
}

std::vector<std::string> FakePreviewService::launchedPreviews() const {
    std::vector<std::string> previews;
    for (const RequestedLaunch& launch : requestedLaunches()) {
        previews.push_back(launch.target);
    }
    return previews;
}

EnvironmentSnapshot FakeSimulatorService::environment() {
    if (onEnvironment) {
        onEnvironment();
    }
    return snapshot;
}

std::vector<DeviceOutcome> FakeSimulatorService::runLocalApplication(
    const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
    const std::optional<std::string>& /*preferredEmulator*/, bool activateSimulator,
    const LaunchTargets& targets, LaunchTimeline* timeline, const RepairSettings& repairs,
    const ProgressCallback& progress, std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        this->repairs = repairs;
        requestedLaunches_.push_back(
            {app.string(), preferredSimulatorUDID, activateSimulator, targets});
    }
    addSteps(steps, timeline);
    if (onRun) {
        return outcomesOf(onRun(progress, stop), targets);
    }
    if (!result) {
        throw QuayletError::commandFailed("/usr/bin/xcrun simctl install", 1, "");
    }
    return outcomesOf(*result, targets);
}

void FakeSimulatorService::openURL(const std::string& udid, const std::string& url) {
    checkURLToOpen(url);
    std::lock_guard lock(mutex_);
    openedURLs_.emplace_back(udid, url);
}

PreviewManifest makeManifest(const std::string& displayName, const std::string& commitSha) {
    PreviewManifest manifest;
    manifest.schemaVersion = 1;
    manifest.previewID = "p-" + displayName;
    manifest.repository = "octo/app";
    manifest.pullRequest = 42;
    manifest.commitSha = commitSha;
    manifest.status = PreviewStatus::ready;
    manifest.displayName = displayName;
    manifest.platform = "iphonesimulator";
    return manifest;
}

PreviewSummary makeSummary(const std::string& previewID, const std::string& displayName) {
    PreviewSummary summary;
    summary.previewID = previewID;
    summary.displayName = displayName;
    summary.status = "ready";
    return summary;
}

SelfTestReport makeReport(const std::string& appName, const std::string& simulatorName) {
    SelfTestReport report;
    report.app.displayName = appName;
    report.simulator.name = simulatorName;
    report.installedContainer = "/containers/" + appName + ".app";
    return report;
}

SimulatorDevice makeDevice(const std::string& udid, const std::string& name,
                           const std::string& version) {
    SimulatorDevice device;
    device.udid = udid;
    device.name = name;
    device.state = "Shutdown";
    device.isAvailable = true;
    device.runtime.identifier = "com.apple.CoreSimulator.SimRuntime.iOS-" + version;
    device.runtime.name = "iOS " + version;
    device.runtime.version = SemanticVersion::parse(version).value();
    device.runtime.isAvailable = true;
    return device;
}

EnvironmentSnapshot makeReadyEnvironment(std::vector<SimulatorDevice> devices) {
    EnvironmentSnapshot snapshot;
    snapshot.xcodePath = "/Applications/Xcode.app/Contents/Developer";
    snapshot.simctlPath = "/Applications/Xcode.app/Contents/Developer/usr/bin/simctl";
    snapshot.architecture = "arm64";
    snapshot.simulatorWindow = "Device Hub (Xcode 27.0)";
    snapshot.inventory = SimulatorInventory{};
    for (const SimulatorDevice& device : devices) {
        if (std::ranges::find(snapshot.inventory->runtimes, device.runtime) ==
            snapshot.inventory->runtimes.end()) {
            snapshot.inventory->runtimes.push_back(device.runtime);
        }
    }
    snapshot.inventory->devices = std::move(devices);
    return snapshot;
}

}  // namespace quaylet::testing
