#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

struct ToolResult {
    std::string standardOutput;
    std::string standardError;
    int status = -1;
};

// One stand-in tool started as a real child process (by its link name in the build's tool
// folder), with QUAYLET_SIMULATOR_HOME pointing at the given set. Output goes to files, so a
// chatty child can never block on a full pipe.
class ToolProcess {
  public:
    ToolProcess(const std::string& tool, const std::vector<std::string>& arguments,
                const std::filesystem::path& simulatorHome);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    ToolResult wait();

  private:
    TemporaryDirectory output_;
    pid_t pid_ = -1;
};

std::filesystem::path hostToolPath(const std::string& tool);

// Starts the tool and waits for it.
ToolResult runTool(const std::string& tool, const std::vector<std::string>& arguments,
                   const std::filesystem::path& simulatorHome);

}  // namespace quaylet::testing
