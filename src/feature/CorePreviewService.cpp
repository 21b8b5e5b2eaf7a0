#include "feature/CorePreviewService.h"

namespace quaylet {

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

SelfTestReport CorePreviewService::launch(const std::string& previewID, const std::string& token,
                                          const std::optional<std::string>& preferredSimulatorUDID,
                                          bool activateSimulator, const ManifestCallback& manifest,
                                          const ProgressCallback& progress, std::stop_token stop) {
    const RemoteLaunchRequest request{.previewID = previewID,
                                      .token = token,
                                      .preferredSimulatorUDID = preferredSimulatorUDID,
                                      .activateSimulator = activateSimulator};
    std::stop_source either;
    const std::stop_callback byLaunch(stop, [&either] { either.request_stop(); });
    const std::stop_callback byService(stop_, [&either] { either.request_stop(); });
    return launcher_.launch(request, manifest, progress, either.get_token());
}

void CorePreviewService::clearCache() {
    launcher_.clearCache();
}

}  // namespace quaylet
