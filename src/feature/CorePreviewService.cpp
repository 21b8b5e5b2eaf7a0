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

SelfTestReport CorePreviewService::launch(const std::string& previewID, const std::string& token,
                                          const std::optional<std::string>& preferredSimulatorUDID,
                                          bool activateSimulator, const ManifestCallback& manifest,
                                          const ProgressCallback& progress, std::stop_token stop) {
    const RemoteLaunchRequest request{.previewID = previewID,
                                      .token = token,
                                      .preferredSimulatorUDID = preferredSimulatorUDID,
                                      .activateSimulator = activateSimulator};
    return launcher_.launch(request, manifest, progress, stop);
}

void CorePreviewService::prefetch(const std::string& previewID, const std::string& token,
                                  std::stop_token stop) {
    launcher_.prefetch(previewID, token, stop);
}

void CorePreviewService::clearCache() {
    launcher_.clearCache();
}

}  // namespace quaylet
