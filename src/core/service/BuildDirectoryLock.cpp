#include "core/service/BuildDirectoryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "core/errors/CancellationError.h"

namespace quaylet {
namespace {

// flock has no wait that a stop can end, so a busy directory is tried again at this pace;
// the holder is downloading, so a few milliseconds more do not matter.
constexpr std::chrono::milliseconds kRetryPace{25};

}  // namespace

BuildDirectoryLock::BuildDirectoryLock(const std::filesystem::path& directory, std::stop_token stop)
    : descriptor_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (descriptor_ < 0) {
        throw std::filesystem::filesystem_error("The build folder cannot be opened", directory,
                                                std::error_code(errno, std::generic_category()));
    }
    while (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ::close(descriptor_);
            throw std::filesystem::filesystem_error(
                "The build folder cannot be locked", directory,
                std::error_code(error, std::generic_category()));
        }
        try {
            waitUnlessStopped(kRetryPace, stop);
        } catch (const CancellationError&) {
            ::close(descriptor_);
            throw;
        }
    }
}

BuildDirectoryLock::~BuildDirectoryLock() {
    ::close(descriptor_);  // closing the last descriptor releases the lock
}

}  // namespace quaylet
