#include "core/process/DeveloperTools.h"

#include <gtest/gtest.h>

#include "support/ScopedEnvironment.h"

namespace quaylet {
namespace {

// The stand-in tools read the other command lines on every launch, and the screenshot's is the
// simulator launcher's test.
TEST(DeveloperToolsTest, EveryCommandLineRunsFromTheToolFolder) {
    const DeveloperTools tools("/usr/bin");
    EXPECT_EQ(tools.install("U1", "/tmp/My App.app"),
              (ToolCommand{"/usr/bin/xcrun", {"simctl", "install", "U1", "/tmp/My App.app"}}));
    EXPECT_EQ(tools.activateSimulator(), (ToolCommand{"/usr/bin/open", {"-a", "Simulator"}}));
    EXPECT_EQ(tools.extractArchive("/a.zip", "/out"),
              (ToolCommand{"/usr/bin/ditto", {"-x", "-k", "--noqtn", "/a.zip", "/out"}}));
}

TEST(DeveloperToolsTest, FolderComesFromTheOverrideOnlyWhenAbsolute) {
    const testing::ScopedEnvironment unset("QUAYLET_HOST_TOOLS_DIR", std::nullopt);
    const auto installed = DeveloperTools::forThisHost().directory();
    const testing::ScopedEnvironment relative("QUAYLET_HOST_TOOLS_DIR", "relative/tools");
    EXPECT_EQ(DeveloperTools::forThisHost().directory(), installed);
}

}  // namespace
}  // namespace quaylet
