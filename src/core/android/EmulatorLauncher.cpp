#include "core/android/EmulatorLauncher.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <utility>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/simulator/LaunchOptions.h"
#include "core/support/Text.h"

namespace quaylet {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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
    const AndroidSdk& sdk = discovery_.sdk();
    const std::string& package = request.apk.packageName;
    EmulatorLaunchReport result;

    report(RemoteLaunchStage::selecting);
    auto start = Clock::now();
    const std::vector<AndroidEmulator> emulators = discovery_.emulators(stop);
    result.emulator = selector_.select(emulators, request.apk.minSdkVersion, request.apk.abis,
                                       request.preferredEmulator);
    result.timings["emulatorSelection"] = secondsSince(start);

    if (result.emulator.serial) {
        result.serial = *result.emulator.serial;
    } else {
        report(RemoteLaunchStage::booting);
        start = Clock::now();
        result.serial = boot(result.emulator, emulators, stop);
        result.timings["boot"] = secondsSince(start);
    }

    report(RemoteLaunchStage::installing);
    start = Clock::now();
    const ProcessResult install = runner_.run(sdk.install(result.serial, request.apk.apk), stop);
    // Older adb says Failure and still exits 0.
    if (install.status != 0 || install.standardOutput.find("Failure") != std::string::npos) {
        throw QuayletError::commandFailed("adb install", install.status,
                                          std::string(trimmed(install.standardOutput)));
    }
    result.timings["install"] = secondsSince(start);

    // The device must hold this build: an install that left another version, or another
    // package, in place fails here.
    const auto verify = [&] {
        const ProcessResult dump =
            runner_.runChecked(sdk.shell(result.serial, {"dumpsys", "package", package}), stop);
        const std::string expected = std::to_string(request.apk.versionCode);
        const std::optional<std::string> installed = installedVersionCode(dump.standardOutput);
        if (installed != expected) {
            throw QuayletError::fixtureVersionMismatch(expected, installed);
        }
    };

    report(RemoteLaunchStage::launching);
    start = Clock::now();
    const ProcessResult resolved = runner_.runChecked(
        sdk.shell(result.serial, {"cmd", "package", "resolve-activity", "--brief", "-c",
                                  "android.intent.category.LAUNCHER", package}),
        stop);
    const std::string component(lastLine(resolved.standardOutput));
    // The activity manager gets only a component of this package, never other words.
    if (!component.starts_with(package + "/") || component.size() == package.size() + 1 ||
        component.find_first_of(" \t") != std::string::npos) {
        verify();
        throw QuayletError::commandFailed("adb shell cmd package resolve-activity", 0, component);
    }
    requireStarted(
        runner_.runChecked(sdk.shell(result.serial, {"am", "start", "-W", "-n", component}), stop),
        "adb shell am start");
    // Gives a launched app its first moments before anyone looks at it.
    waitUnlessStopped(firstLook_, stop);
    result.timings["launch"] = secondsSince(start);
    verify();

    if (request.openURL) {
        requireStarted(
            runner_.runChecked(
                sdk.shell(result.serial, {"am", "start", "-W", "-a", "android.intent.action.VIEW",
                                          "-d", *request.openURL, package}),
                stop),
            "adb shell am start");
    }

    report(RemoteLaunchStage::running);
    return result;
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
    runner_.runChecked(sdk.waitForDevice(serial), stop);
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
