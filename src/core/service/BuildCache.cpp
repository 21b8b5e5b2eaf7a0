#include "core/service/BuildCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <system_error>

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// Its modification time is the build's last launch.
constexpr const char* kLaunchMark = "last-launch";

std::uintmax_t allocatedBytes(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? std::uintmax_t(status.st_blocks) * 512 : 0;
}

// What the tree takes on disk; entries that vanish or cannot be read while it is counted
// count as nothing, since another launch may be unpacking beside it.
std::uintmax_t treeAllocatedBytes(const fs::path& root) {
    std::uintmax_t total = allocatedBytes(root);
    std::error_code error;
    for (fs::recursive_directory_iterator walk(root, error), end; !error && walk != end;
         walk.increment(error)) {
        total += allocatedBytes(walk->path());
    }
    return total;
}

std::vector<fs::path> subfolders(const fs::path& folder) {
    std::vector<fs::path> folders;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_directory(error) && !entry->is_symlink(error)) {
            folders.push_back(entry->path());
        }
    }
    return folders;
}

}  // namespace

BuildCache::BuildCache(fs::path root) : root_(std::move(root)) {}

std::vector<CachedBuildUsage> BuildCache::builds() const {
    std::vector<CachedBuildUsage> builds;
    for (const fs::path& preview : subfolders(root_)) {
        for (const fs::path& directory : subfolders(preview)) {
            CachedBuildUsage build{preview.filename().string(), directory,
                                   treeAllocatedBytes(directory), std::nullopt};
            std::error_code missing;
            const auto launched = fs::last_write_time(directory / kLaunchMark, missing);
            if (!missing) {
                build.lastLaunch = launched;
            }
            builds.push_back(std::move(build));
        }
    }
    std::stable_sort(builds.begin(), builds.end(), [](const auto& left, const auto& right) {
        return left.lastLaunch < right.lastLaunch;  // an absent launch orders first
    });
    return builds;
}

void BuildCache::markLaunched(const fs::path& buildDirectory) const {
    const fs::path mark = buildDirectory / kLaunchMark;
    std::ofstream{mark};
    fs::last_write_time(mark, fs::file_time_type::clock::now());
}

std::vector<CachedBuildUsage> BuildCache::trim(std::uintmax_t limitBytes,
                                               const fs::path& keep) const {
    std::vector<CachedBuildUsage> removed;
    if (limitBytes == 0) {
        return removed;
    }
    const std::vector<CachedBuildUsage> all = builds();
    std::uintmax_t total = std::accumulate(all.begin(), all.end(), std::uintmax_t{0},
                                           [](std::uintmax_t sum, const CachedBuildUsage& build) {
                                               return sum + build.allocatedBytes;
                                           });
    for (const CachedBuildUsage& build : all) {
        if (total <= limitBytes) {
            break;
        }
        if (build.directory == keep) {
            continue;
        }
        remove(build.directory);
        total -= build.allocatedBytes;
        removed.push_back(build);
    }
    return removed;
}

void BuildCache::removePreviews(const std::vector<std::string>& previewIDs) const {
    for (const CachedBuildUsage& build : builds()) {
        if (std::find(previewIDs.begin(), previewIDs.end(), build.previewID) != previewIDs.end()) {
            remove(build.directory);
        }
    }
}

void BuildCache::remove(const fs::path& buildDirectory) const {
    fs::remove_all(buildDirectory);
    std::error_code stillInUse;  // another build of the preview keeps its folder
    fs::remove(buildDirectory.parent_path(), stillInUse);
}

}  // namespace quaylet
