#pragma once

#include "core/service/RemotePreviewLauncher.h"
#include "feature/PreviewService.h"

namespace quaylet {

// The preview service as the core's remote launcher reaches it.
class CorePreviewService : public PreviewService {
  public:
    // Stopping stop ends every call in progress, and every later one, with
    // CancellationError: the terminal's Ctrl-C. A launch also ends when its own token stops.
    explicit CorePreviewService(RemotePreviewLauncher launcher, std::stop_token stop = {});

    std::string exchangeAuthenticationCode(const std::string& code) override;
    void revokeAuthentication(const std::string& token) override;
    std::vector<PreviewSummary> availablePreviews(const std::string& token) override;
    SelfTestReport launch(const std::string& previewID, const std::string& token,
                          const std::optional<std::string>& preferredSimulatorUDID,
                          bool activateSimulator, const ManifestCallback& manifest,
                          const ProgressCallback& progress, std::stop_token stop) override;
    void clearCache() override;

  private:
    RemotePreviewLauncher launcher_;
    std::stop_token stop_;
};

}  // namespace quaylet
