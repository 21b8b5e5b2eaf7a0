#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quaylet::testing {

// Minimal process control for test helpers that need a child to outlive one call (a
// service) or to be fed and read by hand. The first argument is a path or a name looked
// up in PATH; the child inherits this process's environment.
class ChildProcess {
  public:
    // Starts the child; a descriptor of -1 leaves that stream as this process's own.
    static pid_t start(const std::vector<std::string>& arguments, int standardInput = -1,
                       int standardOutput = -1);

    // Waits for the child and returns its wait status.
    static int wait(pid_t pid);

    // Runs the child to its end and returns its standard output; throws std::runtime_error
    // when it does not exit with status 0.
    static std::string output(const std::vector<std::string>& arguments);
};

}  // namespace quaylet::testing
