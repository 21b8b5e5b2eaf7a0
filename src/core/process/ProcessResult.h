#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quaylet {

// The outcome of one finished command.
struct ProcessResult {
    std::string executable;              // exactly as the caller passed it
    std::vector<std::string> arguments;  // exactly as passed, without the executable
    std::string standardOutput;          // UTF-8, invalid sequences replaced by U+FFFD
    std::string standardError;           // likewise
    std::int32_t status = 0;             // the child's exit status
    double duration = 0;                 // seconds on the monotonic clock

    bool operator==(const ProcessResult&) const = default;
};

}  // namespace quaylet
