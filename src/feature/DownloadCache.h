#pragma once

#include <QFuture>
#include <QObject>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "feature/BackgroundWork.h"
#include "feature/BuildsList.h"
#include "feature/Launch.h"
#include "feature/PreviewService.h"
#include "feature/Settings.h"

namespace quaylet {

// The downloaded builds on disk: what they take, the limit they are kept under, and clearing
// them. Nothing is removed under a launch that is still using its build.
class DownloadCache : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant cacheSize READ cacheSizeValue NOTIFY cachedBuildsChanged)
    Q_PROPERTY(double cacheLimitGB READ cacheLimitGB NOTIFY cacheLimitGBChanged)

  public:
    // Removes the builds that the builds list shows withdrawn by the service.
    DownloadCache(BackgroundWork& work, Launch& launch, const BuildsList& builds,
                  std::shared_ptr<PreviewService> previewService, Settings settings,
                  QObject* parent = nullptr);

    // The cached builds, least recently launched first, as last counted by
    // refreshCacheUsage(); their total on disk, absent until counted.
    const std::vector<CachedBuildUsage>& cachedBuilds() const { return cachedBuilds_; }
    std::optional<std::uintmax_t> cacheSize() const;
    double cacheLimitGB() const { return settings_.cacheLimitGB(); }
    std::uintmax_t cacheLimitBytes() const { return settings_.cacheLimitBytes(); }

    Q_INVOKABLE QFuture<void> clearDownloadCache();
    // Counts the cached builds on disk, in the background.
    Q_INVOKABLE QFuture<void> refreshCacheUsage();
    // Removes builds, least recently launched first, until the cache fits the limit; after
    // the launch in progress, if any, has ended.
    Q_INVOKABLE QFuture<void> pruneCache();
    // Stores the limit; a lower one is applied at once. A limit that
    // Settings::isValidCacheLimitGB refuses, or one that cannot be stored, is refused with
    // the launch's errorMessage.
    Q_INVOKABLE QFuture<void> setCacheLimit(double gigabytes);
    // The window checks a typed limit with the command line's rule, and says it in its words.
    Q_INVOKABLE bool isValidCacheLimit(double gigabytes) const {
        return Settings::isValidCacheLimitGB(gigabytes);
    }
    Q_INVOKABLE QString cacheLimitRange() const { return Settings::kCacheLimitRange; }

  signals:
    void cachedBuildsChanged();
    void cacheLimitGBChanged();

  private:
    QVariant cacheSizeValue() const;
    // Removes the cached builds of previews the service lists as expired, deleted or failed.
    void removeWithdrawnBuilds(const std::vector<PreviewSummary>& builds);
    // Runs work on the cache once the launch in progress, if any, has ended, then counts it.
    QFuture<void> changeCache(std::function<void(PreviewService&)> work);

    BackgroundWork& work_;
    Launch& launch_;
    std::shared_ptr<PreviewService> previewService_;
    Settings settings_;
    bool isCacheCounted_ = false;
    std::vector<CachedBuildUsage> cachedBuilds_;
};

}  // namespace quaylet
