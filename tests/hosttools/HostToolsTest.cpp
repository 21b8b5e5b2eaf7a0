#include <sys/utsname.h>
#include <zlib.h>

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

    static json device(const std::string& udid) {
        const json document = listing();
        for (const auto& [runtime, devices] : document.at("devices").items()) {
            for (const json& entry : devices) {
                if (entry.at("udid") == udid) {
                    return entry;
                }
            }
        }
        ADD_FAILURE() << "no device " << udid;
        return {};
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

TEST_F(HostToolsTest, AnswerTheEnvironmentQuestionsAsOnAMac) {
    const ProcessResult simctlPath = run("xcrun", {"--find", "simctl"});
    ASSERT_EQ(simctlPath.status, 0) << simctlPath.standardError;
    const std::filesystem::path simctl = firstLine(simctlPath.standardOutput);
    EXPECT_EQ(simctl.filename(), "simctl");
    EXPECT_TRUE(std::filesystem::equivalent(simctl, hostToolPath("xcrun")))
        << "the printed path is a working tool";

    const ProcessResult developer = run("xcode-select", {"-p"});
    ASSERT_EQ(developer.status, 0) << developer.standardError;
    EXPECT_TRUE(std::filesystem::is_directory(firstLine(developer.standardOutput)));

    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(run("uname", {"-m"}).standardOutput, std::string(names.machine) + "\n");
}

TEST_F(HostToolsTest, SeedsARealisticDeviceSetOnFirstUse) {
    const json document = listing();
    for (const char* section : {"devicetypes", "runtimes", "devices", "pairs"}) {
        EXPECT_TRUE(document.contains(section)) << section;
    }
    std::vector<std::string> platforms;
    for (const json& runtime : document.at("runtimes")) {
        for (const char* key : {"identifier", "name", "version", "buildversion", "bundlePath"}) {
            EXPECT_TRUE(runtime.at(key).is_string()) << key;
        }
        EXPECT_TRUE(runtime.at("isAvailable").get<bool>());
        platforms.push_back(runtime.at("platform"));
    }
    EXPECT_GE(std::ranges::count(platforms, "iOS"), 2);
    EXPECT_GE(std::ranges::count(platforms, "tvOS"), 1);

    const std::regex upperCaseUuid(
        "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::string names;
    int unavailable = 0;
    for (const auto& [runtime, devices] : document.at("devices").items()) {
        for (const json& entry : devices) {
            EXPECT_TRUE(std::regex_match(entry.at("udid").get<std::string>(), upperCaseUuid));
            EXPECT_EQ(entry.at("state"), "Shutdown");
            names += entry.at("name").get<std::string>() + "\n";
            unavailable += !entry.at("isAvailable").get<bool>();
        }
    }
    EXPECT_EQ(unavailable, 1);
    for (const char* kind : {"iPhone [^P\n]*\n", "iPhone .*Pro", "iPad"}) {
        EXPECT_TRUE(std::regex_search(names, std::regex(kind))) << kind << " in " << names;
    }
    EXPECT_EQ(listing(), document) << "the seed is kept, not made again";
}

TEST_F(HostToolsTest, ListsAHandWrittenInventory) {
    useInventory(kInventory);
    const json document = listing();
    const json& devices = document.at("devices");
    EXPECT_EQ(devices.at("com.apple.CoreSimulator.SimRuntime.iOS-18-0"), json::array())
        << "a runtime without devices still gets its list";
    const json& pad = devices.at("com.apple.CoreSimulator.SimRuntime.iOS-17-5").at(1);
    EXPECT_EQ(pad.at("udid"), kPad);
    EXPECT_EQ(pad.at("name"), "iPad Pro");
    EXPECT_EQ(pad.at("state"), "Booted");
    const json& orphan = devices.at("com.apple.CoreSimulator.SimRuntime.iOS-14-0").at(0);
    EXPECT_EQ(orphan.at("udid"), kOrphan);
    EXPECT_FALSE(orphan.at("isAvailable").get<bool>());
    EXPECT_FALSE(document.at("runtimes")[1].contains("platform"))
        << "an absent platform stays absent";

    json broken = kInventory;
    broken["devices"][1]["udid"] = 7;
    useInventory(broken);
    const ProcessResult damaged = simctl({"list", "--json"});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.standardError.find("devices[1].udid must be a string"), std::string::npos)
        << damaged.standardError;
}

TEST_F(HostToolsTest, TakesAnAppFromBootToLaunchWithoutRunningIt) {
    useInventory(kInventory);
    EXPECT_EQ(simctl({"boot", kPhone}).status, 0);
    EXPECT_EQ(device(kPhone).at("state"), "Booted");
    EXPECT_TRUE(device(kPhone).at("lastBootedAt").is_string());
    EXPECT_EQ(simctl({"bootstatus", kPhone, "-b"}).status, 0);
    EXPECT_EQ(simctl({"launch", kPhone, kBundleId}).status, 4) << "not installed yet";

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
    EXPECT_TRUE(std::filesystem::exists(first / "Demo"));
    const std::filesystem::path installed =
        install(makeApp("Two", fixtures::AppBundleBuilder().fixtureVersion("2")));
    EXPECT_FALSE(std::filesystem::exists(first)) << "a reinstall removes the earlier copy";
    std::ifstream info(installed / "Info.plist");
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(info), {}).find("<string>2</string>"),
              std::string::npos);

    const ProcessResult launched = simctl({"launch", kPhone, kBundleId});
    ASSERT_EQ(launched.status, 0) << launched.standardError;
    EXPECT_TRUE(std::regex_match(launched.standardOutput,
                                 std::regex(std::string(kBundleId) + ": [1-9][0-9]*\n")))
        << launched.standardOutput;
    EXPECT_EQ(simctl({"launch", kPhone, kBundleId}).standardOutput, launched.standardOutput)
        << "a running app keeps its pid";
    EXPECT_FALSE(std::filesystem::exists(marker())) << "the app's code must never run";

    // The app keeps what its latest launch gave it, so a test can see what reached it.
    {
        const ScopedEnvironment feature("SIMCTL_CHILD_FEATURE", "on=1");
        const ScopedEnvironment ours("QUAYLET_NOT_FOR_THE_APP", "x");
        ASSERT_EQ(simctl({"launch", kPhone, kBundleId, "-screen", "a b"}).status, 0);
    }
    ASSERT_EQ(simctl({"openurl", kPhone, "demo://screen?id=1"}).status, 0);
    const json phone = stored().at("devices")[0];
    EXPECT_EQ(phone.at("openedURLs"), json::array({"demo://screen?id=1"}));
    EXPECT_EQ(phone.at("apps")[0].at("launchArguments"), json::array({"-screen", "a b"}));
    EXPECT_EQ(phone.at("apps")[0].at("launchEnvironment"), json::object({{"FEATURE", "on=1"}}));

    EXPECT_EQ(simctl({"shutdown", kPhone}).status, 0);
    EXPECT_EQ(device(kPhone).at("state"), "Shutdown");
}

// Every tool answers a command line it does not take, or a state that forbids it, with the
// Mac tool's status and message, nothing on standard output, and no change to the device set.
TEST_F(HostToolsTest, RefuseWithTheMacToolsStatusesAndMessages) {
    useInventory(kInventory);
    const json before = stored();
    const std::string badPlistApp =
        makeApp("Numeric", fixtures::AppBundleBuilder().set("CFBundleIdentifier", std::int64_t{7}));
    const std::string noPlistApp = (folder.path() / "Empty.app").string();
    std::filesystem::create_directories(noPlistApp);
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
        {"xcrun", {"simctl", "launch", unknown, kBundleId}, 148, "Invalid device: " + unknown},
        {"xcrun",
         {"simctl", "boot", kOrphan},
         149,
         "Unable to boot device because it is unavailable"},
        {"xcrun", {"simctl", "bootstatus", kOrphan}, 149, "because it is unavailable"},
        {"xcrun",
         {"simctl", "shutdown", kPhone},
         149,
         "Unable to shutdown device in current state: Shutdown"},
        {"xcrun",
         {"simctl", "install", kPhone, goodApp},
         149,
         "Unable to lookup in current state: Shutdown"},
        {"xcrun", {"simctl", "launch", kPhone, kBundleId}, 149, "current state: Shutdown"},
        {"xcrun", {"simctl", "launch", kPad, kBundleId}, 4, kBundleId},
        {"xcrun", {"simctl", "install", kPad, missing}, 2, "An application bundle was not found"},
        {"xcrun", {"simctl", "install", kPad, noPlistApp}, 13, "CFBundleIdentifier"},
        {"xcrun", {"simctl", "install", kPad, badPlistApp}, 13, "CFBundleIdentifier"},
        {"xcrun", {"simctl", "get_app_container", kPad, kBundleId, "app"}, 2, "is not installed"},
        {"xcrun",
         {"simctl", "get_app_container", kPad, kBundleId, "data"},
         64,
         "Usage: simctl get_app_container"},
        {"xcrun", {"simctl", "io", kPhone, "screenshot", "x.png"}, 149, "current state: Shutdown"},
        {"xcrun", {"simctl", "io", kPad, "recordVideo", "x.mov"}, 64, "Usage: simctl io"},
        {"xcrun", {"simctl", "launch", kPad}, 64, "Usage: simctl launch"},
        {"xcrun", {"simctl", "openurl", kPhone, "demo://x"}, 149, "current state: Shutdown"},
        {"xcrun", {"simctl", "openurl", kPad}, 64, "Usage: simctl openurl"},
        {"xcrun", {"simctl", "list"}, 64, "JSON"},
        {"xcrun", {"simctl", "frobnicate"}, 64, "Unrecognized subcommand: frobnicate"},
        {"xcrun", {"simctl"}, 64, "Usage: simctl"},
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
        {"lipo", {"-archs", missing}, 1, "can't open input file: " + missing},
        {"lipo", {"-archs", goodApp}, 1, "can't figure out the architecture type of: " + goodApp},
        {"lipo",
         {"-archs", goodApp + "/Info.plist"},
         1,
         "can't figure out the architecture type of: "},
        {"zipinfo", {"-l", "x.zip"}, 10, "usage: zipinfo -1"},
        {"zipinfo", {"-1", missing}, 9, "zipinfo: "},
        {"zipinfo", {"-1", goodApp + "/Info.plist"}, 9, "zipinfo: "},
        {"zipinfo", {"-1", goodApp}, 9, "zipinfo: "},
        {"ditto", {"-c", "-k", "a", "b"}, 1, "usage: ditto"},
        {"ditto", {"-x", "a", "b"}, 1, "usage: ditto"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool + " " + ::testing::PrintToString(c.arguments));
        const ProcessResult result = run(c.tool, c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.standardError.find(c.error), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
        if (c.tool == "lipo") {
            EXPECT_TRUE(result.standardError.starts_with("fatal error: ")) << result.standardError;
        }
    }
    EXPECT_EQ(stored(), before) << "refusals change nothing";
}

TEST_F(HostToolsTest, ScreenshotIsAValidPng) {
    useInventory(kInventory);
    const std::filesystem::path file = folder.path() / "shot.png";
    const ProcessResult result = simctl({"io", kPad, "screenshot", file.string()});
    ASSERT_EQ(result.status, 0) << result.standardError;

    std::ifstream input(file, std::ios::binary);
    const std::string png{std::istreambuf_iterator<char>(input), {}};
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const auto number = [&](std::size_t offset) {
        std::uint32_t value = 0;
        for (std::size_t index = 0; index < 4; ++index) {
            value = (value << 8) | static_cast<std::uint8_t>(png.at(offset + index));
        }
        return value;
    };
    std::vector<std::string> types;
    std::string imageData;
    for (std::size_t offset = 8; offset < png.size();) {
        const std::uint32_t length = number(offset);
        const std::string type = png.substr(offset + 4, 4);
        const auto* chunk = reinterpret_cast<const Bytef*>(png.data() + offset + 4);
        EXPECT_EQ(number(offset + 8 + length), crc32(0L, chunk, length + 4)) << type;
        types.push_back(type);
        imageData += type == "IDAT" ? png.substr(offset + 8, length) : "";
        offset += 12 + length;
    }
    ASSERT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    const std::uint32_t width = number(16);
    const std::uint32_t height = number(20);
    EXPECT_GT(width * height, 0u);
    uLongf size = height * (1 + 3 * width);
    std::vector<Bytef> pixels(size);
    ASSERT_EQ(uncompress(pixels.data(), &size, reinterpret_cast<const Bytef*>(imageData.data()),
                         static_cast<uLong>(imageData.size())),
              Z_OK);
    EXPECT_EQ(size, height * (1 + 3 * width)) << "every scanline present, nothing more";
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
    for (const std::string& udid : udids) {
        EXPECT_EQ(device(udid).at("state"), "Booted") << udid;
    }
    EXPECT_EQ(stored().at("simulatorActivations"), udids.size());
}

TEST_F(HostToolsTest, BootStatusWaitsForAnotherProcessToBoot) {
    useInventory(kInventory);
    auto waiting =
        std::async(std::launch::async, simctl, std::vector<std::string>{"bootstatus", kPhone});
    EXPECT_EQ(simctl({"boot", kPhone}).status, 0);
    const ProcessResult result = waiting.get();
    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("Monitoring boot status for iPhone 15"),
              std::string::npos);
}

}  // namespace
}  // namespace quaylet::testing
