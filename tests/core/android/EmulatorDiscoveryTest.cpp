#include "core/android/EmulatorDiscovery.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

#include "core/errors/QuayletError.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& file, const std::string& contents,
               fs::perms mode = fs::perms(0644)) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
    fs::permissions(file, mode);
}

TEST(EmulatorDiscoveryTest, SdkAndAvdFoldersFollowTheVariablesInOrder) {
    using Variables = std::map<std::string, std::string>;
    const std::pair<Variables, AndroidSdk> cases[] = {
        {{}, AndroidSdk("/home/u/Android/Sdk", "/home/u/.android/avd")},
        {{{"ANDROID_HOME", "/a"}, {"ANDROID_SDK_ROOT", "/b"}, {"ANDROID_USER_HOME", "/u"}},
         AndroidSdk("/a", "/u/avd")},
        {{{"ANDROID_HOME", "relative"},
          {"ANDROID_SDK_ROOT", "/b"},
          {"ANDROID_AVD_HOME", "/v"},
          {"ANDROID_USER_HOME", "/u"}},
         AndroidSdk("/b", "/v")},
        {{{"ANDROID_HOME", ""}, {"ANDROID_AVD_HOME", "avd"}},
         AndroidSdk("/home/u/Android/Sdk", "/home/u/.android/avd")},
    };
    for (const auto& [variables, expected] : cases) {
        const auto lookup = [&](const char* name) -> std::optional<std::string> {
            const auto found = variables.find(name);
            return found != variables.end() ? std::optional(found->second) : std::nullopt;
        };
        EXPECT_EQ(AndroidSdk::fromEnvironment(lookup, "/home/u"), expected);
    }
}

TEST(EmulatorDiscoveryTest, ReadsEachAvdsFilesAndMatchesRunningEmulatorsByName) {
    const testing::TemporaryDirectory folder;
    const AndroidSdk sdk(folder.path() / "sdk", folder.path() / "avd");
    const auto script = [](const std::string& body) { return "#!/bin/sh\n" + body + "\n"; };
    writeFile(sdk.emulator(), script("printf 'Pixel_8\\nTablet\\n../escape\\nBare\\n'"),
              fs::perms(0755));
    writeFile(sdk.adb(), script(R"(case "$*" in
devices) printf 'List of devices attached\nemulator-5554\tdevice\nemulator-5556\toffline\n'
         printf 'emulator-5558\tdevice\nR58M123\tdevice\n\n' ;;
"-s emulator-5554 emu avd name") printf 'Tablet\r\nOK\r\n' ;;
"-s emulator-5556 emu avd name" | "-s R58M123 emu avd name") echo Pixel_8 ;;
*) echo Bare; exit 1 ;;
esac)"),
              fs::perms(0755));
    writeFile(sdk.avdFolder() / "Pixel_8.ini", "target = android-34\n");
    writeFile(sdk.avdFolder() / "Pixel_8.avd/config.ini", "hw.lcd.width=1080\nabi.type=x86_64\n");
    writeFile(sdk.avdFolder() / "Tablet.ini",
              "path=" + (folder.path() / "elsewhere").string() + "\ntarget=android-30\n");
    writeFile(folder.path() / "elsewhere/config.ini", "abi.type = arm64-v8a\r\n");
    writeFile(sdk.avdFolder() / "Bare.ini", "target=android-UpsideDownCake\n");

    EXPECT_EQ(EmulatorDiscovery(ProcessRunner(), sdk).emulators({}),
              (std::vector<AndroidEmulator>{{"Pixel_8", 34, "x86_64", {}},
                                            {"Tablet", 30, "arm64-v8a", "emulator-5554"},
                                            {"Bare", {}, {}, {}}}));
    writeFile(sdk.adb(), script("exit 1"), fs::perms(0755));
    EXPECT_THROW(EmulatorDiscovery(ProcessRunner(), sdk).emulators({}), QuayletError);
}

// The diagnostics' view over the stand-in tools: never a failure, each gap a sentence.
TEST(EmulatorDiscoveryTest, EnvironmentListsTheSdkOrSaysWhatIsMissing) {
    using nlohmann::json;
    const json pixel = {{"name", "Pixel_8"}, {"api", 34}, {"abi", "x86_64"}, {"port", 5554}};
    const json old = {{"name", "Old"}, {"api", 30}, {"abi", "x86_64"}};
    const AndroidEmulator runningPixel{"Pixel_8", 34, "x86_64", "emulator-5554"};
    const AndroidEmulator stoppedOld{"Old", 30, "x86_64", {}};
    const struct {
        bool sdk;
        json emulators;
        json failing;
        AndroidEnvironment expected;
    } cases[] = {
        {false,
         json::array(),
         json::array(),
         {.notice = "Android SDK isn’t installed. Install Android Studio, then create an "
                    "emulator."}},
        {true,
         {pixel, old},
         json::array(),
         {.adbVersion = "1.0.41",
          .emulatorVersion = "35.2.10.0",
          .emulators = {runningPixel, stoppedOld}}},
        {true,
         json::array(),
         {"emulator -version"},
         {.adbVersion = "1.0.41",
          .notice = "No Android emulators are set up. Create one in Android Studio’s Device "
                    "Manager."}},
        {true,
         {pixel},
         {"adb"},
         {.emulatorVersion = "35.2.10.0",
          .notice = "Android emulators couldn’t be listed. Check the SDK’s adb and emulator "
                    "tools, then try again."}},
    };
    for (const auto& [sdkPresent, emulators, failing, expected] : cases) {
        const testing::TemporaryDirectory folder;
        const testing::ScopedEnvironment home("QUAYLET_EMULATOR_HOME", folder.path().string());
        std::ofstream(folder.path() / "emulators.json")
            << json{{"emulators", emulators}, {"failing", failing}};
        const AndroidSdk sdk(folder.path() / "sdk", folder.path() / "avd");
        for (const fs::path& tool :
             sdkPresent ? std::vector{sdk.adb(), sdk.emulator()} : std::vector<fs::path>{}) {
            fs::create_directories(tool.parent_path());
            fs::create_symlink(fs::path(QUAYLET_HOST_TOOLS_BUILD_DIR) / "quaylet-hosttools", tool);
        }
        AndroidEnvironment wanted = expected;
        wanted.sdkFolder = sdk.folder().string();
        wanted.isInstalled = sdkPresent;
        EXPECT_EQ(EmulatorDiscovery(ProcessRunner(), sdk).environment({}), wanted) << failing;
    }
}

}  // namespace
}  // namespace quaylet
