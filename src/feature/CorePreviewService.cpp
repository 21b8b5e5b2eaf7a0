#include "feature/CorePreviewService.h"

namespace quaylet {
namespace {

// Runs work with a token that stops when the call's or the whole service's token does.
template <typename Work>
auto untilEitherStops(std::stop_token call, std::stop_token service, Work work) {
    std::stop_source either;
    const std::stop_callback byCall(call, [&either] { either.request_stop(); });
    const std::stop_callback byService(service, [&either] { either.request_stop(); });
    return work(either.get_token());
}

}  // namespace

CorePreviewService::CorePreviewService(RemotePreviewLauncher launcher, std::stop_token stop)
    : launcher_(std::move(launcher)), stop_(std::move(stop)) {}

std::string CorePreviewService::exchangeAuthenticationCode(const std::string& code) {
    return launcher_.exchangeAuthenticationCode(code, stop_);
}

void CorePreviewService::revokeAuthentication(const std::string& token) {
    launcher_.revokeAuthentication(token, stop_);
}

std::vector<PreviewSummary> CorePreviewService::availablePreviews(const std::string& token) {
    return launcher_.availablePreviews(token, stop_);
}

SelfTestReport CorePreviewService::launch(const RemoteLaunchRequest& request,
                                          const ManifestCallback& manifest,
                                          const ProgressCallback& progress, std::stop_token stop) {
    return untilEitherStops(stop, stop_, [&](std::stop_token either) {
        return launcher_.launch(request, manifest, progress, either);
    });
}

void CorePreviewService::prefetch(const std::string& previewID, const std::string& token,
                                  std::stop_token stop) {
    untilEitherStops(stop, stop_, [&](std::stop_token either) {
        return launcher_.prefetch(previewID, token, either);
    });
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
