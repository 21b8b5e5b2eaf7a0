#include "feature/DownloadCache.h"

#include <filesystem>
#include <stdexcept>

#include "core/errors/UserMessage.h"
#include "feature/DownloadProgress.h"
#include "feature/MainThread.h"

namespace quaylet {

DownloadCache::DownloadCache(BackgroundWork& work, Launch& launch, const BuildsList& builds,
                             std::shared_ptr<PreviewService> previewService, Settings settings,
                             QObject* parent)
    : QObject(parent),
      work_(work),
      launch_(launch),
      previewService_(std::move(previewService)),
      settings_(std::move(settings)) {
    connect(&builds, &BuildsList::listed, this, &DownloadCache::removeWithdrawnBuilds);
}

QFuture<void> DownloadCache::clearDownloadCache() {
    launch_.stopLaunchTask();
    return work_.run(
        this,
        [this, service = previewService_,
         stoppedLaunch = launch_.launchFinished()]() mutable -> BackgroundWork::Step {
            // A stopped launch may go on writing into the cache until it notices the stop;
            // clearing after it has ended is what leaves the cache empty.
            stoppedLaunch.waitForFinished();
            service->clearCache();
            return [this] {
                launch_.showCacheCleared();
                if (!isCacheCounted_ || !cachedBuilds_.empty()) {
                    isCacheCounted_ = true;
                    cachedBuilds_.clear();
                    emit cachedBuildsChanged();
                }
            };
        },
        [this](const std::exception_ptr& error) { launch_.showError(userMessage(error)); },
        BackgroundWork::Reach::host);
}

void DownloadCache::removeWithdrawnBuilds(const std::vector<PreviewSummary>& builds) {
    std::vector<std::string> withdrawn;
    for (const PreviewSummary& build : builds) {
        if (build.status == "expired" || build.status == "deleted" || build.status == "failed") {
            withdrawn.push_back(build.previewID);
        }
    }
    if (!withdrawn.empty()) {
        changeCache(
            [withdrawn](PreviewService& service) { service.removeCachedPreviews(withdrawn); });
    }
}

QFuture<void> DownloadCache::refreshCacheUsage() {
    return changeCache([](PreviewService&) {});
}

QFuture<void> DownloadCache::pruneCache() {
    return changeCache([limit = settings_.cacheLimitBytes()](PreviewService& service) {
        service.trimCache(limit);
    });
}

QFuture<void> DownloadCache::setCacheLimit(double gigabytes) {
    const double previous = settings_.cacheLimitGB();
    try {
        settings_.setCacheLimitGB(gigabytes);
    } catch (const std::invalid_argument& refused) {
        launch_.showError(refused.what());
        return finishedFuture();
    } catch (const std::filesystem::filesystem_error&) {
        launch_.showError(Settings::kCannotSaveMessage);
        return finishedFuture();
    }
    if (gigabytes != previous) {
        emit cacheLimitGBChanged();
    }
    const bool lowered = gigabytes != 0 && (previous == 0 || gigabytes < previous);
    return lowered ? pruneCache() : finishedFuture();
}

QFuture<void> DownloadCache::changeCache(std::function<void(PreviewService&)> work) {
    return work_.run(
        this,
        [this, service = previewService_, work = std::move(work),
         launch = launch_.launchFinished()]() mutable -> BackgroundWork::Step {
            // Nothing is removed under a launch that is still unpacking or installing it.
            launch.waitForFinished();
            work(*service);
            std::vector<CachedBuildUsage> builds = service->cachedBuilds();
            return [this, builds = std::move(builds)] {
                if (!isCacheCounted_ || cachedBuilds_ != builds) {
                    isCacheCounted_ = true;
                    cachedBuilds_ = builds;
                    emit cachedBuildsChanged();
                }
            };
        },
        [this](const std::exception_ptr& error) { launch_.showError(userMessage(error)); },
        BackgroundWork::Reach::host);
}

std::optional<std::uintmax_t> DownloadCache::cacheSize() const {
    if (!isCacheCounted_) {
        return std::nullopt;
    }
    std::uintmax_t total = 0;
    for (const CachedBuildUsage& build : cachedBuilds_) {
        total += build.allocatedBytes;
    }
    return total;
}

QVariant DownloadCache::cacheSizeValue() const {
    const auto size = cacheSize();
    return size ? QVariant(QString::fromStdString(formatByteCount(*size))) : QVariant();
}

}  // namespace quaylet
