#include "core/android/EmulatorLauncher.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <thread>
#include <utility>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/simulator/LaunchOptions.h"
#include "core/support/Text.h"
#include "core/support/UserDirectories.h"

namespace quaylet {
namespace {

// adb looks for emulators on the console ports 5554 to 5584, each also taking the port above.
constexpr int kFirstConsolePort = 5554;
constexpr int kLastConsolePort = 5584;

bool canBindLocally(int port) {
#ifdef SOCK_CLOEXEC
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#else
    // macOS has no SOCK_CLOEXEC; the children Quaylet starts inherit only their standard
    // streams anyway.
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
#endif
    if (socket < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound =
        ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return bound;
}

// Neither a running emulator's console nor a port something else holds.
int firstFreeConsolePort(const std::vector<AndroidEmulator>& emulators) {
    std::set<std::string> serials;
    for (const AndroidEmulator& emulator : emulators) {
        if (emulator.serial) {
            serials.insert(*emulator.serial);
        }
    }
    for (int port = kFirstConsolePort; port <= kLastConsolePort; port += 2) {
        if (!serials.contains("emulator-" + std::to_string(port)) && canBindLocally(port) &&
            canBindLocally(port + 1)) {
            return port;
        }
    }
    throw QuayletError::commandFailed("emulator -port", 1, "no free console port");
}

std::string_view lastLine(std::string_view text) {
    text = trimmed(text);
    const std::size_t newline = text.find_last_of('\n');
    return trimmed(newline == std::string_view::npos ? text : text.substr(newline + 1));
}

// The first versionCode= in the package manager's account of a package.
std::optional<std::string> installedVersionCode(std::string_view dump) {
    constexpr std::string_view kKey = "versionCode=";
    const std::size_t at = dump.find(kKey);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = dump.substr(at + kKey.size());
    const std::size_t end = std::min(rest.find_first_not_of("0123456789"), rest.size());
    return std::string(rest.substr(0, end));
}

// adb shell reports the device command's status only on newer devices; the activity manager
// also says "Error:" when it could not start anything.
void requireStarted(const ProcessResult& result, const std::string& what) {
    if (result.standardOutput.find("Error:") != std::string::npos ||
        result.standardError.find("Error:") != std::string::npos) {
        throw QuayletError::commandFailed(what, result.status,
                                          std::string(trimmed(result.standardOutput)));
    }
}

}  // namespace

EmulatorLauncher::EmulatorLauncher(ProcessRunner runner, EmulatorDiscovery discovery,
                                   std::filesystem::path logFolder,
                                   std::chrono::milliseconds firstLook,
                                   std::chrono::milliseconds bootPoll)
    : runner_(runner),
      discovery_(std::move(discovery)),
      logFolder_(std::move(logFolder)),
      firstLook_(firstLook),
      bootPoll_(bootPoll) {}

EmulatorLauncher EmulatorLauncher::forThisHost() {
    return EmulatorLauncher(ProcessRunner(),
                            EmulatorDiscovery(ProcessRunner(), AndroidSdk::forThisHost()),
                            userStateDirectory() / "quaylet" / "emulators");
}

EmulatorLaunchReport EmulatorLauncher::launch(const EmulatorLaunchRequest& request,
                                              const Progress& progress,
                                              std::stop_token stop) const {
    const auto report = [&](RemoteLaunchStage stage) {
        throwIfStopRequested(stop);
        if (progress) {
            progress(stage);
        }
    };
    if (request.openURL) {
        checkURLToOpen(*request.openURL);
    }
    LaunchTimeline unrecorded;
    LaunchTimeline& timeline = request.timeline ? *request.timeline : unrecorded;
    const AndroidSdk& sdk = discovery_.sdk();
    const std::string& package = request.apk.packageName;
    EmulatorLaunchReport result;

    report(RemoteLaunchStage::selecting);
    LaunchTimeline::Step selection = timeline.begin(LaunchStep::selection);
    const std::vector<AndroidEmulator> emulators = discovery_.emulators(stop);
    result.emulator = choose(emulators, request.apk.minSdkVersion, request.apk.abis,
                             request.preferredEmulator, request.emulatorName);
    result.timings["emulatorSelection"] = selection.finish();
    const std::string& device = result.emulator.name;

    if (result.emulator.serial) {
        result.serial = *result.emulator.serial;
    } else {
        report(RemoteLaunchStage::booting);
        LaunchTimeline::Step booting = timeline.begin(LaunchStep::boot, device);
        result.serial = boot(result.emulator, emulators, stop);
        result.timings["boot"] = booting.finish();
    }

    report(RemoteLaunchStage::installing);
    LaunchTimeline::Step installation = timeline.begin(LaunchStep::install, device);
    const ProcessResult install = runner_.run(sdk.install(result.serial, request.apk.apk), stop);
    // Older adb says Failure and still exits 0.
    if (install.status != 0 || install.standardOutput.find("Failure") != std::string::npos) {
        throw QuayletError::commandFailed("adb install", install.status,
                                          std::string(trimmed(install.standardOutput)));
    }
    result.timings["install"] = installation.finish();

    // The device must hold this build: an install that left another version, or another
    // package, in place fails here.
    const auto verify = [&] {
        const LaunchTimeline::Step check = timeline.begin(LaunchStep::installedCopyCheck, device);
        const ProcessResult dump =
            runner_.runChecked(sdk.shell(result.serial, {"dumpsys", "package", package}), stop);
        const std::string expected = std::to_string(request.apk.versionCode);
        const std::optional<std::string> installed = installedVersionCode(dump.standardOutput);
        if (installed != expected) {
            throw QuayletError::fixtureVersionMismatch(expected, installed);
        }
    };

    report(RemoteLaunchStage::launching);
    LaunchTimeline::Step launching = timeline.begin(LaunchStep::launch, device);
    const ProcessResult resolved = runner_.runChecked(
        sdk.shell(result.serial, {"cmd", "package", "resolve-activity", "--brief", "-c",
                                  "android.intent.category.LAUNCHER", package}),
        stop);
    const std::string component(lastLine(resolved.standardOutput));
    // The activity manager gets only a component of this package, never other words.
    if (!component.starts_with(package + "/") || component.size() == package.size() + 1 ||
        component.find_first_of(" \t") != std::string::npos) {
        launching.fail();
        verify();
        throw QuayletError::commandFailed("adb shell cmd package resolve-activity", 0, component);
    }
    requireStarted(
        runner_.runChecked(sdk.shell(result.serial, {"am", "start", "-W", "-n", component}), stop),
        "adb shell am start");
    // Gives a launched app its first moments before anyone looks at it.
    waitUnlessStopped(firstLook_, stop);
    result.timings["launch"] = launching.finish();
    verify();

    if (request.openURL) {
        openURLOn(result.serial, package, *request.openURL, stop);
    }

    report(RemoteLaunchStage::running);
    return result;
}

void EmulatorLauncher::openURL(const std::string& emulatorName, const std::string& package,
                               const std::string& url, std::stop_token stop) const {
    checkURLToOpen(url);
    const std::vector<AndroidEmulator> emulators = discovery_.emulators(stop);
    const auto named = std::ranges::find(emulators, emulatorName, &AndroidEmulator::name);
    if (named == emulators.end() || !named->serial) {
        throw QuayletError::commandFailed("adb shell am start", 1,
                                          emulatorName + " is not running");
    }
    openURLOn(*named->serial, package, url, stop);
}

void EmulatorLauncher::openURLOn(const std::string& serial, const std::string& package,
                                 const std::string& url, std::stop_token stop) const {
    requireStarted(runner_.runChecked(discovery_.sdk().shell(serial, {"am", "start", "-W", "-a",
                                                                      "android.intent.action.VIEW",
                                                                      "-d", url, package}),
                                      stop),
                   "adb shell am start");
}

std::vector<DeviceOutcome> EmulatorLauncher::refusals(int minimumApiLevel,
                                                      const std::vector<std::string>& abis,
                                                      const std::vector<std::string>& emulatorNames,
                                                      std::stop_token stop) const {
    std::vector<AndroidEmulator> emulators;
    try {
        emulators = discovery_.emulators(stop);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception&) {
        return {};  // launch discovers again, and says what is wrong
    }
    if (emulatorNames.empty()) {
        choose(emulators, minimumApiLevel, abis, std::nullopt, std::nullopt);
        return {};
    }
    std::vector<DeviceOutcome> refused;
    for (const std::string& name : emulatorNames) {
        try {
            choose(emulators, minimumApiLevel, abis, std::nullopt, name);
        } catch (const QuayletError&) {
            refused.push_back({.udid = name,
                               .deviceName = name,
                               .failure = userMessage(std::current_exception())});
        }
    }
    return refused;
}

std::vector<DeviceOutcome> EmulatorLauncher::launchOnEach(
    EmulatorLaunchRequest request, const std::vector<std::string>& emulatorNames,
    const Progress& progress, const std::function<void(const DeviceOutcome&)>& onOutcome,
    std::stop_token stop) const {
    const LaunchTimeline::CommandCapture capture(request.timeline);
    const auto reportOf = [&](const EmulatorLaunchReport& launched) {
        const ApkMetadata& apk = request.apk;
        const std::string versionCode = std::to_string(apk.versionCode);
        const int api = launched.emulator.apiLevel.value_or(0);
        return SelfTestReport{
            .app = {.appPath = apk.apk.lexically_normal(),
                    .bundleIdentifier = apk.packageName,
                    .displayName = request.displayName,
                    .executableName = apk.apk.filename().string(),
                    .minimumOSVersion = {.major = apk.minSdkVersion},
                    .architectures = apk.abis,
                    .fixtureVersion = versionCode},
            .simulator = {.udid = launched.emulator.name,
                          .name = launched.emulator.name,
                          .state = "Booted",
                          .isAvailable = true,
                          .runtime = {.identifier = "android-" + std::to_string(api),
                                      .name = "Android API " + std::to_string(api),
                                      .version = {.major = api},
                                      .isAvailable = true}},
            .installedContainer = launched.serial + ":" + apk.packageName,
            .installedFixtureVersion = versionCode,  // launch has checked the device holds it
            .screenshotPath = std::nullopt,
            .timings = launched.timings};
    };
    const auto tell = [&](const DeviceOutcome& outcome) {
        if (onOutcome) {
            onOutcome(outcome);
        }
    };
    if (emulatorNames.empty()) {
        SelfTestReport report = reportOf(launch(request, progress, stop));
        const DeviceOutcome outcome{.udid = report.simulator.udid,
                                    .deviceName = report.simulator.name,
                                    .report = std::move(report)};
        tell(outcome);
        return {outcome};
    }
    std::vector<DeviceOutcome> outcomes;
    for (const std::string& name : emulatorNames) {
        DeviceOutcome& outcome =
            outcomes.emplace_back(DeviceOutcome{.udid = name, .deviceName = name});
        request.emulatorName = name;
        try {
            outcome.report = reportOf(launch(request, progress, stop));
        } catch (const CancellationError&) {
            throw;
        } catch (...) {
            outcome.failure = userMessage(std::current_exception());
        }
        tell(outcome);
    }
    return outcomes;
}

AndroidEmulator EmulatorLauncher::choose(const std::vector<AndroidEmulator>& emulators,
                                         int minimumApiLevel, const std::vector<std::string>& abis,
                                         const std::optional<std::string>& preferredName,
                                         const std::optional<std::string>& emulatorName) const {
    if (!emulatorName) {
        return selector_.select(emulators, minimumApiLevel, abis, preferredName);
    }
    const auto named = std::ranges::find(emulators, *emulatorName, &AndroidEmulator::name);
    if (named == emulators.end()) {
        throw QuayletError::unsupportedApplication(
            "No Android emulator has this name. Run “emulator -list-avds” to see the names, "
            "then try again.");
    }
    return selector_.select({*named}, minimumApiLevel, abis, std::nullopt);
}

std::string EmulatorLauncher::boot(const AndroidEmulator& emulator,
                                   const std::vector<AndroidEmulator>& emulators,
                                   std::stop_token stop) const {
    const AndroidSdk& sdk = discovery_.sdk();
    const int port = firstFreeConsolePort(emulators);
    const std::string serial = "emulator-" + std::to_string(port);
    std::filesystem::create_directories(logFolder_);
    const ToolCommand command = sdk.bootEmulator(emulator.name, port);
    std::optional<pid_t> child = runner_.startInOwnSession(command, logFolder_ / (serial + ".log"));
    // An emulator that fails before the device has booted will not boot it; one still running
    // afterwards is left to run.
    const auto requireAlive = [&] {
        if (!child) {
            return;
        }
        const std::optional<std::int32_t> status = ProcessRunner::exitStatusIfExited(*child);
        if (status) {
            child.reset();
            if (*status != 0) {
                throw QuayletError::commandFailed("emulator -avd", *status, "");
            }
        }
    };
    // adb waits for as long as no emulator of that serial runs: one that failed while starting
    // ends the wait instead of leaving it to last for ever.
    std::optional<std::int32_t> failedWith;
    {
        std::stop_source waiting;
        const std::stop_callback forward(stop, [&] { waiting.request_stop(); });
        std::jthread watch([&](std::stop_token done) {
            try {
                std::optional<std::int32_t> status;
                while (!(status = ProcessRunner::exitStatusIfExited(*child))) {
                    waitUnlessStopped(bootPoll_, done);
                }
                child.reset();  // reaped; read again only after the join below
                if (*status != 0) {
                    failedWith = status;
                    waiting.request_stop();
                }
            } catch (const CancellationError&) {
                // The device came up, or the launch was stopped, while the emulator ran.
            }
        });
        try {
            runner_.runChecked(sdk.waitForDevice(serial), waiting.get_token());
        } catch (const CancellationError&) {
            watch.request_stop();
            watch.join();
            if (failedWith && !stop.stop_requested()) {
                throw QuayletError::commandFailed("emulator -avd", *failedWith, "");
            }
            throw;
        }
    }
    while (true) {
        const ProcessResult booted =
            runner_.run(sdk.shell(serial, {"getprop", "sys.boot_completed"}), stop);
        if (booted.status == 0 && trimmed(booted.standardOutput) == "1") {
            return serial;
        }
        requireAlive();
        waitUnlessStopped(bootPoll_, stop);
    }
}

}  // namespace quaylet
