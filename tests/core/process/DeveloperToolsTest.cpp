#include "core/process/DeveloperTools.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/ScopedEnvironment.h"

namespace quaylet {
namespace {

using Arguments = std::vector<std::string>;

TEST(DeveloperToolsTest, EveryCommandLineRunsFromTheToolFolder) {
    const DeveloperTools tools("/usr/bin");
    const struct {
        ToolCommand command;
        ToolCommand expected;
    } cases[] = {
        {tools.selectedDeveloperDirectory(), {"/usr/bin/xcode-select", {"-p"}}},
        {tools.locateSimctl(), {"/usr/bin/xcrun", {"--find", "simctl"}}},
        {tools.machineArchitecture(), {"/usr/bin/uname", {"-m"}}},
        {tools.listSimulators(), {"/usr/bin/xcrun", {"simctl", "list", "--json"}}},
        {tools.boot("U1"), {"/usr/bin/xcrun", {"simctl", "boot", "U1"}}},
        {tools.waitUntilBooted("U1"), {"/usr/bin/xcrun", {"simctl", "bootstatus", "U1", "-b"}}},
        {tools.install("U1", "/tmp/My App.app"),
         {"/usr/bin/xcrun", {"simctl", "install", "U1", "/tmp/My App.app"}}},
        {tools.launch("U1", "dev.x"), {"/usr/bin/xcrun", {"simctl", "launch", "U1", "dev.x"}}},
        {tools.launch("U1", "dev.x", {"-flag", "a b"}),
         {"/usr/bin/xcrun", {"simctl", "launch", "U1", "dev.x", "-flag", "a b"}}},
        {tools.openURL("U1", "myapp://screen?a=1"),
         {"/usr/bin/xcrun", {"simctl", "openurl", "U1", "myapp://screen?a=1"}}},
        {tools.installedLocation("U1", "dev.x"),
         {"/usr/bin/xcrun", {"simctl", "get_app_container", "U1", "dev.x", "app"}}},
        {tools.screenshot("U1", "/tmp/s.png"),
         {"/usr/bin/xcrun", {"simctl", "io", "U1", "screenshot", "/tmp/s.png"}}},
        {tools.activateSimulator(), {"/usr/bin/open", {"-a", "Simulator"}}},
        {tools.architectures("/a/App"), {"/usr/bin/lipo", {"-archs", "/a/App"}}},
        {tools.listArchive("/a.zip"), {"/usr/bin/zipinfo", {"-1", "/a.zip"}}},
        {tools.extractArchive("/a.zip", "/out"),
         {"/usr/bin/ditto", {"-x", "-k", "--noqtn", "/a.zip", "/out"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.command, c.expected);
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
