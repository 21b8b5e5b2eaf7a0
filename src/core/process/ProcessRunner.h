#pragma once

#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/process/ProcessResult.h"

namespace quaylet {

// A command line: an absolute executable path and its argument vector.
struct ToolCommand {
    std::string executable;
    std::vector<std::string> arguments;

    bool operator==(const ToolCommand&) const = default;
};

using Environment = std::map<std::string, std::string>;

// Runs external tools by absolute path, capturing their output, status and duration.
// Stateless: safe to call from any thread, concurrently.
class ProcessRunner {
  public:
    // Runs the command and returns its result whatever its exit status. environment, when
    // present, is the child's whole environment. Stopping the token terminates the child and
    // throws CancellationError.
    ProcessResult run(const ToolCommand& command, std::stop_token stop,
                      const std::optional<Environment>& environment = std::nullopt) const;

    // As run, but a non-zero status raises QuayletError::commandFailed.
    ProcessResult runChecked(const ToolCommand& command, std::stop_token stop,
                             const std::optional<Environment>& environment = std::nullopt) const;
};

}  // namespace quaylet
