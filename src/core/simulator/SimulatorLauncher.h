#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/artifacts/AppInspector.h"
#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/service/RemoteLaunchStage.h"
#include "core/simulator/EarlyBoots.h"
#include "core/simulator/LaunchOptions.h"
#include "core/simulator/SelfTestReport.h"
#include "core/simulator/SimulatorDiscovery.h"
#include "core/simulator/SimulatorRepairs.h"
#include "core/simulator/SimulatorSelector.h"
#include "core/support/LaunchTimeline.h"

namespace quaylet {

struct SelfTestRequest {
    std::filesystem::path appPath;  // the .app folder to run
    // The fixture version the caller requires; absent means the bundle's own value.
    std::optional<std::string> expectedFixtureVersion = std::nullopt;
    std::optional<std::string> preferredSimulatorUDID = std::nullopt;
    std::optional<std::filesystem::path> screenshotURL =
        std::nullopt;                // absent means no screenshot
    bool activateSimulator = false;  // bring the Simulator application to the front at the end
    // Exactly this device instead of the ranked choice (which then ignores the preference).
    std::optional<std::string> simulatorUDID = std::nullopt;
    LaunchOptions launchOptions = {};
    RepairSettings repairs = {};
    // Where each step is recorded, with the commands run for it; absent: nowhere.
    LaunchTimeline* timeline = nullptr;
    // Boots begun before the launch reached its devices: the booting stage waits for the
    // chosen device's instead of booting it again.
    EarlyBoots* earlyBoots = nullptr;
};

// Where a build would run, judged from what its manifest claims before it is downloaded.
struct LaunchPlan {
    // The device the selection would choose, or each named device that can run the build.
    std::vector<SimulatorDevice> devices = {};
    // Each named device that cannot, with the sentence its launch would end with.
    std::vector<DeviceOutcome> refusals = {};
};

// Takes an app bundle to a running, verified app in a simulator. Holds no state of its own,
// so concurrent calls do not interfere (nor are they kept off the same device).
class SimulatorLauncher {
  public:
    // Called, and waited for, before each stage starts.
    using Progress = std::function<void(RemoteLaunchStage)>;
    // Told each device's outcome as soon as it is known.
    using OutcomeCallback = std::function<void(const DeviceOutcome&)>;

    // How long a launched app runs before its installed copy is looked at.
    static constexpr std::chrono::milliseconds kFirstLook{1000};

    // Only tests that launch hundreds of times shorten the first look.
    SimulatorLauncher(ProcessRunner runner, DeveloperTools tools, SimulatorDiscovery discovery,
                      SimulatorSelector selector, AppInspector inspector,
                      std::chrono::milliseconds firstLook = kFirstLook);

    // Inspects, chooses a device, boots it when it is not running, installs, launches, waits
    // a second, checks the installed copy's fixture version and optionally takes a screenshot
    // and brings the simulator window forward on the device. The listing, boot and install
    // repair what simulators are known to get wrong (SimulatorRepairs); otherwise the first
    // failure ends the run and nothing done is undone: a booted device stays booted, an
    // installed app stays installed. Stopping the token terminates the running command or
    // ends the wait and throws CancellationError.
    SelfTestReport selfTest(const SelfTestRequest& request, const Progress& progress,
                            std::stop_token stop) const;

    // Opens an absolute URL in the booted device, as a deep link into the app that handles it.
    void openURL(const std::string& udid, const std::string& url, std::stop_token stop) const;

    // selfTest on each named device in turn; a device's failure is its outcome and the next
    // one still runs, and only a stop ends the whole run, with CancellationError. The devices
    // are named from one listing, so an unknown UDID still gets an outcome of its own. With
    // no device named, selfTest on the ranked choice, whose failure is thrown.
    std::vector<DeviceOutcome> selfTestOnEach(SelfTestRequest request,
                                              const std::vector<std::string>& simulatorUDIDs,
                                              const Progress& progress,
                                              const OutcomeCallback& onOutcome,
                                              std::stop_token stop) const;

    // Judges a build by its manifest's claims, with the rules the checks after the unpack apply
    // (which stay the authority): throws the inspection's refusal when none of the claimed
    // architectures runs in this host's simulators, and the selection's when no device runs the
    // claimed minimum OS; a named device that cannot is a refusal of the plan. Claims it cannot
    // read, and a host it cannot ask, refuse nothing and plan no device.
    LaunchPlan plan(const std::string& minimumOSVersion,
                    const std::vector<std::string>& architectures,
                    const std::optional<std::string>& preferredUDID,
                    const std::vector<std::string>& simulatorUDIDs, std::stop_token stop) const;

    // Starts booting each planned device that is not booted yet, beside whatever the caller
    // does next.
    void bootEarly(EarlyBoots& boots, const LaunchPlan& plan, const RepairSettings& repairs,
                   const EarlyBoots::Observer& observer, std::stop_token stop) const;

  private:
    // A failure fails only the window's step: the app already runs either way.
    void bringWindowForward(const std::string& udid, LaunchTimeline::Step& window,
                            std::stop_token stop) const;

    ProcessRunner runner_;
    DeveloperTools tools_;
    SimulatorDiscovery discovery_;
    SimulatorSelector selector_;
    AppInspector inspector_;
    std::chrono::milliseconds firstLook_;
};

}  // namespace quaylet
