#include "feature/CorePreviewService.h"

#include "feature/StopEither.h"

namespace quaylet {

CorePreviewService::CorePreviewService(RemotePreviewLauncher launcher, std::stop_token stop)
    : launcher_(std::move(launcher)), stop_(std::move(stop)) {}

void CorePreviewService::startNetwork() {
    launcher_.startNetwork();
}

std::string CorePreviewService::exchangeAuthenticationCode(const std::string& code) {
    return launcher_.exchangeAuthenticationCode(code, stop_);
}

void CorePreviewService::revokeAuthentication(const std::string& token) {
    launcher_.revokeAuthentication(token, stop_);
}

std::vector<PreviewSummary> CorePreviewService::availablePreviews(const std::string& token) {
    return launcher_.availablePreviews(token, stop_);
}

std::vector<DeviceOutcome> CorePreviewService::launch(const RemoteLaunchRequest& request,
                                                      const ManifestCallback& manifest,
                                                      const ProgressCallback& progress,
                                                      std::stop_token stop) {
    const StopEither either(stop, stop_);
    return launcher_.launch(request, manifest, progress, either.token());
}

std::vector<DeviceOutcome> CorePreviewService::relaunch(const RemoteLaunchRequest& request,
                                                        const PreviewManifest& manifest,
                                                        const std::filesystem::path& app,
                                                        const ProgressCallback& progress,
                                                        std::stop_token stop) {
    const StopEither either(stop, stop_);
    return launcher_.relaunch(request, manifest, app, progress, either.token());
}

void CorePreviewService::prefetch(const std::string& previewID, const std::string& token,
                                  std::uintmax_t cacheLimitBytes, std::stop_token stop) {
    const StopEither either(stop, stop_);
    launcher_.prefetch(previewID, token, cacheLimitBytes, either.token());
}

void CorePreviewService::clearCache() {
    launcher_.clearCache(stop_);
}

std::vector<CachedBuildUsage> CorePreviewService::cachedBuilds() {
    return BuildCache(launcher_.cacheRoot()).builds();
}

void CorePreviewService::trimCache(std::uintmax_t limitBytes) {
    BuildCache(launcher_.cacheRoot()).trim(limitBytes);
}

void CorePreviewService::removeCachedPreviews(const std::vector<std::string>& previewIDs) {
    BuildCache(launcher_.cacheRoot()).removePreviews(previewIDs);
}

}  // namespace quaylet
