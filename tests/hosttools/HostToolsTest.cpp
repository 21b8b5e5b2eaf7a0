#include <algorithm>
#include <fstream>
#include <future>
#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fixtures/AppBundleBuilder.h"
#include "hosttools/HostToolTest.h"

namespace quaylet::testing {
namespace {

using nlohmann::json;

constexpr const char* kPhone = "11111111-1111-4111-8111-111111111111";
constexpr const char* kPad = "22222222-2222-4222-8222-222222222222";
constexpr const char* kOrphan = "33333333-3333-4333-8333-333333333333";
constexpr const char* kBundleId = "com.example.Demo";  // the fixture bundles' own

// A known inventory, written the way a user or a test sets one up.
const json kInventory = json::parse(R"({
  "runtimes": [
    {"identifier": "com.apple.CoreSimulator.SimRuntime.iOS-17-5", "name": "iOS 17.5",
     "version": "17.5", "isAvailable": true, "platform": "iOS"},
    {"identifier": "com.apple.CoreSimulator.SimRuntime.iOS-18-0", "name": "iOS 18.0",
     "version": "18.0", "isAvailable": true}
  ],
  "devices": [
    {"udid": "11111111-1111-4111-8111-111111111111", "name": "iPhone 15", "state": "Shutdown",
     "isAvailable": true, "runtime": "com.apple.CoreSimulator.SimRuntime.iOS-17-5"},
    {"udid": "22222222-2222-4222-8222-222222222222", "name": "iPad Pro", "state": "Booted",
     "isAvailable": true, "runtime": "com.apple.CoreSimulator.SimRuntime.iOS-17-5"},
    {"udid": "33333333-3333-4333-8333-333333333333", "name": "iPhone 12", "state": "Shutdown",
     "isAvailable": false, "runtime": "com.apple.CoreSimulator.SimRuntime.iOS-14-0"}
  ]
})");

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

class HostToolsTest : public HostToolTest {
  protected:
    void useInventory(const json& inventory) {
        std::ofstream(home.path() / "devices.json") << inventory.dump();
    }
    json stored() const { return json::parse(std::ifstream(home.path() / "devices.json")); }

    static ProcessResult simctl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "simctl");
        return run("xcrun", arguments);
    }

    static json listing() {
        const ProcessResult result = simctl({"list", "--json"});
        EXPECT_EQ(result.status, 0) << result.standardError;
        return json::parse(result.standardOutput);
    }

    // A bundle in its own folder whose program would leave a mark if anything ever ran it.
    std::string makeApp(const std::string& where,
                        fixtures::AppBundleBuilder bundle = fixtures::AppBundleBuilder()) {
        const std::filesystem::path app =
            bundle.withoutExecutable().writeInto(folder.path() / where);
        std::ofstream(app / "Demo") << "#!/bin/sh\ntouch '" << marker().string() << "'\n";
        std::filesystem::permissions(app / "Demo", std::filesystem::perms::owner_all);
        return app.string();
    }

    std::filesystem::path marker() const { return folder.path() / "the-app-ran"; }
};

// The command line's tests run on the seed; here, what they take for granted of it.
TEST_F(HostToolsTest, SeedsADeviceSetOnFirstUseAndKeepsIt) {
    const json document = listing();
    int shutDown = 0;
    int unavailable = 0;
    for (const auto& [runtime, devices] : document.at("devices").items()) {
        for (const json& entry : devices) {
            shutDown += entry.at("state") == "Shutdown";
            unavailable += !entry.at("isAvailable").get<bool>();
        }
    }
    EXPECT_GT(shutDown, 1);
    EXPECT_EQ(unavailable, 1);
    EXPECT_EQ(listing(), document) << "the seed is kept, not made again";
}

// The command line's tests list hand-written inventories; here, one the tool cannot read.
TEST_F(HostToolsTest, NamesTheFieldOfADamagedInventory) {
    json broken = kInventory;
    broken["devices"][1]["udid"] = 7;
    useInventory(broken);
    const ProcessResult damaged = simctl({"list", "--json"});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.standardError.find("devices[1].udid must be a string"), std::string::npos)
        << damaged.standardError;
}

// Launch options reaching the app are the command line's test; here, the device's life.
TEST_F(HostToolsTest, TakesAnAppFromBootToLaunchWithoutRunningIt) {
    useInventory(kInventory);
    EXPECT_EQ(simctl({"boot", kPhone}).status, 0);
    EXPECT_EQ(simctl({"bootstatus", kPhone, "-b"}).status, 0);
    const auto install = [&](const std::string& app) {
        EXPECT_EQ(simctl({"install", kPhone, app}).status, 0);
        const ProcessResult container = simctl({"get_app_container", kPhone, kBundleId, "app"});
        EXPECT_EQ(container.status, 0) << container.standardError;
        return std::filesystem::path(firstLine(container.standardOutput));
    };
    const std::filesystem::path first = install(
        makeApp("One", fixtures::AppBundleBuilder().plistFormat(fixtures::PlistFormat::binary)) +
        "/");
    EXPECT_EQ(first.filename(), "Demo.app") << "read from a binary property list";
    EXPECT_TRUE(first.string().starts_with(home.path().string())) << "inside the device set";
    install(makeApp("Two"));
    EXPECT_FALSE(std::filesystem::exists(first)) << "a reinstall removes the earlier copy";

    const ProcessResult launched = simctl({"launch", kPhone, kBundleId});
    ASSERT_EQ(launched.status, 0) << launched.standardError;
    EXPECT_TRUE(std::regex_match(launched.standardOutput,
                                 std::regex(std::string(kBundleId) + ": [1-9][0-9]*\n")))
        << launched.standardOutput;
    EXPECT_EQ(simctl({"launch", kPhone, kBundleId}).standardOutput, launched.standardOutput)
        << "a running app keeps its pid";
    EXPECT_FALSE(std::filesystem::exists(marker())) << "the app's code must never run";
    EXPECT_EQ(simctl({"shutdown", kPhone}).status, 0);
    EXPECT_EQ(stored().at("devices")[0].at("state"), "Shutdown");
}

// Every tool answers a command line it does not take, or a state that forbids it, with the
// Mac tool's status and message, nothing on standard output, and no change to the device set.
TEST_F(HostToolsTest, RefuseWithTheMacToolsStatusesAndMessages) {
    useInventory(kInventory);
    const json before = stored();
    const std::string badPlistApp =
        makeApp("Numeric", fixtures::AppBundleBuilder().set("CFBundleIdentifier", std::int64_t{7}));
    const std::string goodApp = makeApp("Good");
    const std::string missing = (folder.path() / "Missing.app").string();
    const std::string unknown = "44444444-4444-4444-8444-444444444444";

    const struct {
        std::string tool;
        std::vector<std::string> arguments;
        int status;
        std::string error;
    } cases[] = {
        {"xcrun", {"simctl", "boot", kPad}, 149, "Unable to boot device in current state: Booted"},
        {"xcrun", {"simctl", "boot", unknown}, 148, "Invalid device: " + unknown},
        {"xcrun", {"simctl", "boot", kOrphan}, 149, "because it is unavailable"},
        {"xcrun", {"simctl", "install", kPhone, goodApp}, 149, "current state: Shutdown"},
        {"xcrun", {"simctl", "install", kPad, missing}, 2, "An application bundle was not found"},
        {"xcrun", {"simctl", "install", kPad, badPlistApp}, 13, "CFBundleIdentifier"},
        {"xcrun", {"simctl", "launch", kPad, kBundleId}, 4, kBundleId},
        {"xcrun", {"simctl", "get_app_container", kPad, kBundleId, "app"}, 2, "is not installed"},
        {"xcrun", {"simctl", "io", kPhone, "screenshot", "x.png"}, 149, "current state: Shutdown"},
        {"xcrun", {"simctl", "frobnicate"}, 64, "Unrecognized subcommand: frobnicate"},
        {"xcrun", {"--find", "clang"}, 72, "unable to find utility \"clang\""},
        {"xcode-select", {}, 1, "Usage: xcode-select"},
        {"uname", {"-z"}, 1, "usage: uname"},
        {"open", {"-a", "Finder"}, 1, "Unable to find application named 'Finder'"},
        {"lipo", {"-archs", goodApp}, 1, "can't figure out the architecture type of: " + goodApp},
        {"zipinfo", {"-1", goodApp + "/Info.plist"}, 9, "zipinfo: "},
        {"ditto", {"-x", "a", "b"}, 1, "usage: ditto"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool + " " + ::testing::PrintToString(c.arguments));
        const ProcessResult result = run(c.tool, c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.standardError.find(c.error), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_EQ(stored(), before) << "refusals change nothing";
}

TEST_F(HostToolsTest, ScreenshotIsWrittenWhereAsked) {
    useInventory(kInventory);
    const std::filesystem::path file = folder.path() / "shot.png";
    const ProcessResult result = simctl({"io", kPad, "screenshot", file.string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    std::ifstream input(file, std::ios::binary);
    const std::string png{std::istreambuf_iterator<char>(input), {}};
    EXPECT_EQ(png.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
    EXPECT_TRUE(png.ends_with("IEND\xae\x42\x60\x82"));
}

TEST_F(HostToolsTest, ConcurrentChangesAreAllKept) {
    json inventory = kInventory;
    std::vector<std::string> udids;
    for (int index = 0; index < 6; ++index) {
        udids.push_back("55555555-5555-4555-8555-00000000000" + std::to_string(index));
        inventory["devices"].push_back(
            {{"udid", udids.back()},
             {"name", "iPhone " + std::to_string(index)},
             {"state", "Shutdown"},
             {"isAvailable", true},
             {"runtime", "com.apple.CoreSimulator.SimRuntime.iOS-18-0"}});
    }
    useInventory(inventory);
    std::vector<std::future<ProcessResult>> processes;
    for (const std::string& udid : udids) {
        processes.push_back(
            std::async(std::launch::async, simctl, std::vector<std::string>{"boot", udid}));
        processes.push_back(std::async(std::launch::async, run, "open",
                                       std::vector<std::string>{"-a", "Simulator"}));
    }
    for (auto& process : processes) {
        const ProcessResult result = process.get();
        EXPECT_EQ(result.status, 0) << result.standardError;
    }
    const json devices = stored().at("devices");
    EXPECT_EQ(
        std::ranges::count(devices, "Booted", [](const json& entry) { return entry.at("state"); }),
        udids.size() + 1)
        << "the iPad was booted already";
    EXPECT_EQ(stored().at("simulatorActivations"), udids.size());
}

}  // namespace
}  // namespace quaylet::testing
