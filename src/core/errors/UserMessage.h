#pragma once

#include <exception>
#include <optional>
#include <string>

namespace quaylet {

// The sentence a user reads for a failure: a QuayletError's message, or the platform
// error's own description. Absent for cancellation, which is never shown.
std::optional<std::string> userMessage(const std::exception_ptr& error);

// Whether the failure is a cancellation; false when there is none.
bool isCancellation(const std::exception_ptr& error);

}  // namespace quaylet
