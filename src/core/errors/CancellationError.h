#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <stop_token>

namespace quaylet {

// Raised when the caller's stop token ends an operation. Never shown to a user.
class CancellationError : public std::runtime_error {
  public:
    CancellationError() : std::runtime_error("The operation was canceled.") {}
};

// Throws CancellationError when stop has been requested.
inline void throwIfStopRequested(const std::stop_token& stop) {
    if (stop.stop_requested()) {
        throw CancellationError();
    }
}

// Waits for the duration; a stop ends the wait at once with CancellationError.
inline void waitUnlessStopped(std::chrono::steady_clock::duration duration,
                              const std::stop_token& stop) {
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, duration, [] { return false; });
    throwIfStopRequested(stop);
}

}  // namespace quaylet
