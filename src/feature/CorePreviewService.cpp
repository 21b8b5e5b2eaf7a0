#include "feature/CorePreviewService.h"

namespace quaylet {

CorePreviewService::CorePreviewService(RemotePreviewLauncher launcher)
    : launcher_(std::move(launcher)) {}

std::string CorePreviewService::exchangeAuthenticationCode(const std::string& code) {
    return launcher_.exchangeAuthenticationCode(code, std::stop_token());
}

void CorePreviewService::revokeAuthentication(const std::string& token) {
    launcher_.revokeAuthentication(token, std::stop_token());
}

std::vector<PreviewSummary> CorePreviewService::availablePreviews(const std::string& token) {
    return launcher_.availablePreviews(token, std::stop_token());
}

SelfTestReport CorePreviewService::launch(const RemoteLaunchRequest& request,
                                          const ManifestCallback& manifest,
                                          const ProgressCallback& progress, std::stop_token stop) {
    return launcher_.launch(request, manifest, progress, stop);
}

void CorePreviewService::prefetch(const std::string& previewID, const std::string& token,
                                  std::stop_token stop) {
    launcher_.prefetch(previewID, token, stop);
}

void CorePreviewService::clearCache() {
    launcher_.clearCache();
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
