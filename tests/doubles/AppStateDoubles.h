#pragma once

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/errors/QuayletError.h"
#include "feature/PreviewService.h"
#include "feature/SimulatorService.h"
#include "feature/TokenStore.h"

namespace quaylet::testing {

// A one-way latch a double can wait on; the wait also ends when the launch is stopped, as
// every wait of the real core does.
class Latch {
  public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    // True when opened, false when stop ended the wait.
    bool wait(std::stop_token stop = {}) {
        std::unique_lock lock(mutex_);
        return changed_.wait(lock, stop, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
};

inline void rethrowIfSet(const std::exception_ptr& failure) {
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// A copy of what the state's worker threads may change, taken under its mutex.
template <typename T>
T lockedCopy(std::mutex& mutex, const T& value) {
    std::lock_guard lock(mutex);
    return value;
}

class FakeTokenStore : public TokenStore {
  public:
    std::optional<std::string> readToken() override { return token; }
    void saveToken(const std::string& newToken) override {
        token.reset();
        if (failSaving) {
            throw QuayletError::previewUnavailable(
                "Quaylet couldn\u2019t save your GitHub sign-in. Unlock Keychain, then try again.");
        }
        token = newToken;
    }
    void removeToken() override { token.reset(); }

    std::optional<std::string> token;
    bool failSaving = false;
};

// What a launch double sees; the test's script decides what happens.
struct LaunchCall {
    const PreviewService::ManifestCallback& manifest;
    const PreviewService::ProgressCallback& progress;
    const DownloadObserver& download;
    std::stop_token stop;
    // Told how the early boot goes; absent when the launch does not boot early.
    const EarlyBoots::Observer& earlyBoot;
};

// The launch settings a double was asked to use for one build.
struct RequestedLaunch {
    std::string target;  // the preview identifier, or the app's path for a local build
    std::optional<std::string> preferredSimulatorUDID;
    bool activateSimulator = false;
    LaunchTargets targets = {};

    bool operator==(const RequestedLaunch&) const = default;
};

// The double's one result as the outcome on each named device, or on the chosen one.
inline std::vector<DeviceOutcome> outcomesOf(const SelfTestReport& report,
                                             const LaunchTargets& targets) {
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

inline void addSteps(const std::vector<TimelineEntry>& steps, LaunchTimeline* timeline) {
    for (const TimelineEntry& step : timeline ? steps : std::vector<TimelineEntry>()) {
        timeline->add(step);
    }
}

class FakePreviewService : public PreviewService {
  public:
    std::string exchangeAuthenticationCode(const std::string& code) override {
        std::lock_guard lock(mutex_);
        exchangedCodes_.push_back(code);
        return "issued-token";
    }
    void revokeAuthentication(const std::string&) override { rethrowIfSet(revokeFailure); }
    std::vector<PreviewSummary> availablePreviews(const std::string&) override {
        {
            std::lock_guard lock(mutex_);
            ++listCount_;
        }
        rethrowIfSet(listFailure);
        return previews;
    }
    std::vector<DeviceOutcome> launch(const RemoteLaunchRequest& request,
                                      const ManifestCallback& manifest,
                                      const ProgressCallback& progress,
                                      std::stop_token stop) override {
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
    // Runs onLaunch, as a launch of request.previewID.
    std::vector<DeviceOutcome> relaunch(const RemoteLaunchRequest& request, const PreviewManifest&,
                                        const std::filesystem::path&,
                                        const ProgressCallback& progress,
                                        std::stop_token stop) override {
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
    void prefetch(const std::string& previewID, const std::string&, std::uintmax_t,
                  std::stop_token stop) override {
        {
            std::lock_guard lock(mutex_);
            prefetchedPreviews_.push_back(previewID);
        }
        rethrowIfSet(prefetchFailure);
        if (onPrefetch) {
            onPrefetch(stop);
        }
    }
    void clearCache() override {
        if (onClearCache) {
            onClearCache();
        }
        rethrowIfSet(clearFailure);
    }
    std::vector<CachedBuildUsage> cachedBuilds() override { return lockedCopy(mutex_, cached); }
    void trimCache(std::uintmax_t limitBytes) override {
        std::lock_guard lock(mutex_);
        trimmedTo.push_back(limitBytes);
    }
    void removeCachedPreviews(const std::vector<std::string>& previewIDs) override {
        std::lock_guard lock(mutex_);
        removedPreviews.insert(removedPreviews.end(), previewIDs.begin(), previewIDs.end());
    }

    std::vector<std::string> exchangedCodes() const { return lockedCopy(mutex_, exchangedCodes_); }
    std::vector<std::string> prefetchedPreviews() const {
        return lockedCopy(mutex_, prefetchedPreviews_);
    }
    int listCount() const { return lockedCopy(mutex_, listCount_); }
    std::vector<std::string> launchedPreviews() const {
        std::vector<std::string> previews;
        for (const RequestedLaunch& launch : requestedLaunches()) {
            previews.push_back(launch.target);
        }
        return previews;
    }
    std::vector<RequestedLaunch> requestedLaunches() const {
        return lockedCopy(mutex_, requestedLaunches_);
    }
    std::vector<RequestedLaunch> relaunches() const { return lockedCopy(mutex_, relaunches_); }

    // Set before the state calls in; each throws failure when it is set.
    std::exception_ptr revokeFailure;
    std::exception_ptr listFailure;
    std::exception_ptr clearFailure;
    std::exception_ptr prefetchFailure;
    std::vector<PreviewSummary> previews;
    std::function<SelfTestReport(const LaunchCall&)> onLaunch;
    // Put in the launch's timeline as each launch starts.
    std::vector<TimelineEntry> steps;
    std::function<void()> onClearCache;
    // The cache as cachedBuilds() shows it; trimCache and removeCachedPreviews record their
    // requests here.
    std::vector<CachedBuildUsage> cached;
    std::vector<std::uintmax_t> trimmedTo;
    std::vector<std::string> removedPreviews;
    // When set, a prefetch runs it.
    std::function<void(std::stop_token)> onPrefetch;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> exchangedCodes_;
    std::vector<RequestedLaunch> requestedLaunches_;
    std::vector<RequestedLaunch> relaunches_;
    std::vector<std::string> prefetchedPreviews_;
    int listCount_ = 0;
};

class FakeSimulatorService : public SimulatorService {
  public:
    EnvironmentSnapshot environment() override {
        if (onEnvironment) {
            onEnvironment();
        }
        return snapshot;
    }
    std::vector<DeviceOutcome> runLocalApplication(
        const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
        const std::optional<std::string>& /*preferredEmulator*/, bool activateSimulator,
        const LaunchTargets& targets, LaunchTimeline* timeline, const RepairSettings& repairs,
        const ProgressCallback& progress, std::stop_token stop) override {
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
    void openURL(const std::string& udid, const std::string& url) override {
        checkURLToOpen(url);
        std::lock_guard lock(mutex_);
        openedURLs_.emplace_back(udid, url);
    }
    void openURLInEmulator(const std::string& emulatorName, const std::string& package,
                           const std::string& url) override {
        openURL(emulatorName + "/" + package, url);
    }

    std::vector<RequestedLaunch> requestedLaunches() const {
        return lockedCopy(mutex_, requestedLaunches_);
    }
    // Device (an emulator as name/package) and URL of each link opened.
    std::vector<std::pair<std::string, std::string>> openedURLs() const {
        return lockedCopy(mutex_, openedURLs_);
    }

    EnvironmentSnapshot snapshot;
    std::optional<SelfTestReport> result;  // thrown as a failure when absent
    // When set, runs the launch instead of the result.
    std::function<SelfTestReport(const ProgressCallback&, std::stop_token)> onRun;
    // Put in the launch's timeline as each launch starts.
    std::vector<TimelineEntry> steps;
    // What the latest launch was given to tell of repairs through.
    RepairSettings repairs;
    // When set, environment() runs it first, so that a test can hold a diagnosis.
    std::function<void()> onEnvironment;

  private:
    mutable std::mutex mutex_;
    std::vector<RequestedLaunch> requestedLaunches_;
    std::vector<std::pair<std::string, std::string>> openedURLs_;
};

inline PreviewManifest makeManifest(const std::string& displayName, const std::string& commitSha) {
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

// A ready build of pull request 7 of octo/app.
inline PreviewSummary makeSummary(const std::string& previewID, const std::string& displayName) {
    PreviewSummary summary;
    summary.previewID = previewID;
    summary.displayName = displayName;
    summary.repository = "octo/app";
    summary.pullRequest = 7;
    summary.status = "ready";
    return summary;
}

inline SelfTestReport makeReport(const std::string& appName, const std::string& simulatorName) {
    SelfTestReport report;
    report.app.displayName = appName;
    report.simulator.name = simulatorName;
    report.installedContainer = "/containers/" + appName + ".app";
    return report;
}

// An available device on an available iOS runtime of the version, such as "18.2".
inline SimulatorDevice makeDevice(const std::string& udid, const std::string& name,
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

// A Mac with Xcode, the simulator tools and these devices, and nothing wrong.
inline EnvironmentSnapshot makeReadyEnvironment(std::vector<SimulatorDevice> devices) {
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
