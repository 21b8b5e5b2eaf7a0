#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/service/BuildCache.h"
#include "core/service/PreviewRecords.h"
#include "core/service/RemoteLaunchStage.h"
#include "core/service/RemotePreviewLauncher.h"
#include "core/simulator/SelfTestReport.h"

namespace quaylet {

// The application state's one door to the preview service: account, builds list, the
// pull-request launch and the cache of downloaded builds. Blocking calls, made from worker
// threads, possibly several at once; failures are thrown as the core raises them.
class PreviewService {
  public:
    using ManifestCallback = std::function<void(const PreviewManifest&)>;
    using ProgressCallback = std::function<void(RemoteLaunchStage)>;

    virtual ~PreviewService() = default;

    // Called on the main thread before a call that may reach the service goes to a worker:
    // starts what has to start there (the network), which the program leaves unstarted
    // while it idles. Later calls do nothing.
    virtual void startNetwork() {}

    virtual std::string exchangeAuthenticationCode(const std::string& code) = 0;
    virtual void revokeAuthentication(const std::string& token) = 0;
    virtual std::vector<PreviewSummary> availablePreviews(const std::string& token) = 0;

    // Both callbacks are called on the launching thread and return once the state has
    // taken the report in; so is the request's download observer, which must not wait. One
    // outcome per named device, or the chosen device's when none is named (its failure is
    // thrown). Stopping ends the launch with CancellationError.
    virtual std::vector<DeviceOutcome> launch(const RemoteLaunchRequest& request,
                                              const ManifestCallback& manifest,
                                              const ProgressCallback& progress,
                                              std::stop_token stop) = 0;

    // Runs the app a launch of this build unpacked again on request.targets' devices, posting a
    // launch event for each device it runs on and marking the build launched, as launch does.
    // Stopping ends it with CancellationError.
    virtual std::vector<DeviceOutcome> relaunch(const RemoteLaunchRequest& request,
                                                const PreviewManifest& manifest,
                                                const std::filesystem::path& app,
                                                const ProgressCallback& progress,
                                                std::stop_token stop) = 0;

    // Leaves the build's verified archive in the cache as a launch would, and nothing more,
    // then trims the cache to cacheLimitBytes (0: no limit); refuses a build larger than the
    // limit. Stopping ends it with CancellationError.
    virtual void prefetch(const std::string& previewID, const std::string& token,
                          std::uintmax_t cacheLimitBytes, std::stop_token stop) = 0;

    // Waits for builds in use, here or in another process, and removes them once free.
    virtual void clearCache() = 0;
    // The cached builds, least recently used first, with their sizes on disk.
    virtual std::vector<CachedBuildUsage> cachedBuilds() = 0;
    // Removes builds, least recently used first, until the cache fits; 0: no limit. This and
    // removeCachedPreviews leave the builds in use.
    virtual void trimCache(std::uintmax_t limitBytes) = 0;
    virtual void removeCachedPreviews(const std::vector<std::string>& previewIDs) = 0;
};

}  // namespace quaylet
