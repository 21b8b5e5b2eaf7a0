#include "core/service/BuildDirectoryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <utility>

#include "core/errors/CancellationError.h"
#include "core/support/SystemError.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// flock has no wait that a stop can end, so a busy directory is tried again at this pace;
// the holder is downloading, so a few milliseconds more do not matter.
constexpr std::chrono::milliseconds kRetryPace{25};
// A writer makes the directory again this often when removers keep deleting it under it.
constexpr int kWriterAttempts = 3;

// The descriptor of the directory at the path, locked; -1 when nothing is there, or when it
// is held and `wait` is false. A directory deleted (or replaced) while this waited counts as
// nothing there: its removal has already begun.
int lockDirectory(const fs::path& directory, bool wait, std::stop_token stop) {
    const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT) {
            return -1;
        }
        throw systemError("The build folder cannot be opened", directory, errno);
    }
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ::close(descriptor);
            throw systemError("The build folder cannot be locked", directory, error);
        }
        if (!wait) {
            ::close(descriptor);
            return -1;
        }
        try {
            waitUnlessStopped(kRetryPace, stop);
        } catch (const CancellationError&) {
            ::close(descriptor);
            throw;
        }
    }
    struct stat held {};
    struct stat atPath {};
    if (::fstat(descriptor, &held) != 0 || ::lstat(directory.c_str(), &atPath) != 0 ||
        held.st_dev != atPath.st_dev || held.st_ino != atPath.st_ino) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

}  // namespace

BuildDirectoryLock::BuildDirectoryLock(const fs::path& directory, std::stop_token stop) {
    for (int attempt = 1; descriptor_ < 0; ++attempt) {
        // A remover may delete the directory, or its emptied parent, between its making and
        // its locking; then it is made again.
        std::error_code made;
        fs::create_directories(directory, made);
        const bool last = attempt == kWriterAttempts;
        if (made && (last || made != std::errc::no_such_file_or_directory)) {
            throw fs::filesystem_error("The build folder cannot be made", directory, made);
        }
        descriptor_ = lockDirectory(directory, true, stop);
        if (descriptor_ < 0 && last) {
            throw systemError("The build folder keeps being removed", directory, ENOENT);
        }
    }
}

std::optional<BuildDirectoryLock> BuildDirectoryLock::holdExisting(const fs::path& directory,
                                                                   Waiting waiting,
                                                                   std::stop_token stop) {
    const int descriptor = lockDirectory(directory, waiting == Waiting::untilFree, stop);
    if (descriptor < 0) {
        return std::nullopt;
    }
    return BuildDirectoryLock(descriptor);
}

BuildDirectoryLock::BuildDirectoryLock(BuildDirectoryLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

BuildDirectoryLock::~BuildDirectoryLock() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);  // closing the last descriptor releases the lock
    }
}

}  // namespace quaylet
