#include "cli/CacheCommand.h"

#include <charconv>
#include <ctime>

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "feature/DownloadCache.h"
#include "feature/DownloadProgress.h"
#include "feature/Launch.h"
#include "feature/Settings.h"

namespace quaylet {
namespace {

std::string lastUseText(const CachedBuildUsage& build) {
    if (!build.lastUse) {
        return "never used";
    }
    const std::time_t time =
        std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(*build.lastUse));
    std::tm local{};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", ::localtime_r(&time, &local));
    return std::string("used ") + text;
}

bool failed(const Launch& launch) {
    if (launch.errorMessage()) {
        printError(*launch.errorMessage());
        return true;
    }
    return false;
}

}  // namespace

int cacheCommand(DownloadCache& cache, const Launch& launch, bool prune,
                 const Interrupt& interrupt) {
    interrupt.await(prune ? cache.pruneCache() : cache.refreshCacheUsage());
    if (failed(launch) || !cache.cacheSize()) {
        return kFailure;
    }
    for (const CachedBuildUsage& build : cache.cachedBuilds()) {
        // Folder names come from the service, so they are printed inertly like all its text.
        printLine(build.previewID + "  " + formatByteCount(build.allocatedBytes) + "  " +
                  lastUseText(build) + (build.inUse ? "  in use" : ""));
    }
    const std::uintmax_t limit = cache.cacheLimitBytes();
    printLine("Total " + formatByteCount(*cache.cacheSize()) + " of " +
              (limit == 0 ? "no limit" : formatByteCount(limit)));
    return kSuccess;
}

int setCacheLimit(DownloadCache& cache, const Launch& launch, const std::string& value,
                  const Interrupt& interrupt) {
    double gigabytes = -1;
    const char* end = value.data() + value.size();
    const auto [parsed, error] = std::from_chars(value.data(), end, gigabytes);
    if (error != std::errc() || parsed != end || !Settings::isValidCacheLimitGB(gigabytes)) {
        printError(Settings::kCacheLimitRange);
        return kUsageError;
    }
    interrupt.await(cache.setCacheLimit(gigabytes));
    return failed(launch) ? kFailure : kSuccess;
}

}  // namespace quaylet
