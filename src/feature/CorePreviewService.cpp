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

std::vector<DeviceOutcome> CorePreviewService::launch(const RemoteLaunchRequest& request,
                                                      const ManifestCallback& manifest,
                                                      const ProgressCallback& progress,
                                                      std::stop_token stop) {
    return launcher_.launch(request, manifest, progress, stop);
}

void CorePreviewService::clearCache() {
    launcher_.clearCache();
}

}  // namespace quaylet
