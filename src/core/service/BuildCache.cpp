#include "core/service/BuildCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <system_error>

#include "core/support/FileTree.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

using Waiting = BuildDirectoryLock::Waiting;

// Its modification time is the build's last launch or prefetch; the name is older than
// prefetching, and caches on disk carry it.
constexpr const char* kUseMark = "last-launch";

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
            // Not to be had without waiting, and still there: someone holds it.
            const bool inUse =
                !BuildDirectoryLock::holdExisting(directory, Waiting::no) && fs::exists(directory);
            CachedBuildUsage build{preview.filename().string(), directory,
                                   treeAllocatedBytes(directory), std::nullopt, inUse};
            std::error_code missing;
            const auto used = fs::last_write_time(directory / kUseMark, missing);
            if (!missing) {
                build.lastUse = used;
            }
            builds.push_back(std::move(build));
        }
    }
    std::stable_sort(builds.begin(), builds.end(), [](const auto& left, const auto& right) {
        return left.lastUse < right.lastUse;  // an absent use orders first
    });
    return builds;
}

void BuildCache::markUsed(const fs::path& buildDirectory) const {
    const fs::path mark = buildDirectory / kUseMark;
    std::ofstream{mark};
    fs::last_write_time(mark, fs::file_time_type::clock::now());
}

std::vector<CachedBuildUsage> BuildCache::trim(std::uintmax_t limitBytes) const {
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
        if (remove(build.directory, Waiting::no)) {
            total -= build.allocatedBytes;
            removed.push_back(build);
        }
    }
    return removed;
}

void BuildCache::removePreviews(const std::vector<std::string>& previewIDs) const {
    for (const CachedBuildUsage& build : builds()) {
        if (std::find(previewIDs.begin(), previewIDs.end(), build.previewID) != previewIDs.end()) {
            remove(build.directory, Waiting::no);
        }
    }
}

void BuildCache::clear(std::stop_token stop) const {
    std::vector<fs::directory_entry> entries;
    std::error_code missing;
    for (fs::directory_iterator entry(root_, missing), end; !missing && entry != end;
         entry.increment(missing)) {
        entries.push_back(*entry);
    }
    for (const fs::directory_entry& preview : entries) {
        if (!preview.is_directory() || preview.is_symlink()) {
            fs::remove(preview.path());
            continue;
        }
        for (const fs::path& directory : subfolders(preview.path())) {
            remove(directory, Waiting::untilFree, stop);
        }
        // Whatever else the folder holds is no build; a build made meanwhile keeps it, and the
        // removal of its last build may have taken it already.
        std::error_code gone;
        for (fs::directory_iterator entry(preview.path(), gone), end; !gone && entry != end;
             entry.increment(gone)) {
            if (!entry->is_directory() || entry->is_symlink()) {
                fs::remove(entry->path());
            }
        }
        fs::remove(preview.path(), gone);
    }
}

bool BuildCache::remove(const fs::path& buildDirectory, Waiting waiting,
                        std::stop_token stop) const {
    const auto held = BuildDirectoryLock::holdExisting(buildDirectory, waiting, stop);
    if (!held) {
        // In use, or removed already by someone else, who also tidies its preview's folder.
        return !fs::exists(buildDirectory);
    }
    removeTree(buildDirectory);
    std::error_code stillInUse;  // another build of the preview keeps its folder
    fs::remove(buildDirectory.parent_path(), stillInUse);
    return true;
}

}  // namespace quaylet
