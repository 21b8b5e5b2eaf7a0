#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/process/ProcessRunner.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

inline std::filesystem::path hostToolPath(const std::string& tool) {
    return std::filesystem::path(QUAYLET_HOST_TOOLS_BUILD_DIR) / tool;
}

// The stand-in tools of this build, run as real child processes by their link names the way
// the core runs them, on a simulated device set of the test's own.
class HostToolTest : public ::testing::Test {
  protected:
    static ProcessResult run(const std::string& tool, const std::vector<std::string>& arguments) {
        return ProcessRunner().run({hostToolPath(tool).string(), arguments}, {});
    }

    TemporaryDirectory home;
    TemporaryDirectory folder;
    ScopedEnvironment simulatorHome{"QUAYLET_SIMULATOR_HOME", home.path().string()};
};

}  // namespace quaylet::testing
