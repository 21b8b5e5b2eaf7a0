// The emulator launcher over the adb and emulator stand-ins of this build, as a real SDK.
#include "core/android/EmulatorLauncher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "core/android/ApkInspector.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "fixtures/ApkBuilder.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Stage = RemoteLaunchStage;

class EmulatorLauncherTest : public ::testing::Test {
  protected:
    EmulatorLauncherTest() {
        for (const fs::path& tool : {sdk.adb(), sdk.emulator()}) {
            fs::create_directories(tool.parent_path());
            fs::create_symlink(fs::path(QUAYLET_HOST_TOOLS_BUILD_DIR) / "quaylet-hosttools", tool);
        }
    }
    void store(const std::vector<json>& emulators, const json& failing = json::array()) const {
        std::ofstream(folder.path() / "emulators.json")
            << json{{"emulators", emulators}, {"failing", failing}};
    }
    std::string storedText() const {
        std::ostringstream text;
        text << std::ifstream(folder.path() / "emulators.json").rdbuf();
        return text.str();
    }
    json stored() const { return json::parse(storedText()); }
    bool called(const json& commandLine) const {
        const json calls = stored().at("calls");
        return std::find(calls.begin(), calls.end(), commandLine) != calls.end();
    }
    EmulatorLaunchRequest request(const fixtures::ApkBuilder& build = {}) const {
        const fs::path apk = folder.path() / "app.apk";
        build.writeTo(apk);
        return {.apk = ApkInspector().inspect(apk, {})};
    }
    EmulatorLaunchReport launch(const EmulatorLaunchRequest& request, std::stop_token stop = {}) {
        return launcher.launch(
            request, [&](Stage stage) { stages.push_back(stage); }, stop);
    }

    testing::TemporaryDirectory folder;
    testing::ScopedEnvironment home{"QUAYLET_EMULATOR_HOME", folder.path().string()};
    AndroidSdk sdk{folder.path() / "sdk", folder.path() / "avd"};
    EmulatorLauncher launcher{ProcessRunner(), EmulatorDiscovery(ProcessRunner(), sdk),
                              folder.path() / "logs", std::chrono::milliseconds(0),
                              std::chrono::milliseconds(10)};
    std::vector<Stage> stages;
};

const json kPixel = {{"name", "Pixel_8"}, {"api", 34}, {"abi", "x86_64"}};

json pixel(const json& changes) {
    json emulator = kPixel;
    emulator.update(changes);
    return emulator;
}

// A stopped emulator boots on the first free port, its output in a log; a running one is used
// as it is. Both install, launch the launcher activity, verify, then open the URL, every word
// reaching the device's shell as it was, however hostile; a later link reaches the app only on a
// running emulator.
TEST_F(EmulatorLauncherTest, BootsWhenNeededThenInstallsLaunchesVerifiesAndOpens) {
    const std::string url = "myapp://open?a=1;b=2&c='x'$(reboot)`id`\"\\";
    const std::string component = "com.example.demo/.MainActivity";
    const json launched = {
        {"cmd", "package", "resolve-activity", "--brief", "-c", "android.intent.category.LAUNCHER",
         "com.example.demo"},
        {"am", "start", "-W", "-n", component},
        {"dumpsys", "package", "com.example.demo"},
        {"am", "start", "-W", "-a", "android.intent.action.VIEW", "-d", url, "com.example.demo"}};
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running);
        store({running ? pixel({{"port", 5556}}) : kPixel});
        stages.clear();
        EmulatorLaunchRequest wanted = request();
        wanted.openURL = url;
        if (!running) {
            EXPECT_THROW(launcher.openURL("Pixel_8", "com.example.demo", url, {}), QuayletError);
        }
        const EmulatorLaunchReport report = launch(wanted);
        launcher.openURL("Pixel_8", "com.example.demo", "myapp://again", {});

        const std::string serial = running ? "emulator-5556" : "emulator-5554";
        EXPECT_EQ(report.serial, serial);
        json shell = launched;
        if (running) {
            EXPECT_EQ(stages, (std::vector{Stage::selecting, Stage::installing, Stage::launching,
                                           Stage::running}));
        } else {
            EXPECT_EQ(stages, (std::vector{Stage::selecting, Stage::booting, Stage::installing,
                                           Stage::launching, Stage::running}));
            shell.insert(shell.begin(), json::array({"getprop", "sys.boot_completed"}));
            EXPECT_TRUE(called({"emulator", "-avd", "Pixel_8", "-port", "5554", "-no-boot-anim"}));
            std::ifstream log(folder.path() / "logs/emulator-5554.log");
            EXPECT_TRUE(log.is_open());
        }
        shell.push_back({"am", "start", "-W", "-a", "android.intent.action.VIEW", "-d",
                         "myapp://again", "com.example.demo"});
        EXPECT_EQ(stored().at("shell"), shell);
        EXPECT_TRUE(called({"adb", "-s", serial, "install", "-r", "-t", wanted.apk.apk.string()}));
    }
}

TEST_F(EmulatorLauncherTest, ShellWordsArriveWholeWhateverTheyHold) {
    store({pixel({{"port", 5554}})});
    const std::vector<std::string> words = {"echo", "a b;c&d", "it's", "$(rm -rf /)", "", "\\"};
    const ProcessResult result = ProcessRunner().run(sdk.shell("emulator-5554", words), {});
    ASSERT_EQ(result.status, 127) << result.standardError;
    EXPECT_EQ(stored().at("shell"), json{words});
}

TEST_F(EmulatorLauncherTest, RefusalsSayWhatToDo) {
    const std::string mismatch =
        "The installed app doesn’t match this build. Open Settings, clear the cache, then try "
        "again.";
    const std::function<void(EmulatorLaunchRequest&)> changes[] = {
        [](auto& r) { r.apk.packageName = "com.example.other"; },
        [](auto& r) { r.apk.versionCode = 2; },
    };
    for (const auto& change : changes) {
        store({pixel({{"port", 5554}})});
        EmulatorLaunchRequest wanted = request();
        change(wanted);
        try {
            launch(wanted);
            ADD_FAILURE() << "launched";
        } catch (const std::exception&) {
            EXPECT_EQ(userMessage(std::current_exception()), mismatch);
        }
    }
}

// A boot that never finishes ends with the stop; the emulator keeps booting.
TEST_F(EmulatorLauncherTest, StopEndsTheBootWait) {
    store({pixel({{"bootSeconds", 3600}})});
    std::stop_source source;
    const std::jthread stopper([&] {
        while (!source.stop_requested() &&
               storedText().find("sys.boot_completed") == std::string::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        source.request_stop();
    });
    EXPECT_THROW(launch(request(), source.get_token()), CancellationError);
    source.request_stop();
    EXPECT_EQ(stored().at("emulators")[0].at("port"), 5554);
}

}  // namespace
}  // namespace quaylet
