#pragma once

#include <filesystem>
#include <stop_token>

namespace quaylet {

// Holds a build directory for one writer of its archive at a time, across threads and
// processes alike: a launch and a prefetch of the same build, or the application and a
// `quaylet watch` in a terminal, would otherwise download into the same file at once. The
// lock is the directory's own advisory lock, so it leaves nothing behind in the cache and a
// crashed holder releases it with its descriptors.
class BuildDirectoryLock {
  public:
    // Waits until the directory is free; a stop ends the wait with CancellationError. A
    // directory that cannot be opened raises the platform's file error.
    BuildDirectoryLock(const std::filesystem::path& directory, std::stop_token stop);
    ~BuildDirectoryLock();
    BuildDirectoryLock(const BuildDirectoryLock&) = delete;
    BuildDirectoryLock& operator=(const BuildDirectoryLock&) = delete;

  private:
    int descriptor_ = -1;
};

}  // namespace quaylet
