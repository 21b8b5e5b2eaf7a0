#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/service/BuildDirectoryLock.h"

namespace quaylet {

// One build directory of the cache, as the disk holds it.
struct CachedBuildUsage {
    std::string previewID;
    std::filesystem::path directory;  // root/previewID/sha256
    std::uintmax_t allocatedBytes = 0;
    // When it was last launched or fetched ahead.
    std::optional<std::filesystem::file_time_type> lastUse;
    // Held by a launch or a prefetch, in this process or another, as it was counted.
    bool inUse = false;

    bool operator==(const CachedBuildUsage&) const = default;
};

// The downloaded builds under one root, kept within a size limit. Sizes are the blocks the
// files take on disk, so a sparse or partly written file counts for what it really uses.
// Several processes share the root: a build is only removed under its BuildDirectoryLock, so
// nothing is deleted under a launch or a prefetch that holds it.
// Blocking and touching the disk: call it from a worker, never from the main thread.
class BuildCache {
  public:
    explicit BuildCache(std::filesystem::path root);

    // Every build directory, least recently used first (never used before all).
    std::vector<CachedBuildUsage> builds() const;

    // Records that the build in this directory was just launched or fetched ahead.
    void markUsed(const std::filesystem::path& buildDirectory) const;

    // Removes whole build directories, least recently used first, until the cache takes at
    // most limitBytes, leaving the builds in use. A limit of 0 means no limit. Returns what
    // was removed.
    std::vector<CachedBuildUsage> trim(std::uintmax_t limitBytes) const;

    // Removes every cached build of these previews but those in use.
    void removePreviews(const std::vector<std::string>& previewIDs) const;

    // Removes everything under the root, waiting for each build in use until it is free; a
    // stop ends the wait with CancellationError.
    void clear(std::stop_token stop) const;

  private:
    // Removes the build, with its preview's folder when that is left empty, unless it is in
    // use and the caller does not wait; true when it is gone.
    bool remove(const std::filesystem::path& buildDirectory, BuildDirectoryLock::Waiting waiting,
                std::stop_token stop = {}) const;

    std::filesystem::path root_;
};

}  // namespace quaylet
