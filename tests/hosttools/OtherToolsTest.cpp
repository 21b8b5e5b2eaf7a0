#include <sys/utsname.h>

#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hosttools/ToolProcess.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {
namespace {

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(HostToolsTest, AnswerTheEnvironmentQuestionsAsOnAMac) {
    TemporaryDirectory home;
    const ToolResult simctlPath = runTool("xcrun", {"--find", "simctl"}, home.path());
    ASSERT_EQ(simctlPath.status, 0) << simctlPath.standardError;
    const std::filesystem::path simctl = firstLine(simctlPath.standardOutput);
    EXPECT_EQ(simctl.filename(), "simctl");
    EXPECT_TRUE(std::filesystem::equivalent(simctl, hostToolPath("xcrun")))
        << "the printed path is a working tool";

    const ToolResult developer = runTool("xcode-select", {"-p"}, home.path());
    ASSERT_EQ(developer.status, 0) << developer.standardError;
    EXPECT_TRUE(std::filesystem::is_directory(firstLine(developer.standardOutput)));

    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    const ToolResult machine = runTool("uname", {"-m"}, home.path());
    EXPECT_EQ(machine.status, 0);
    EXPECT_EQ(machine.standardOutput, std::string(names.machine) + "\n");
}

TEST(HostToolsTest, OpeningSimulatorIsRecorded) {
    TemporaryDirectory home;
    for (int run = 0; run < 2; ++run) {
        const ToolResult result = runTool("open", {"-a", "Simulator"}, home.path());
        EXPECT_EQ(result.status, 0) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
    std::ifstream file(home.path() / "devices.json");
    EXPECT_EQ(nlohmann::json::parse(file).at("simulatorActivations"), 2);
}

TEST(HostToolsTest, RefuseWhatTheyDoNotKnowWithAUsageMessage) {
    TemporaryDirectory home;
    struct Case {
        std::string tool;
        std::vector<std::string> arguments;
        int status;
        std::string error;
    };
    const Case cases[] = {
        {"xcrun", {"--find", "clang"}, 72, "unable to find utility \"clang\""},
        {"xcrun", {"--sdk", "iphoneos"}, 1, "unrecognized option: --sdk"},
        {"xcrun", {}, 1, "Usage: xcrun"},
        {"xcode-select", {"--install"}, 1, "unknown command option '--install'"},
        {"xcode-select", {}, 1, "Usage: xcode-select"},
        {"uname", {"-z"}, 1, "usage: uname"},
        {"uname", {"m"}, 1, "usage: uname"},
        {"open", {"-a", "Finder"}, 1, "Unable to find application named 'Finder'"},
        {"open", {"file.txt"}, 1, "Usage: open"},
        {"lipo", {"-info", "x"}, 1, "usage: lipo -archs"},
        {"zipinfo", {"-l", "x.zip"}, 10, "usage: zipinfo -1"},
        {"ditto", {"-c", "-k", "a", "b"}, 1, "usage: ditto"},
        {"ditto", {"-x", "a", "b"}, 1, "usage: ditto"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool + " " + ::testing::PrintToString(c.arguments));
        const ToolResult result = runTool(c.tool, c.arguments, home.path());
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.standardError.find(c.error), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
}

}  // namespace
}  // namespace quaylet::testing
