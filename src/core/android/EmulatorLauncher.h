#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/android/AndroidEmulator.h"
#include "core/android/ApkMetadata.h"
#include "core/android/EmulatorDiscovery.h"
#include "core/android/EmulatorSelector.h"
#include "core/process/ProcessRunner.h"
#include "core/service/RemoteLaunchStage.h"
#include "core/simulator/SelfTestReport.h"
#include "core/support/LaunchTimeline.h"

namespace quaylet {

struct EmulatorLaunchRequest {
    ApkMetadata apk;  // as inspected; its versionCode is what the installed copy must show
    std::optional<std::string> preferredEmulator = std::nullopt;  // an AVD name
    std::optional<std::string> openURL = std::nullopt;            // absolute; opened once it runs
    // Exactly this emulator instead of the ranked choice (which then ignores the preference).
    std::optional<std::string> emulatorName = std::nullopt;
    std::string displayName = {};  // what the outcome's report calls the app
    // Where each step is recorded; absent: nowhere.
    LaunchTimeline* timeline = nullptr;
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
    // Over this host's SDK (AndroidSdk::forThisHost), logging to "quaylet/emulators" in the
    // user's state folder.
    static EmulatorLauncher forThisHost();

    // Chooses an emulator, boots it when it is not running (on the first free even console
    // port from 5554, in a session of its own so it outlives Quaylet, then waits until the
    // device says it has booted: as long as it takes, unless the emulator exits first or the
    // token is stopped), installs, launches the app's launcher activity, waits a second and
    // checks that the device holds the build's version code, then opens the URL if asked.
    // Nothing done is undone on a failure or a stop: a booted emulator keeps running.
    EmulatorLaunchReport launch(const EmulatorLaunchRequest& request, const Progress& progress,
                                std::stop_token stop) const;

    // Judges a build's claims (its minimum API level and native ABIs) against this host's
    // emulators before it is downloaded, as SimulatorLauncher::plan does for simulators: with
    // no emulator named, the selection's refusal is thrown; otherwise each named emulator that
    // cannot run the build is a refusal, with the sentence its launch would end with. An SDK
    // that cannot be asked refuses nothing: the launch asks again after the download.
    std::vector<DeviceOutcome> refusals(int minimumApiLevel, const std::vector<std::string>& abis,
                                        const std::vector<std::string>& emulatorNames,
                                        std::stop_token stop) const;

    // launch on each named emulator in turn, as SimulatorLauncher::selfTestOnEach runs a build
    // on simulators: a device's failure is its outcome, only a stop ends the run, and with no
    // emulator named, the chosen one's failure is thrown. The outcomes carry the report a
    // simulator launch would: the emulator as its device (its AVD name as the identifier,
    // "Android API <n>" as the runtime) and the version code as the fixture version.
    std::vector<DeviceOutcome> launchOnEach(
        EmulatorLaunchRequest request, const std::vector<std::string>& emulatorNames,
        const Progress& progress, const std::function<void(const DeviceOutcome&)>& onOutcome,
        std::stop_token stop) const;

    // Opens an absolute URL in the package's app on the named emulator, which must be running.
    void openURL(const std::string& emulatorName, const std::string& package,
                 const std::string& url, std::stop_token stop) const;

  private:
    // The named emulator when there is one, else the ranked choice; either must run the build.
    AndroidEmulator choose(const std::vector<AndroidEmulator>& emulators, int minimumApiLevel,
                           const std::vector<std::string>& abis,
                           const std::optional<std::string>& preferredName,
                           const std::optional<std::string>& emulatorName) const;
    std::string boot(const AndroidEmulator& emulator, const std::vector<AndroidEmulator>& emulators,
                     std::stop_token stop) const;
    void openURLOn(const std::string& serial, const std::string& package, const std::string& url,
                   std::stop_token stop) const;

    ProcessRunner runner_;
    EmulatorDiscovery discovery_;
    EmulatorSelector selector_;
    std::filesystem::path logFolder_;
    std::chrono::milliseconds firstLook_;
    std::chrono::milliseconds bootPoll_;
};

}  // namespace quaylet
