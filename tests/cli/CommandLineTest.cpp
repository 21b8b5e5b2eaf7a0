// The quaylet program end to end, as a person in a terminal uses it: real processes against
// the loopback preview service, the stand-in simulator tools and a private keyring.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/CommandLineHarness.h"
#include "core/errors/CancellationError.h"
#include "core/process/ProcessRunner.h"
#include "core/service/BuildCache.h"
#include "core/support/BundleIdentifier.h"
#include "core/support/InternetDateTime.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/ChildProcess.h"
#include "support/ProcessState.h"
#include "support/ScriptedTools.h"
#include "support/Signpost.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using nlohmann::json;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using testing::readUntil;
using ::testing::StartsWith;

constexpr const char* kPreviewLink = "quaylet://preview/pr-demo";
constexpr const char* kMissingInformation =
    "This build is missing app information. Rebuild it in GitHub Actions, then try again.\n";

class CommandLineTest : public testing::CommandLineHarness {
  protected:
    CommandLineTest() { publish("pr-demo"); }

    std::filesystem::path localApp() const {
        return fixtures::AppBundleBuilder("Local.app")
            .displayName("Local Demo")
            .elfExecutableForHost()
            .writeInto(user.path());
    }
};

TEST_F(CommandLineTest, AFreshUserSignsInOpensBuildsAndSignsOut) {
    ProcessResult result = quaylet({"open", kPreviewLink});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.standardError, "Sign in once to open this private build\n");
    EXPECT_EQ(quaylet({"open", "quaylet://auth?code=planted-by-a-web-page"}).status, 1)
        << "a sign-in Quaylet did not start is refused";

    result = quaylet({"sign-in", "--no-browser"});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_THAT(result.standardOutput,
                HasSubstr(service.baseURL() + "/api/v1/auth/github?client=mac\n"));
    result = quaylet({"open", signInLink()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, "Signed in with GitHub\n");

    result = quaylet({"open", kPreviewLink});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_THAT(result.standardOutput, HasSubstr("Getting the build · step 2 of 5 · "));
    EXPECT_THAT(result.standardOutput, EndsWith("Quaylet Demo\nRunning in iPhone 16 Pro\n"));

    // Again, from the cache onto the running device: nothing downloaded, nothing started.
    result = quaylet({"open", kPreviewLink, "--timings"});
    EXPECT_THAT(result.standardOutput,
                ::testing::ContainsRegex("Running in iPhone 16 Pro\nPrepared in [0-9.]+ s · "
                                         "Installed in [0-9.]+ s · Opened in [0-9.]+ s\n$"));
    result = quaylet({"open", kPreviewLink, "--json"});
    ASSERT_EQ(result.status, 0) << result.standardError;
    const json document = json::parse(result.standardOutput);
    EXPECT_EQ(document["outcome"], "running");
    EXPECT_EQ(document["devices"][0]["name"], "iPhone 16 Pro");
    std::vector<std::string> steps;
    for (const json& step : document["steps"]) {
        steps.push_back(step["step"]);
    }
    EXPECT_THAT(steps, ::testing::ElementsAre("manifest", "verification", "archiveCheck", "unpack",
                                              "inspection", "inspection", "selection", "install",
                                              "launch", "installedCopyCheck", "simulatorWindow"));
    std::ifstream kept(user.path() / "state" / "quaylet" / "launches.jsonl");
    std::vector<std::string> launches;
    for (std::string line; std::getline(kept, line);) {
        launches.push_back(json::parse(line)["outcome"]);
    }
    EXPECT_EQ(launches, std::vector<std::string>(3, "running")) << "each launch that started";

    result = quaylet({"diagnose", "-o", (user.path() / "d.zip").string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput,
              "Saved diagnostics to " + (user.path() / "d.zip").string() + "\n");

    result = quaylet({"sign-out"});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, "Signed out\n");
    EXPECT_EQ(quaylet({"builds"}).status, 1);
}

TEST_F(CommandLineTest, RunsALocalBuildAndChecksTheMachine) {
    const auto app = localApp();
    ProcessResult result = quaylet({"doctor", "--json"});
    EXPECT_EQ(json::parse(result.standardOutput)["ready"], true) << result.standardError;
    // No Android SDK in this home: said, and no failure of the iOS checks.
    constexpr const char* kNoSdk =
        "Android SDK isn’t installed. Install Android Studio, then create an emulator.";
    EXPECT_EQ(json::parse(result.standardOutput)["android"]["notice"], kNoSdk);
    result = quaylet({"doctor"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.standardOutput,
                EndsWith("This Mac is ready\nAndroid\n  SDK folder         " +
                         (user.path() / "Android/Sdk").string() + "\n" + kNoSdk + "\n"));

    // A boot wait that never ends is repaired, and the stage line says so until the next stage.
    const auto file = user.path() / "simulator" / "devices.json";
    json set = json::parse(std::ifstream(file));
    set["faults"] = {{"hangingBootWaits", 1}};
    std::ofstream(file) << set.dump();
    ASSERT_EQ(quaylet({"settings", "bootTimeoutSeconds", "1"}).status, 0);
    result = quaylet({"run", app.string(), "--no-activate"});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_THAT(result.standardOutput, HasSubstr("Getting ready · step 1 of 5\n"));
    EXPECT_THAT(result.standardOutput, HasSubstr(" of 5 · Restarting iPhone 16 Pro after a stuck "
                                                 "start…\nInstalling · step 4 of 5\n"));
    EXPECT_THAT(result.standardOutput, EndsWith("Local Demo\nRunning in iPhone 16 Pro\n"));

    // Refused before a launch (a missing path, a file whatever its name), and by the launch.
    std::filesystem::remove(app / "Info.plist");
    std::ofstream(user.path() / "File.app") << "not a folder";
    for (const char* path : {"Missing.app", "File.app", "Local.app"}) {
        result = quaylet({"run", (user.path() / path).string()});
        EXPECT_EQ(result.status, 1) << path;
        EXPECT_EQ(result.standardError, path == "Local.app"s
                                            ? kMissingInformation
                                            : "Choose a valid iOS Simulator build.\n");
    }
}

// A named device is taken exactly (not the one chosen by default), and one that cannot run the
// build fails alone; a link's query never names devices or options.
TEST_F(CommandLineTest, RunsOnEachNamedSimulatorWithTheOptionsGiven) {
    signIn();
    // The stand-in tools make their device set on the first look.
    EXPECT_THAT(quaylet({"doctor"}).standardOutput, HasSubstr("This Mac is ready\n"));
    const auto file = user.path() / "simulator" / "devices.json";
    json set = json::parse(std::ifstream(file));
    const json devices = set.at("devices");  // iPhone 14, 15, 15 Pro, …; iPhone 13 is the last
    httplib::Client dev(service.baseURL());

    ProcessResult result = quaylet({"open", kPreviewLink, "--simulator", devices[1]["udid"],
                                    "--simulator", devices[2]["udid"]});
    EXPECT_THAT(result.standardOutput,
                EndsWith("Quaylet Demo\nRunning in iPhone 15\nRunning in iPhone 15 Pro\n"));
    EXPECT_EQ(json::parse(dev.Get("/dev/launch-events")->body).size(), 2u);
    EXPECT_EQ(json::parse(dev.Get("/dev/artifact-ranges")->body), json::array({""}));

    // The query names iPhone 15 Pro; the booted iPhone 15 ranks first and runs without options.
    result = quaylet({"open", std::string(kPreviewLink) +
                                  "?simulator=" + devices[2]["udid"].get<std::string>() +
                                  "&launch-arg=-screen&env=FEATURE_X%3Don&open-url=weather://x"});
    EXPECT_THAT(result.standardOutput, EndsWith("Running in iPhone 15\n"));
    const json chosen = json::parse(std::ifstream(file)).at("devices").at(1);
    EXPECT_FALSE(chosen.contains("openedURLs") ||
                 chosen.at("apps").at(0).contains("launchArguments") ||
                 chosen.at("apps").at(0).contains("launchEnvironment"));

    set.at("devices")[0]["isAvailable"] = false;  // iPhone 14 can no longer boot
    std::ofstream(file) << set.dump();
    result = quaylet({"open", kPreviewLink, "--simulator", devices[0]["udid"], "--simulator",
                      "NO-SUCH-UDID", "--simulator", devices[7]["udid"], "--simulator",
                      devices[1]["udid"], "--launch-arg=-screen", "--launch-arg", "forecast",
                      "--env", "FEATURE_X=on=1", "--open-url", "weather://today?day=1"});
    EXPECT_EQ(result.status, 1) << "not every device runs the build";
    EXPECT_EQ(result.standardError,
              "Couldn’t run in iPhone 14: This Simulator isn’t available. Install its iOS runtime "
              "in Xcode, then try again.\nCouldn’t run in NO-SUCH-UDID: No Simulator has this "
              "UDID. Run “quaylet doctor” to see the Simulators, then try again.\nCouldn’t run "
              "in iPhone 13: iPhone 13 can’t be used: its iOS 15.5 runtime isn’t installed.\n");
    EXPECT_THAT(result.standardOutput, EndsWith("Quaylet Demo\nRunning in iPhone 15\n"));
    const json phone = json::parse(std::ifstream(file)).at("devices").at(1);
    EXPECT_EQ(phone.at("openedURLs"), json::array({"weather://today?day=1"}));
    EXPECT_EQ(phone.at("apps")[0].at("launchArguments"), json::array({"-screen", "forecast"}));
    EXPECT_EQ(phone.at("apps")[0].at("launchEnvironment"), json({{"FEATURE_X", "on=1"}}));
}

// Ctrl-C while a host tool hangs or the service holds a request: every command stops the
// tool's process group and its own work, leaves nothing in the temporary folder and exits 130
// without waiting for the tool or the service; one that hangs runs into the test's timeout.
TEST_F(CommandLineTest, CtrlCEndsEveryCommandWhileAToolOrTheServiceHangs) {
    signIn();
    // Every simctl call hangs, so each command is caught in mid-flight; the others are the
    // stand-ins.
    testing::ScriptedTools tools;
    const auto pids = user.path() / "hanging.pids";
    const auto signpost = user.path() / "hanging";
    tools.wrap("xcrun", "echo $$ >> '" + pids.string() + "'; echo $$ > '" + signpost.string() +
                            "'; exec sleep 30");
    httplib::Client faults(service.baseURL());
    faults.set_read_timeout(60s);
    const struct {
        std::vector<std::string> arguments;
        std::string lastOutput;
        std::string heldRoute = "";  // the service holds this route's requests; none: the tool
    } cases[] = {
        {{"open", kPreviewLink}, "Build canceled\n"},
        {{"watch", "quaylet/demo#1", "--open"}, "Build canceled\n"},
        {{"run", localApp().string(), "--no-activate"}, ""},
        {{"doctor"}, ""},
        {{"builds"}, "", "list"},
        {{"watch", "quaylet/demo#1"}, "", "list"},
        {{"sign-out"}, "", "logout"},
    };
    for (const auto& [arguments, lastOutput, heldRoute] : cases) {
        SCOPED_TRACE(arguments.front());
        std::filesystem::remove(pids);
        const testing::Signpost hanging(signpost);
        testing::TemporaryDirectory scratch;
        if (!heldRoute.empty()) {
            faults.Post("/dev/faults", json{{"route", heldRoute}, {"fault", "stall"}}.dump(),
                        "application/json");
        }
        const auto [child, output] = start(
            arguments, {{"QUAYLET_HOST_TOOLS_DIR", tools.directory()}, {"TMPDIR", scratch.path()}});
        if (heldRoute.empty()) {
            ASSERT_FALSE(hanging.awaitLine().empty()) << "no tool ever started";
        } else {
            ASSERT_TRUE(faults.Get("/dev/faults/stalled")) << "no request was held";
        }
        const auto [printed, status] = interrupt(child, output);
        faults.Delete("/dev/faults");

        EXPECT_EQ(status, 130);
        EXPECT_THAT(printed, EndsWith(lastOutput));
        std::ifstream file(pids);
        for (pid_t pid = 0; file >> pid;) {
            EXPECT_FALSE(testing::isRunning(pid)) << "a hanging tool outlived the command";
        }
        EXPECT_TRUE(std::filesystem::is_empty(scratch.path())) << "a working folder was left";
    }
}

// A pull request's title and a build's platform are anybody's text: they must not drive the
// terminal or forge lines. Builds for another platform than iOS carry its name.
TEST_F(CommandLineTest, TextFromThePullRequestPrintsInertAndBuildsNameTheirPlatform) {
    const std::string hostile =
        "\x1B]0;pwned\x07\x1B[2K\rquaylet://preview/forged\n\u202Eevil\u2028\u009B1m\x7F";
    editManifest("pr-demo", {{"pullRequestTitle", hostile}});
    publish("pr-android");
    editManifest("pr-android", {{"platform", "android"}, {"pullRequest", 2}});
    publish("pr-other");
    editManifest("pr-other", {{"platform", "\x1B[2Jwatchos"}, {"pullRequest", 3}});
    signIn();

    ProcessResult result = quaylet({"builds"});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_THAT(
        result.standardOutput,
        HasSubstr("\uFFFD]0;pwned\uFFFD\uFFFD[2K\uFFFDquaylet://preview/forged\uFFFD\uFFFDevil"
                  "\uFFFD\uFFFD1m\uFFFD\n  quaylet/demo · PR #1 · "));
    EXPECT_THAT(result.standardOutput, ::testing::ContainsRegex("PR #1 · [0-9a-f]{7} · Ready\n"));
    EXPECT_THAT(result.standardOutput,
                ::testing::ContainsRegex("PR #2 · [0-9a-f]{7} · Android · Ready\n"));
    EXPECT_THAT(result.standardOutput,
                ::testing::ContainsRegex("PR #3 · [0-9a-f]{7} · \uFFFD\\[2Jwatchos · Ready\n"));

    result = quaylet({"builds", "--json"});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_TRUE(std::ranges::all_of(result.standardOutput, [](char byte) {
        return (byte >= ' ' && byte != '\x7F') || byte == '\n';
    })) << "escaped to printable ASCII";
    const json document = json::parse(result.standardOutput);
    std::map<std::string, json> titles;  // by platform, each value kept exactly
    for (const json& build : document.at("builds")) {
        titles[build.at("platform")] = build.at("pullRequestTitle");
    }
    EXPECT_THAT(titles,
                ::testing::ElementsAre(::testing::Key("\x1B[2Jwatchos"), ::testing::Key("android"),
                                       ::testing::Pair("iphonesimulator", json(hostile))));
}

// A watch reports the newest ready build however old it is, and waits for a pull request's
// first build.
TEST_F(CommandLineTest, WatchReportsEachNewBuildOnceItIsFetchedAheadAndOpensItOnRequest) {
    editManifest(
        "pr-demo",
        {{"createdAt", formatInternetDateTime(std::chrono::system_clock::now() - 24h * 30)}});
    signIn();
    auto [child, output] = start({"watch", "quaylet/demo#2", "--interval", "1"});
    std::string printed = readUntil(output, "Ctrl-C to stop.\n");
    EXPECT_EQ(printed, "Watching quaylet/demo#2 every 1 s. Press Ctrl-C to stop.\n");
    publish("pr-demo-2");
    editManifest("pr-demo-2", {{"pullRequest", 2}});
    printed = readUntil(output, "quaylet://preview/pr-demo-2\n");
    EXPECT_EQ(printed, "Ready: demo · 0123456 · quaylet://preview/pr-demo-2\n");
    EXPECT_EQ(interrupt(child, output).second, 130);

    std::tie(child, output) = start({"watch", "quaylet/demo#1", "--interval", "1", "--open"});
    printed = readUntil(output, "Running in iPhone 16 Pro\n");
    EXPECT_THAT(printed, HasSubstr("Ready: demo · 0123456 · quaylet://preview/pr-demo\n"));
    EXPECT_THAT(printed, ::testing::Not(HasSubstr("step 2 of 5")))
        << "opened from what the watch fetched";
    EXPECT_THAT(printed, EndsWith("Quaylet Demo\nRunning in iPhone 16 Pro\n"));
    EXPECT_EQ(interrupt(child, output).second, 130);
}

TEST_F(CommandLineTest, TheCacheAndSettingsKeepTheirValues) {
    signIn();
    ASSERT_EQ(quaylet({"open", kPreviewLink}).status, 0);
    EXPECT_THAT(quaylet({"cache"}).standardOutput,
                ::testing::MatchesRegex("pr-demo  [^\n]+ used [^\n]+\nTotal [^\n]+ of 20 GB\n"));
    ASSERT_EQ(quaylet({"open", kPreviewLink, "--no-early-boot"}).status, 0);

    EXPECT_EQ(quaylet({"settings", "activateSimulator"}).standardOutput, "true\n");
    ASSERT_EQ(quaylet({"settings", "activateSimulator", "false"}).status, 0);
    ASSERT_EQ(quaylet({"settings", "preferredSimulatorUDID", "ABC-123"}).status, 0);
    ASSERT_EQ(quaylet({"settings", "preferredEmulator", "Pixel 9"}).status, 0);
    ASSERT_EQ(quaylet({"settings", "cacheLimitGB", "0.5"}).status, 0);
    ASSERT_EQ(quaylet({"settings", "bootTimeoutSeconds", "90"}).status, 0);
    ASSERT_EQ(quaylet({"settings", "startSimulatorWhileDownloading", "false"}).status, 0);
    EXPECT_EQ(quaylet({"settings"}).standardOutput,
              "preferredSimulatorUDID = ABC-123\npreferredEmulator = Pixel 9\n"
              "activateSimulator = false\n"
              "startSimulatorWhileDownloading = false\ncacheLimitGB = 0.5\n"
              "bootTimeoutSeconds = 90\n");
}

// While a launch installs its build, removals from other processes leave the build alone (a
// trim at a limit that no build fits, as an older version could store it; the removal of a
// withdrawn build; clearing, which waits for it), it shows as in use, and the launch succeeds.
TEST_F(CommandLineTest, NoRemovalTakesTheBuildALaunchHolds) {
    signIn();
    publish("pr-demo-2");
    const auto settings = user.path() / "config" / "quaylet";
    std::filesystem::create_directories(settings);
    std::ofstream(settings / "settings.json") << R"({"cacheLimitGB": 1e-6})";
    EXPECT_EQ(quaylet({"settings", "cacheLimitGB"}).standardOutput, "0.000001\n");
    testing::ScriptedTools tools;
    const testing::Signpost installing(user.path() / "installing");
    const auto release = user.path() / "release";
    tools.wrap("xcrun", "if [ \"$2\" = install ]; then echo $$ > '" + installing.path().string() +
                            "'; until [ -e '" + release.string() + "' ]; do sleep 0.1; done; fi");
    const auto [child, output] =
        start({"open", kPreviewLink}, {{"QUAYLET_HOST_TOOLS_DIR", tools.directory()}});
    ASSERT_FALSE(installing.awaitLine().empty()) << "the launch never installed";

    EXPECT_THAT(quaylet({"cache"}).standardOutput, HasSubstr("  in use\n"));
    EXPECT_EQ(quaylet({"cache", "prune"}).status, 0);
    EXPECT_EQ(quaylet({"open", "quaylet://preview/pr-demo-2"}).status, 0);  // and its trim
    const BuildCache cache(user.path() / "cache" / kBundleIdentifier);
    cache.removePreviews({"pr-demo"});
    std::stop_source waitsNot;
    waitsNot.request_stop();
    EXPECT_THROW(cache.clear(waitsNot.get_token()), CancellationError);
    std::ofstream{release};
    EXPECT_THAT(readUntil(output, "\x01"), EndsWith("Running in iPhone 16 Pro\n"));
    ::close(output);
    EXPECT_EQ(testing::ChildProcess::wait(child), 0);
}

// Each is refused with status 2 before anything runs.
TEST_F(CommandLineTest, UsageErrorsAndAnUnusableServiceAddress) {
    const std::vector<std::string> usageErrors[] = {
        {"open", kPreviewLink, "--env=1ST=x"},
        {"open", kPreviewLink, "--env=NOVALUE"},
        {"open", kPreviewLink, "--open-url=screen/today"},
        {"settings", "activateSimulator", "maybe"},
        {"settings", "cacheLimitGB", "-1"},
        {"settings", "bootTimeoutSeconds", "1.5"},
        {"settings", "cacheLimitGB", "lots"},
        {"settings", "cacheLimitGB", "2GB"},
        {"settings", "cacheLimitGB", "nan"},
        {"settings", "cacheLimitGB", "0.05"},
        {"settings", "cacheLimitGB", "100000.5"},
        {"settings", "unknownKey"},
        {"watch", "quaylet/demo"},
        {"watch", "quaylet/demo#1", "--interval", "0"},
    };
    for (const auto& arguments : usageErrors) {
        EXPECT_EQ(quaylet(arguments).status, 2) << arguments.front() << " " << arguments.back();
    }

    const ProcessResult result = quaylet({"builds"}, "not a web address");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.standardError, HasSubstr("QUAYLET_API_URL"));
    // 0.0.0.0 reaches this computer but is not loopback: nothing may be sent to it in plain http.
    const ProcessResult plain =
        quaylet({"builds"}, "http://0.0.0.0:" + std::to_string(service.port()));
    EXPECT_EQ(plain.status, 1);
    EXPECT_THAT(plain.standardError, HasSubstr("must use HTTPS"));
}

}  // namespace
}  // namespace quaylet
