#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "feature/PreviewService.h"
#include "feature/SimulatorService.h"
#include "feature/TokenStore.h"

namespace quaylet::testing {

// A one-way latch a double can wait on; the wait also ends when the launch is stopped, as
// every wait of the real core does.
class Latch {
  public:
    void open();
    // True when opened, false when stop ended the wait.
    bool wait(std::stop_token stop = {});

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
};

void rethrowIfSet(const std::exception_ptr& failure);

// A copy of what the state's worker threads may change, taken under its mutex.
template <typename T>
T lockedCopy(std::mutex& mutex, const T& value) {
    std::lock_guard lock(mutex);
    return value;
}

class FakeTokenStore : public TokenStore {
  public:
    std::optional<std::string> readToken() override { return token; }
    void saveToken(const std::string& token) override;
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

class FakePreviewService : public PreviewService {
  public:
    std::string exchangeAuthenticationCode(const std::string& code) override;
    void revokeAuthentication(const std::string&) override { rethrowIfSet(revokeFailure); }
    std::vector<PreviewSummary> availablePreviews(const std::string& token) override;
    std::vector<DeviceOutcome> launch(const RemoteLaunchRequest& request,
                                      const ManifestCallback& manifest,
                                      const ProgressCallback& progress,
                                      std::stop_token stop) override;
    // Runs onLaunch, as a launch of request.previewID.
    std::vector<DeviceOutcome> relaunch(const RemoteLaunchRequest& request,
                                        const PreviewManifest& manifest,
                                        const std::filesystem::path& app,
                                        const ProgressCallback& progress,
                                        std::stop_token stop) override;
    void prefetch(const std::string& previewID, const std::string& token,
                  std::uintmax_t cacheLimitBytes, std::stop_token stop) override;
    void clearCache() override;
    std::vector<CachedBuildUsage> cachedBuilds() override { return lockedCopy(mutex_, cached); }
    void trimCache(std::uintmax_t limitBytes) override;
    void removeCachedPreviews(const std::vector<std::string>& previewIDs) override;

    std::vector<std::string> exchangedCodes() const { return lockedCopy(mutex_, exchangedCodes_); }
    std::vector<std::string> prefetchedPreviews() const {
        return lockedCopy(mutex_, prefetchedPreviews_);
    }
    int listCount() const { return lockedCopy(mutex_, listCount_); }
    std::vector<std::string> launchedPreviews() const;
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
    // When set, the builds list runs it first, so that a test can hold the list.
    std::function<void()> onList;
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
    EnvironmentSnapshot environment() override;
    std::vector<DeviceOutcome> runLocalApplication(
        const std::filesystem::path& app, const std::optional<std::string>& preferredSimulatorUDID,
        const std::optional<std::string>& preferredEmulator, bool activateSimulator,
        const LaunchTargets& targets, LaunchTimeline* timeline, const RepairSettings& repairs,
        const ProgressCallback& progress, std::stop_token stop) override;
    void openURL(const std::string& udid, const std::string& url) override;

    std::vector<RequestedLaunch> requestedLaunches() const {
        return lockedCopy(mutex_, requestedLaunches_);
    }
    // Device and URL of each openURL call.
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

PreviewManifest makeManifest(const std::string& displayName, const std::string& commitSha);
PreviewSummary makeSummary(const std::string& previewID, const std::string& displayName);
SelfTestReport makeReport(const std::string& appName, const std::string& simulatorName);
// An available device on an available iOS runtime of the version, such as "18.2".
SimulatorDevice makeDevice(const std::string& udid, const std::string& name,
                           const std::string& version);
// A Mac with Xcode, the simulator tools and these devices, and nothing wrong.
EnvironmentSnapshot makeReadyEnvironment(std::vector<SimulatorDevice> devices);

}  // namespace quaylet::testing
