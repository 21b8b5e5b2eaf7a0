#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quaylet {

// One build directory of the cache, as the disk holds it.
struct CachedBuildUsage {
    std::string previewID;
    std::filesystem::path directory;  // root/previewID/sha256
    std::uintmax_t allocatedBytes = 0;
    std::optional<std::filesystem::file_time_type> lastLaunch;

    bool operator==(const CachedBuildUsage&) const = default;
};

// The downloaded builds under one root, kept within a size limit. Sizes are the blocks the
// files take on disk, so a sparse or partly written file counts for what it really uses.
// Blocking and touching the disk: call it from a worker, never from the main thread.
class BuildCache {
  public:
    explicit BuildCache(std::filesystem::path root);

    // Every build directory, least recently launched first (never launched before all).
    std::vector<CachedBuildUsage> builds() const;

    // Records that the build in this directory was just launched.
    void markLaunched(const std::filesystem::path& buildDirectory) const;

    // Removes whole build directories, least recently launched first, until the cache takes at
    // most limitBytes; never `keep`. A limit of 0 means no limit. Returns what was removed.
    std::vector<CachedBuildUsage> trim(std::uintmax_t limitBytes,
                                       const std::filesystem::path& keep = {}) const;

    // Removes every cached build of these previews.
    void removePreviews(const std::vector<std::string>& previewIDs) const;

  private:
    void remove(const std::filesystem::path& buildDirectory) const;

    std::filesystem::path root_;
};

}  // namespace quaylet
