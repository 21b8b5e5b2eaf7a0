#include "core/support/TrailingDigest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "core/errors/CancellationError.h"
#include "core/support/SystemError.h"

namespace quaylet {
namespace {

constexpr std::size_t kChunkSize = 1024 * 1024;

}  // namespace

TrailingDigest::TrailingDigest(int descriptor, std::filesystem::path path, std::int64_t written)
    : descriptor_(descriptor),
      path_(std::move(path)),
      written_(written),
      thread_([this](std::stop_token stop) { hash(stop); }) {}

TrailingDigest::~TrailingDigest() = default;

void TrailingDigest::appended(std::int64_t count) {
    {
        std::lock_guard lock(mutex_);
        written_ += count;
    }
    changed_.notify_all();
}

std::string TrailingDigest::finish(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    finishing_ = true;
    changed_.notify_all();
    changed_.wait(lock, stop, [this] { return hashed_ == written_ || failure_; });
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    throwIfStopRequested(stop);
    return digest_.hexDigest();
}

void TrailingDigest::hash(std::stop_token stop) {
    std::vector<char> chunk(kChunkSize);
    std::int64_t position = 0;
    for (;;) {
        std::int64_t end = 0;
        {
            std::unique_lock lock(mutex_);
            hashed_ = position;
            changed_.notify_all();
            if (!changed_.wait(lock, stop, [&] { return written_ > position || finishing_; }) ||
                written_ == position) {
                return;
            }
            end = written_;
        }
        while (position < end) {
            if (stop.stop_requested()) {
                return;
            }
            const auto wanted = std::size_t(std::min<std::int64_t>(end - position, kChunkSize));
            const ssize_t count = ::pread(descriptor_, chunk.data(), wanted, position);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                // A file shorter than what was written to it is as unreadable as a failed read.
                const int error = count < 0 ? errno : EIO;
                std::lock_guard lock(mutex_);
                failure_ = std::make_exception_ptr(
                    systemError("Couldn’t read the download", path_, error));
                changed_.notify_all();
                return;
            }
            digest_.update(std::string_view(chunk.data(), std::size_t(count)));
            position += count;
        }
    }
}

}  // namespace quaylet
