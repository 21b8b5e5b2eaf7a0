#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "core/support/Sha256.h"

namespace quaylet {

// The SHA-256 of a file that is being appended to, computed on a thread of its own that reads
// the written bytes back behind the writer. Hashing beside the writing instead of in turn
// with it takes the digest off a download's path on a machine with a second core.
class TrailingDigest {
  public:
    // Hashes the file open at descriptor from its start; the first `written` bytes are
    // already there. The descriptor must stay open until this object is gone; the path only
    // names the file in errors.
    TrailingDigest(int descriptor, std::filesystem::path path, std::int64_t written);
    // Stops the hashing thread and waits for it.
    ~TrailingDigest();
    TrailingDigest(const TrailingDigest&) = delete;
    TrailingDigest& operator=(const TrailingDigest&) = delete;

    // The writer has added count bytes at the end.
    void appended(std::int64_t count);

    // Waits for the thread to catch up with the writer and returns the digest of all the
    // bytes as 64 lower-case hexadecimal digits. A read that failed is thrown here, as
    // std::filesystem::filesystem_error; a stop, as CancellationError.
    std::string finish(std::stop_token stop);

  private:
    void hash(std::stop_token stop);

    const int descriptor_;
    const std::filesystem::path path_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::int64_t written_;        // guarded by mutex_
    std::int64_t hashed_ = 0;     // guarded by mutex_
    bool finishing_ = false;      // guarded by mutex_
    std::exception_ptr failure_;  // guarded by mutex_
    Sha256 digest_;               // the thread's until it has caught up with a finish
    std::jthread thread_;         // last, so that it starts once the rest is made
};

}  // namespace quaylet
