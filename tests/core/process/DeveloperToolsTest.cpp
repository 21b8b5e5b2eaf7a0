#include "core/process/DeveloperTools.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/ScopedEnvironment.h"

namespace quaylet {
namespace {

// Each command line as the words it runs, separated by "|", from the tool folder.
TEST(DeveloperToolsTest, EveryCommandLineRunsFromTheToolFolder) {
    const DeveloperTools tools("/usr/bin");
    const std::pair<ToolCommand, std::string> cases[] = {
        {tools.selectedDeveloperDirectory(), "xcode-select|-p"},
        {tools.locateSimctl(), "xcrun|--find|simctl"},
        {tools.machineArchitecture(), "uname|-m"},
        {tools.listSimulators(), "xcrun|simctl|list|--json"},
        {tools.boot("U1"), "xcrun|simctl|boot|U1"},
        {tools.waitUntilBooted("U1"), "xcrun|simctl|bootstatus|U1|-b"},
        {tools.install("U1", "/tmp/My App.app"), "xcrun|simctl|install|U1|/tmp/My App.app"},
        {tools.launch("U1", "dev.x"), "xcrun|simctl|launch|U1|dev.x"},
        {tools.launch("U1", "dev.x", {"-flag", "a b"}), "xcrun|simctl|launch|U1|dev.x|-flag|a b"},
        {tools.openURL("U1", "myapp://s?a=1"), "xcrun|simctl|openurl|U1|myapp://s?a=1"},
        {tools.installedLocation("U1", "dev.x"), "xcrun|simctl|get_app_container|U1|dev.x|app"},
        {tools.screenshot("U1", "/tmp/s.png"), "xcrun|simctl|io|U1|screenshot|/tmp/s.png"},
        {tools.activateSimulator(), "open|-a|Simulator"},
        {tools.architectures("/a/App"), "lipo|-archs|/a/App"},
        {tools.listArchive("/a.zip"), "zipinfo|-1|/a.zip"},
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

TEST(DeveloperToolsTest, AppEnvironmentTravelsPrefixedOnTopOfOurs) {
    EXPECT_EQ(DeveloperTools::launchEnvironment({}), std::nullopt) << "ours, unchanged";
    const testing::ScopedEnvironment ours("QUAYLET_TEST_OURS", "kept");
    const auto environment = DeveloperTools::launchEnvironment({{"FLAG", "on=1"}, {"E", ""}});
    ASSERT_TRUE(environment);
    EXPECT_EQ(environment->at("QUAYLET_TEST_OURS"), "kept");
    EXPECT_EQ(environment->at("SIMCTL_CHILD_FLAG"), "on=1");
    EXPECT_EQ(environment->at("SIMCTL_CHILD_E"), "");
    EXPECT_FALSE(environment->contains("FLAG"));
}

TEST(DeveloperToolsTest, FolderComesFromTheOverrideOnlyWhenAbsolute) {
    {
        const testing::ScopedEnvironment env("QUAYLET_HOST_TOOLS_DIR", "/opt/scripted");
        EXPECT_EQ(DeveloperTools::forThisHost().directory(), "/opt/scripted");
    }
    const testing::ScopedEnvironment unset("QUAYLET_HOST_TOOLS_DIR", std::nullopt);
    const auto installed = DeveloperTools::forThisHost().directory();
    {
        const testing::ScopedEnvironment relative("QUAYLET_HOST_TOOLS_DIR", "relative/tools");
        EXPECT_EQ(DeveloperTools::forThisHost().directory(), installed);
    }
    // Beside the running program, as in an installation: <prefix>/bin and
    // <prefix>/libexec/quaylet/host-tools.
    char program[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", program, sizeof program - 1), 0);
    EXPECT_EQ(installed, std::filesystem::path(program).parent_path().parent_path() / "libexec" /
                             "quaylet" / "host-tools");
}

}  // namespace
}  // namespace quaylet
