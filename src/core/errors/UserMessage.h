#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace quaylet {

// What a file error reads as.
inline constexpr std::string_view kCacheWriteFailed =
    "Quaylet couldn’t write to its cache. Check the free space, then try again.";

// The sentence a user reads for a failure: a QuayletError's message, kCacheWriteFailed for a
// file error, or the platform error's own description. Absent for cancellation, which is
// never shown.
std::optional<std::string> userMessage(const std::exception_ptr& error);

// Whether the failure is a cancellation; false when there is none.
bool isCancellation(const std::exception_ptr& error);

}  // namespace quaylet
