#pragma once

#include "core/service/RemotePreviewLauncher.h"
#include "feature/PreviewService.h"

namespace quaylet {

// The preview service as the core's remote launcher reaches it.
class CorePreviewService : public PreviewService {
  public:
    // Stopping stop ends every call in progress, and every later one, with
    // CancellationError: the terminal’s Ctrl-C. A launch or a prefetch also ends when its own
    // token stops.
    explicit CorePreviewService(RemotePreviewLauncher launcher, std::stop_token stop = {});

    void startNetwork() override;
    std::string exchangeAuthenticationCode(const std::string& code) override;
    void revokeAuthentication(const std::string& token) override;
    std::vector<PreviewSummary> availablePreviews(const std::string& token) override;
    std::vector<DeviceOutcome> launch(const RemoteLaunchRequest& request,
                                      const ManifestCallback& manifest,
                                      const ProgressCallback& progress,
                                      std::stop_token stop) override;
    std::vector<DeviceOutcome> relaunch(const RemoteLaunchRequest& request,
                                        const PreviewManifest& manifest,
                                        const std::filesystem::path& app,
                                        const ProgressCallback& progress,
                                        std::stop_token stop) override;
    void prefetch(const std::string& previewID, const std::string& token,
                  std::uintmax_t cacheLimitBytes, std::stop_token stop) override;
    void clearCache() override;
    std::vector<CachedBuildUsage> cachedBuilds() override;
    void trimCache(std::uintmax_t limitBytes) override;
    void removeCachedPreviews(const std::vector<std::string>& previewIDs) override;

  private:
    RemotePreviewLauncher launcher_;
    std::stop_token stop_;
};

}  // namespace quaylet
