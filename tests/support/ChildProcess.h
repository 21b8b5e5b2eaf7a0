#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace quaylet::testing {

// Process control for test helpers whose child outlives one call (a service) or is fed and
// read by hand; a command run to its end goes through ProcessRunner instead. The first argument is
// a path or a name looked up in PATH; the child inherits this process's environment.
class ChildProcess {
  public:
    // Starts the child; a descriptor of -1 leaves that stream as this process's own.
    static pid_t start(const std::vector<std::string>& arguments, int standardInput = -1,
                       int standardOutput = -1, int standardError = -1);

    // Waits for the child and returns its wait status.
    static int wait(pid_t pid);

    // A pipe whose ends close on exec: {reading end, writing end}.
    static std::pair<int, int> pipe();
    // Reads up to the next newline (dropped) or the end of the stream.
    static std::string readLine(int descriptor);
};

}  // namespace quaylet::testing
