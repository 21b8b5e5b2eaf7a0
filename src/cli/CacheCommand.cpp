#include "cli/CacheCommand.h"

#include <cstdio>
#include <ctime>

#include "feature/AppState.h"
#include "feature/DownloadProgress.h"

namespace quaylet {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

// Folder names come from the service: shown as printable ASCII only, so that none of them
// can move the cursor or change the terminal.
std::string inert(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        if (c < 0x20 || c > 0x7e) {
            c = '?';
        }
    }
    return shown;
}

std::string lastLaunchText(const CachedBuildUsage& build) {
    if (!build.lastLaunch) {
        return "never launched";
    }
    const std::time_t time =
        std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(*build.lastLaunch));
    std::tm local{};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", ::localtime_r(&time, &local));
    return std::string("launched ") + text;
}

bool failed(const AppState& state) {
    if (state.errorMessage()) {
        std::fprintf(stderr, "%s\n", state.errorMessage()->c_str());
        return true;
    }
    return false;
}

}  // namespace

int cacheCommand(AppState& state, bool prune, const AwaitFuture& await) {
    await(prune ? state.pruneCache() : state.refreshCacheUsage());
    if (failed(state) || !state.cacheSize()) {
        return kFailure;
    }
    for (const CachedBuildUsage& build : state.cachedBuilds()) {
        std::printf("%s  %s  %s\n", inert(build.previewID).c_str(),
                    formatByteCount(build.allocatedBytes).c_str(), lastLaunchText(build).c_str());
    }
    const std::uintmax_t limit = state.cacheLimitBytes();
    std::printf("Total %s of %s\n", formatByteCount(*state.cacheSize()).c_str(),
                limit == 0 ? "no limit" : formatByteCount(limit).c_str());
    return kSuccess;
}

int setCacheLimit(AppState& state, const std::string& value, const AwaitFuture& await) {
    std::size_t end = 0;
    double gigabytes = -1;
    try {
        gigabytes = std::stod(value, &end);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end == 0 || end != value.size()) {
        std::fprintf(stderr, "cacheLimitGB takes a number of gigabytes from 0 up.\n");
        return kUsageError;
    }
    await(state.setCacheLimit(gigabytes));
    return failed(state) ? kUsageError : kSuccess;
}

}  // namespace quaylet
