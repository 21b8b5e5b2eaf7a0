#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>

namespace quaylet {

// Holds a build directory for one user at a time, across threads and processes alike: a
// launch and a prefetch of the same build, or the application and a `quaylet watch` in a
// terminal, would otherwise download into the same file at once, and a trim or a clearing of
// the cache would delete the app a launch is installing. The lock is the directory's own
// advisory lock, so it leaves nothing behind in the cache and a crashed holder releases it with
// its descriptors. A lock is only ever held on the directory that is at its path: one that a
// remover deleted while this waited for it is not taken.
class BuildDirectoryLock {
  public:
    // Whether a remover waits for a build that someone else holds or leaves it.
    enum class Waiting { no, untilFree };

    // For a writer: makes the directory, with its parents, when it is missing (again, when a
    // remover deletes it meanwhile) and waits until it is free. A stop ends the wait with
    // CancellationError; a directory that cannot be made or opened raises the platform's
    // file error.
    BuildDirectoryLock(const std::filesystem::path& directory, std::stop_token stop);

    // For a remover: holds the directory that is at the path now. Absent when there is none, or
    // when someone else holds it and the remover does not wait. A stop ends the wait with
    // CancellationError.
    static std::optional<BuildDirectoryLock> holdExisting(const std::filesystem::path& directory,
                                                          Waiting waiting,
                                                          std::stop_token stop = {});

    BuildDirectoryLock(BuildDirectoryLock&& other) noexcept;
    BuildDirectoryLock& operator=(BuildDirectoryLock&&) = delete;
    BuildDirectoryLock(const BuildDirectoryLock&) = delete;
    BuildDirectoryLock& operator=(const BuildDirectoryLock&) = delete;
    ~BuildDirectoryLock();

  private:
    explicit BuildDirectoryLock(int descriptor) : descriptor_(descriptor) {}

    int descriptor_ = -1;
};

}  // namespace quaylet
