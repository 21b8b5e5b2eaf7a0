#pragma once

#include <sys/types.h>

#include <filesystem>
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

    // Starts the command in a session of its own, so that it outlives this process and a
    // closing terminal, with its output appended to log and nothing on its input; returns its
    // pid without waiting. Cancelling a launch never ends such a child.
    pid_t startInOwnSession(const ToolCommand& command, const std::filesystem::path& log) const;

    // The exit status of a child startInOwnSession started, once it has exited (it is then
    // reaped and must not be asked again); absent while it runs. A child nobody asks again
    // after it ends stays a zombie until this process ends: a small price for an emulator,
    // which is meant to run for as long as the person uses it.
    static std::optional<std::int32_t> exitStatusIfExited(pid_t child);
};

}  // namespace quaylet
