// The Android road end to end: quaylet opens an Android build from the loopback service, or an
// .apk from disk, on the stand-in adb and emulator over an emulator set of each case's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/CommandLineHarness.h"
#include "fixtures/ApkBuilder.h"
#include "support/ProcessState.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;

const json kPixel = {{"name", "Pixel_8"}, {"api", 34}, {"abi", "x86_64"}};
const json kRunning = {{"name", "Pixel_8"}, {"api", 34}, {"abi", "x86_64"}, {"port", 5556}};
const json kBooting = {{"name", "Pixel_8"}, {"api", 34}, {"abi", "x86_64"}, {"bootSeconds", 3600}};
// Shell syntax throughout; a space can only come percent-encoded, as URLs are checked first.
const std::string kURL = "demo://open?a=%20b;c=2&d='e'$(reboot)`id`";

class AndroidRoadTest : public testing::CommandLineHarness {
  protected:
    AndroidRoadTest() {
        publish("pr-android", {"--android"});
        const fs::path tools = fs::path(QUAYLET_CLI_PROGRAM).parent_path() /
                               "../libexec/quaylet/host-tools/quaylet-hosttools";
        for (const char* tool : {"platform-tools/adb", "emulator/emulator"}) {
            fs::create_directories((sdk / tool).parent_path());
            fs::create_symlink(tools, sdk / tool);
        }
        added = {{"ANDROID_HOME", sdk.string()},
                 {"ANDROID_AVD_HOME", (user.path() / "emulators/avd").string()},
                 {"QUAYLET_EMULATOR_HOME", (user.path() / "emulators").string()}};
        signIn();
    }
    void store(const json& emulators, const json& failing = json::array()) const {
        fs::create_directories(user.path() / "emulators");
        std::ofstream(user.path() / "emulators/emulators.json")
            << json{{"emulators", emulators}, {"failing", failing}};
    }
    json stored() const {
        return json::parse(std::ifstream(user.path() / "emulators/emulators.json"));
    }

    const fs::path sdk = user.path() / "sdk";
};

TEST_F(AndroidRoadTest, OpensOnTheRightEmulatorOrSaysWhyNot) {
    const std::string apk = (user.path() / "riscv.apk").string();
    fixtures::ApkBuilder{.nativeLibraries = {"lib/riscv64/libdemo.so"}}.writeTo(apk);
    const std::string demoApk = (builds.path() / "pr-android/artifact.apk").string();
    const std::string link = "quaylet://preview/pr-android";
    const std::vector<std::string> open = {"open", link};
    const std::string noEmulator = "No Android emulator can run this build. It needs API 24";
    const json boot = {"emulator", "-avd", "Pixel_8", "-port", "5554", "-no-boot-anim"};
    const std::vector<std::string> view = {
        "am", "start", "-W", "-a", "android.intent.action.VIEW", "-d", kURL, "dev.quaylet.demo"};
    const std::vector<std::string> both = {"open",    link,         "--emulator",
                                           "Pixel_6", "--emulator", "Pixel_9"};
    const json pixel6 = {{"name", "Pixel_6"}, {"api", 30}, {"abi", "x86_64"}};
    const std::string named =
        "Running in Pixel_6\nCouldn’t run in Pixel_9: No Android emulator has";
    const struct {
        json emulators;
        json failing;
        std::vector<std::string> arguments;
        int status;
        std::string output;
        json call = nullptr;  // a recorded command line, or words the device's shell ran
        std::string bundleId = "dev.quaylet.demo";  // the manifest's
        std::string preferred = "";                 // the "preferredEmulator" setting
    } cases[] = {
        {{kPixel}, {}, open, 0, "Choosing an emulator · step 3 of 5\nStarting the emulator", boot},
        {{kRunning}, {}, {"open", link, "--open-url", kURL}, 0, "Running in Pixel_8", view},
        {{kRunning, pixel6}, {}, both, 1, named},
        {{kRunning, pixel6}, {}, open, 0, "Running in Pixel_6", {}, "dev.quaylet.demo", "Pixel_6"},
        {{kRunning, pixel6}, {}, {"run", demoApk}, 0, "Running in Pixel_6", {}, "", "Pixel_6"},
        {{kRunning}, {"adb -s emulator-5556 install"}, open, 1, "The app couldn’t be installed."},
        {{kPixel}, {"emulator -avd"}, open, 1, "The Android emulator couldn’t start."},
        {{kRunning}, {}, {"run", apk}, 1, noEmulator},
        {{kRunning}, {}, open, 1, "This download doesn’t match", nullptr, "com.example.other"},
        {{kRunning}, {}, {"open", link, "--launch-arg", "-x"}, 2, "apply to iOS builds only."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        store(c.emulators, c.failing);
        quaylet({"settings", "preferredEmulator", c.preferred});
        editManifest("pr-android", {{"bundleId", c.bundleId}});
        const ProcessResult result = quaylet(c.arguments);
        EXPECT_EQ(result.status, c.status) << result.standardError;
        EXPECT_THAT(result.standardOutput + result.standardError, HasSubstr(c.output));
        if (!c.call.is_null()) {
            const json recorded = stored();
            json ran = recorded.value("calls", json::array());
            const json shell = recorded.value("shell", json::array());
            ran.insert(ran.end(), shell.begin(), shell.end());
            EXPECT_THAT(ran, ::testing::Contains(c.call));
        }
    }
}

// The machine check lists the SDK's emulators after the iOS verdict, which they never change.
TEST_F(AndroidRoadTest, TheMachineCheckListsTheEmulators) {
    store(json::array({kRunning, {{"name", "Pixel_6"}, {"api", 30}, {"abi", "x86_64"}}}));
    EXPECT_THAT(quaylet({"doctor"}).standardOutput,
                ::testing::ContainsRegex("Android\n  SDK folder +" + sdk.string() +
                                         "\n  adb +.+\n  Emulator +.+\n"
                                         "  Pixel_8 +API 34 · Running as emulator-5556\n"
                                         "  Pixel_6 +API 30 · Not running\n"));
    const json android = json::parse(quaylet({"doctor", "--json"}).standardOutput).at("android");
    EXPECT_EQ(android.at("installed"), true);
    EXPECT_EQ(android.at("emulators").size(), 2u);
}

// A build no emulator here can run, by its manifest's claims, is never downloaded nor cached.
TEST_F(AndroidRoadTest, RefusesBeforeTheDownloadWhatNoEmulatorCanRun) {
    store(json::array({kRunning}));
    const std::string link = "quaylet://preview/pr-android";
    for (const auto& [claims, arguments] : std::vector<std::pair<json, std::vector<std::string>>>{
             {{{"minimumOSVersion", "35"}}, {"open", link}},  // Pixel_8 has API 34
             {{{"architectures", {"riscv64"}}}, {"open", link}},
             {{{"architectures", {"riscv64"}}}, {"open", link, "--emulator", "Pixel_8"}}}) {
        publish("pr-android", {"--android"});  // afresh, with these claims alone
        editManifest("pr-android", claims);
        const ProcessResult result = quaylet(arguments);
        EXPECT_THAT(result.standardOutput + result.standardError, HasSubstr("can run this build."));
        EXPECT_EQ(httplib::Client(service.baseURL()).Get("/dev/artifact-ranges")->body, "[]");
        EXPECT_FALSE(fs::exists(user.path() / "cache/dev.quaylet.Quaylet/pr-android"));
    }
}

// Ctrl-C while the emulator boots: quaylet ends, and no tool it ran is left running.
TEST_F(AndroidRoadTest, CtrlCWhileTheEmulatorBootsLeavesNoToolRunning) {
    store(json::array({kBooting}));
    const auto [child, output] = start({"open", "quaylet://preview/pr-android"});
    while (stored().value("shell", json::array()).empty() && testing::isRunning(child)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(interrupt(child, output).second, 130);
    const std::string mark = "QUAYLET_EMULATOR_HOME=" + (user.path() / "emulators").string();
    for (const auto& process : fs::directory_iterator("/proc")) {
        std::ifstream environ(process.path() / "environ");
        const std::string text{std::istreambuf_iterator<char>(environ), {}};
        EXPECT_EQ(text.find(mark + '\0'), std::string::npos) << process.path() << " still runs";
    }
}

}  // namespace
}  // namespace quaylet
