#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>

#include "core/android/AndroidEmulator.h"
#include "core/android/ApkMetadata.h"
#include "core/android/EmulatorDiscovery.h"
#include "core/android/EmulatorSelector.h"
#include "core/process/ProcessRunner.h"
#include "core/service/RemoteLaunchStage.h"

namespace quaylet {

struct EmulatorLaunchRequest {
    ApkMetadata apk;  // as inspected; its versionCode is what the installed copy must show
    std::optional<std::string> preferredEmulator = std::nullopt;  // an AVD name
    std::optional<std::string> openURL = std::nullopt;            // absolute; opened once it runs
};

struct EmulatorLaunchReport {
    AndroidEmulator emulator;  // as selected, before any boot
    std::string serial;        // the emulator it runs on
    std::map<std::string, double> timings;
};

// Takes an inspected .apk to a running, verified app on an Android emulator: the Android half
// of the launch road, reporting the same stages as a simulator launch. Holds no state.
class EmulatorLauncher {
  public:
    using Progress = std::function<void(RemoteLaunchStage)>;

    // How long a launched app runs before its installed copy is looked at, and how often a
    // booting emulator is asked whether it has finished. Only tests shorten them.
    static constexpr std::chrono::milliseconds kFirstLook{1000};
    static constexpr std::chrono::milliseconds kBootPoll{1000};

    // Booted emulators write their output to a log in logFolder.
    EmulatorLauncher(ProcessRunner runner, EmulatorDiscovery discovery,
                     std::filesystem::path logFolder,
                     std::chrono::milliseconds firstLook = kFirstLook,
                     std::chrono::milliseconds bootPoll = kBootPoll);

    // Chooses an emulator, boots it when it is not running (on the first free even console
    // port from 5554, in a session of its own so it outlives Quaylet, then waits until the
    // device says it has booted: as long as it takes, unless the emulator exits first or the
    // token is stopped), installs, launches the app's launcher activity, waits a second and
    // checks that the device holds the build's version code, then opens the URL if asked.
    // Nothing done is undone on a failure or a stop: a booted emulator keeps running.
    EmulatorLaunchReport launch(const EmulatorLaunchRequest& request, const Progress& progress,
                                std::stop_token stop) const;

  private:
    std::string boot(const AndroidEmulator& emulator, const std::vector<AndroidEmulator>& emulators,
                     std::stop_token stop) const;

    ProcessRunner runner_;
    EmulatorDiscovery discovery_;
    EmulatorSelector selector_;
    std::filesystem::path logFolder_;
    std::chrono::milliseconds firstLook_;
    std::chrono::milliseconds bootPoll_;
};

}  // namespace quaylet
