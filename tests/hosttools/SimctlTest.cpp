#include <plist/plist.h>
#include <zlib.h>

#include <fstream>
#include <regex>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hosttools/ToolProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {
namespace {

using nlohmann::json;

constexpr const char* kPhone = "11111111-1111-4111-8111-111111111111";
constexpr const char* kPad = "22222222-2222-4222-8222-222222222222";
constexpr const char* kOrphan = "33333333-3333-4333-8333-333333333333";
constexpr const char* kBundleId = "com.example.demo";

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

class SimctlTest : public ::testing::Test {
  protected:
    void useInventory(const json& inventory) {
        std::ofstream(home_.path() / "devices.json") << inventory.dump();
    }

    ToolResult simctl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "simctl");
        return runTool("xcrun", arguments, home_.path());
    }

    json listing() {
        const ToolResult result = simctl({"list", "--json"});
        EXPECT_EQ(result.status, 0) << result.standardError;
        return json::parse(result.standardOutput);
    }

    json device(const std::string& udid) {
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

    // An app bundle with a program that would leave a mark if anything ever ran it.
    std::filesystem::path makeApp(const std::string& name, plist_t info, bool binary = false) {
        const std::filesystem::path app = apps_.path() / name;
        std::filesystem::create_directories(app);
        char* bytes = nullptr;
        std::uint32_t length = 0;
        binary ? plist_to_bin(info, &bytes, &length) : plist_to_xml(info, &bytes, &length);
        std::ofstream(app / "Info.plist", std::ios::binary).write(bytes, length);
        std::free(bytes);
        plist_free(info);
        std::ofstream(app / "Demo") << "#!/bin/sh\ntouch '" << marker().string() << "'\n";
        std::filesystem::permissions(app / "Demo", std::filesystem::perms::owner_all);
        return app;
    }

    std::filesystem::path makeApp(const std::string& name, const std::string& bundleId,
                                  const std::string& fixtureVersion = "1") {
        plist_t info = plist_new_dict();
        plist_dict_set_item(info, "CFBundleIdentifier", plist_new_string(bundleId.c_str()));
        plist_dict_set_item(info, "CFBundleExecutable", plist_new_string("Demo"));
        plist_dict_set_item(info, "QuayletFixtureVersion",
                            plist_new_string(fixtureVersion.c_str()));
        return makeApp(name, info);
    }

    std::filesystem::path marker() const { return apps_.path() / "the-app-ran"; }

    TemporaryDirectory home_;
    TemporaryDirectory apps_;
};

TEST_F(SimctlTest, SeedsARealisticDeviceSetOnFirstUse) {
    const json document = listing();
    for (const char* section : {"devicetypes", "runtimes", "devices", "pairs"}) {
        EXPECT_TRUE(document.contains(section)) << section;
    }
    std::set<std::string> platforms;
    int iosRuntimes = 0;
    for (const json& runtime : document.at("runtimes")) {
        for (const char* key : {"identifier", "name", "version", "buildversion", "bundlePath"}) {
            EXPECT_TRUE(runtime.at(key).is_string()) << key;
        }
        EXPECT_TRUE(runtime.at("isAvailable").get<bool>());
        platforms.insert(runtime.at("platform").get<std::string>());
        iosRuntimes += runtime.at("platform") == "iOS";
    }
    EXPECT_GE(iosRuntimes, 2);
    EXPECT_TRUE(platforms.contains("tvOS"));

    const std::regex upperCaseUuid(
        "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> names;
    int unavailable = 0;
    for (const auto& [runtime, devices] : document.at("devices").items()) {
        for (const json& entry : devices) {
            EXPECT_TRUE(std::regex_match(entry.at("udid").get<std::string>(), upperCaseUuid));
            EXPECT_EQ(entry.at("state"), "Shutdown");
            names.insert(entry.at("name").get<std::string>());
            unavailable += !entry.at("isAvailable").get<bool>();
        }
    }
    EXPECT_EQ(unavailable, 1);
    const auto hasName = [&](const std::string& part, const std::string& without = "\x01") {
        return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return name.find(part) != std::string::npos && name.find(without) == std::string::npos;
        });
    };
    EXPECT_TRUE(hasName("iPhone", "Pro"));
    EXPECT_TRUE(hasName("iPhone 1") && hasName("Pro"));
    EXPECT_TRUE(hasName("iPad"));

    EXPECT_EQ(listing(), document) << "the seed is kept, not made again";
}

TEST_F(SimctlTest, ListsAHandWrittenInventory) {
    useInventory(kInventory);
    const json document = listing();
    const json& devices = document.at("devices");
    EXPECT_EQ(devices.at("com.apple.CoreSimulator.SimRuntime.iOS-18-0"), json::array())
        << "a runtime without devices still gets its list";
    ASSERT_EQ(devices.at("com.apple.CoreSimulator.SimRuntime.iOS-17-5").size(), 2u);
    const json& pad = devices.at("com.apple.CoreSimulator.SimRuntime.iOS-17-5")[1];
    EXPECT_EQ(pad.at("udid"), kPad);
    EXPECT_EQ(pad.at("name"), "iPad Pro");
    EXPECT_EQ(pad.at("state"), "Booted");
    const json& orphan = devices.at("com.apple.CoreSimulator.SimRuntime.iOS-14-0").at(0);
    EXPECT_EQ(orphan.at("udid"), kOrphan);
    EXPECT_FALSE(orphan.at("isAvailable").get<bool>());
    EXPECT_FALSE(document.at("runtimes")[1].contains("platform"))
        << "an absent platform stays absent";
}

TEST_F(SimctlTest, TakesAnAppFromBootToLaunchWithoutRunningIt) {
    useInventory(kInventory);
    EXPECT_EQ(simctl({"boot", kPhone}).status, 0);
    EXPECT_EQ(device(kPhone).at("state"), "Booted");
    EXPECT_TRUE(device(kPhone).at("lastBootedAt").is_string());

    const ToolResult again = simctl({"boot", kPhone});
    EXPECT_EQ(again.status, 149);
    EXPECT_NE(again.standardError.find("Unable to boot device in current state: Booted"),
              std::string::npos)
        << again.standardError;
    EXPECT_EQ(simctl({"bootstatus", kPhone, "-b"}).status, 0);

    const std::filesystem::path app = makeApp("Demo.app", kBundleId);
    const ToolResult launchFirst = simctl({"launch", kPhone, kBundleId});
    EXPECT_EQ(launchFirst.status, 4) << "launch requires an installed app";
    EXPECT_NE(launchFirst.standardError.find(kBundleId), std::string::npos);

    ASSERT_EQ(simctl({"install", kPhone, app.string() + "/"}).status, 0);
    const ToolResult container = simctl({"get_app_container", kPhone, kBundleId, "app"});
    ASSERT_EQ(container.status, 0) << container.standardError;
    const std::filesystem::path installed =
        container.standardOutput.substr(0, container.standardOutput.size() - 1);
    EXPECT_EQ(installed.filename(), "Demo.app");
    EXPECT_NE(installed.string().find(home_.path().string()), std::string::npos)
        << "installed inside the device set";
    EXPECT_TRUE(std::filesystem::exists(installed / "Info.plist"));
    EXPECT_TRUE(std::filesystem::exists(installed / "Demo"));

    const ToolResult launched = simctl({"launch", kPhone, kBundleId});
    ASSERT_EQ(launched.status, 0) << launched.standardError;
    const std::regex pidLine(std::string(kBundleId) + ": ([1-9][0-9]*)\n");
    std::smatch pid;
    ASSERT_TRUE(std::regex_match(launched.standardOutput, pid, pidLine)) << launched.standardOutput;
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
    const json stored = json::parse(std::ifstream(home_.path() / "devices.json"));
    EXPECT_EQ(stored.at("devices")[0].at("openedURLs"), json::array({"demo://screen?id=1"}));
    const json& launchedApp = stored.at("devices")[0].at("apps")[0];
    EXPECT_EQ(launchedApp.at("launchArguments"), json::array({"-screen", "a b"}));
    EXPECT_EQ(launchedApp.at("launchEnvironment"), json::object({{"FEATURE", "on=1"}}));

    EXPECT_EQ(simctl({"shutdown", kPhone}).status, 0);
    EXPECT_EQ(device(kPhone).at("state"), "Shutdown");
    const ToolResult launchShutDown = simctl({"launch", kPhone, kBundleId});
    EXPECT_EQ(launchShutDown.status, 149);
    EXPECT_NE(launchShutDown.standardError.find("current state: Shutdown"), std::string::npos);
}

TEST_F(SimctlTest, ReinstallReplacesTheEarlierCopy) {
    useInventory(kInventory);
    const auto containerOf = [&] {
        const std::string out = simctl({"get_app_container", kPad, kBundleId}).standardOutput;
        return std::filesystem::path(out.substr(0, out.size() - 1));
    };
    ASSERT_EQ(simctl({"install", kPad, makeApp("One/Demo.app", kBundleId, "1").string()}).status,
              0);
    const std::filesystem::path first = containerOf();
    ASSERT_EQ(simctl({"install", kPad, makeApp("Two/Demo.app", kBundleId, "2").string()}).status,
              0);
    const std::filesystem::path second = containerOf();
    EXPECT_NE(first, second);
    EXPECT_FALSE(std::filesystem::exists(first)) << "the earlier copy is removed";
    std::ifstream info(second / "Info.plist");
    const std::string text{std::istreambuf_iterator<char>(info), {}};
    EXPECT_NE(text.find("<string>2</string>"), std::string::npos);
}

TEST_F(SimctlTest, InstallReadsBinaryPropertyLists) {
    useInventory(kInventory);
    plist_t info = plist_new_dict();
    plist_dict_set_item(info, "CFBundleIdentifier", plist_new_string("com.example.binary"));
    ASSERT_EQ(simctl({"install", kPad, makeApp("Binary.app", info, true).string()}).status, 0);
    EXPECT_EQ(simctl({"get_app_container", kPad, "com.example.binary", "app"}).status, 0);
}

TEST_F(SimctlTest, RefusesWithTheToolsStatusesAndMessages) {
    useInventory(kInventory);
    plist_t numericId = plist_new_dict();
    plist_dict_set_item(numericId, "CFBundleIdentifier", plist_new_uint(7));
    const std::string badPlistApp = makeApp("Numeric.app", numericId).string();
    const std::string noPlistApp = (apps_.path() / "Empty.app").string();
    std::filesystem::create_directories(noPlistApp);
    const std::string goodApp = makeApp("Good.app", kBundleId).string();
    const std::string missingApp = (apps_.path() / "Missing.app").string();
    const std::string unknown = "44444444-4444-4444-8444-444444444444";

    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string error;
    };
    const Case cases[] = {
        {{"boot", unknown}, 148, "Invalid device: " + unknown},
        {{"launch", unknown, kBundleId}, 148, "Invalid device: " + unknown},
        {{"boot", kOrphan}, 149, "Unable to boot device because it is unavailable"},
        {{"bootstatus", kOrphan}, 149, "Unable to boot device because it is unavailable"},
        {{"shutdown", kPhone}, 149, "Unable to shutdown device in current state: Shutdown"},
        {{"install", kPhone, goodApp}, 149, "Unable to lookup in current state: Shutdown"},
        {{"install", kPad, missingApp}, 2, "An application bundle was not found"},
        {{"install", kPad, noPlistApp}, 13, "CFBundleIdentifier"},
        {{"install", kPad, badPlistApp}, 13, "CFBundleIdentifier"},
        {{"get_app_container", kPad, kBundleId, "app"}, 2, "is not installed"},
        {{"get_app_container", kPad, kBundleId, "data"}, 64, "Usage: simctl get_app_container"},
        {{"io", kPhone, "screenshot", "x.png"}, 149, "current state: Shutdown"},
        {{"io", kPad, "recordVideo", "x.mov"}, 64, "Usage: simctl io"},
        {{"launch", kPad}, 64, "Usage: simctl launch"},
        {{"openurl", kPhone, "demo://x"}, 149, "current state: Shutdown"},
        {{"openurl", kPad}, 64, "Usage: simctl openurl"},
        {{"list"}, 64, "JSON"},
        {{"frobnicate"}, 64, "Unrecognized subcommand: frobnicate"},
        {{}, 64, "Usage: simctl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const ToolResult result = simctl(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.standardError.find(c.error), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_EQ(device(kPad).at("state"), "Booted") << "refusals change nothing";
}

TEST_F(SimctlTest, ScreenshotIsAValidPng) {
    useInventory(kInventory);
    const std::filesystem::path file = apps_.path() / "shot.png";
    const ToolResult result = simctl({"io", kPad, "screenshot", file.string()});
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
    std::string header;
    std::string imageData;
    for (std::size_t offset = 8; offset < png.size();) {
        const std::uint32_t length = number(offset);
        const std::string type = png.substr(offset + 4, 4);
        const std::string data = png.substr(offset + 8, length);
        const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(png.data() + offset + 4),
                                static_cast<uInt>(length + 4));
        EXPECT_EQ(number(offset + 8 + length), crc) << type;
        types.push_back(type);
        (type == "IHDR" ? header : imageData) += data;
        offset += 12 + length;
    }
    ASSERT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    const std::uint32_t width = number(8 + 8);
    const std::uint32_t height = number(8 + 12);
    EXPECT_GT(width, 0u);
    EXPECT_GT(height, 0u);
    uLongf size = height * (1 + 3 * width);
    std::vector<Bytef> pixels(size);
    ASSERT_EQ(uncompress(pixels.data(), &size, reinterpret_cast<const Bytef*>(imageData.data()),
                         static_cast<uLong>(imageData.size())),
              Z_OK);
    EXPECT_EQ(size, height * (1 + 3 * width)) << "every scanline present, nothing more";
}

TEST_F(SimctlTest, ReportsADamagedDeviceSetByKeyPath) {
    json broken = kInventory;
    broken["devices"][1]["udid"] = 7;
    useInventory(broken);
    const ToolResult result = simctl({"list", "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find("devices[1].udid must be a string"), std::string::npos)
        << result.standardError;
}

TEST_F(SimctlTest, ConcurrentChangesAreAllKept) {
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
    std::vector<std::unique_ptr<ToolProcess>> processes;
    for (const std::string& udid : udids) {
        processes.push_back(std::make_unique<ToolProcess>(
            "xcrun", std::vector<std::string>{"simctl", "boot", udid}, home_.path()));
        processes.push_back(std::make_unique<ToolProcess>(
            "open", std::vector<std::string>{"-a", "Simulator"}, home_.path()));
    }
    for (const auto& process : processes) {
        const ToolResult result = process->wait();
        EXPECT_EQ(result.status, 0) << result.standardError;
    }
    for (const std::string& udid : udids) {
        EXPECT_EQ(device(udid).at("state"), "Booted") << udid;
    }
    std::ifstream file(home_.path() / "devices.json");
    EXPECT_EQ(json::parse(file).at("simulatorActivations"), udids.size());
}

TEST_F(SimctlTest, BootStatusWaitsForAnotherProcessToBoot) {
    useInventory(kInventory);
    ToolProcess waiting("xcrun", {"simctl", "bootstatus", kPhone}, home_.path());
    EXPECT_EQ(simctl({"boot", kPhone}).status, 0);
    const ToolResult result = waiting.wait();
    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("Monitoring boot status for iPhone 15"),
              std::string::npos);
}

}  // namespace
}  // namespace quaylet::testing
