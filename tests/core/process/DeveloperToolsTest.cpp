#include "core/process/DeveloperTools.h"

#include <gtest/gtest.h>

#include "support/ScopedEnvironment.h"

namespace quaylet {
namespace {

// Each command line's words joined by "|"; the stand-in tools read the others on every launch.
TEST(DeveloperToolsTest, EveryCommandLineRunsFromTheToolFolder) {
    const DeveloperTools tools("/usr/bin");
    const std::pair<ToolCommand, std::string> cases[] = {
        {tools.boot("U1"), "xcrun|simctl|boot|U1"},
        {tools.install("U1", "/tmp/My App.app"), "xcrun|simctl|install|U1|/tmp/My App.app"},
        {tools.launch("U1", "dev.x", {"-flag", "a b"}), "xcrun|simctl|launch|U1|dev.x|-flag|a b"},
        {tools.openURL("U1", "myapp://s?a=1"), "xcrun|simctl|openurl|U1|myapp://s?a=1"},
        {tools.screenshot("U1", "/tmp/s.png"), "xcrun|simctl|io|U1|screenshot|/tmp/s.png"},
        {tools.activateSimulator(), "open|-a|Simulator"},
        {tools.extractArchive("/a.zip", "/out"), "ditto|-x|-k|--noqtn|/a.zip|/out"},
    };
    for (const auto& [command, words] : cases) {
        std::string joined = command.executable;
        for (const std::string& argument : command.arguments) {
            joined += "|" + argument;
        }
        EXPECT_EQ(joined, "/usr/bin/" + words);
    }
}

TEST(DeveloperToolsTest, FolderComesFromTheOverrideOnlyWhenAbsolute) {
    const testing::ScopedEnvironment unset("QUAYLET_HOST_TOOLS_DIR", std::nullopt);
    const auto installed = DeveloperTools::forThisHost().directory();
    const testing::ScopedEnvironment relative("QUAYLET_HOST_TOOLS_DIR", "relative/tools");
    EXPECT_EQ(DeveloperTools::forThisHost().directory(), installed);
}

}  // namespace
}  // namespace quaylet
