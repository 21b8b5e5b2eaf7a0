#pragma once

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

}  // namespace quaylet
