#include <functional>

#include "Screenshots.h"
#include "app/UpdateAction.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;
using testing::StateDriver;

PreviewSummary build(const std::string& previewID, const std::string& name,
                     const std::string& title, int pullRequest, const std::string& status) {
    PreviewSummary summary = testing::makeSummary(previewID, name);
    summary.repository = "octo/weather";
    summary.pullRequest = pullRequest;
    summary.pullRequestTitle = title;
    summary.commitSha = "9f3c2a7e41d08b6c5a2e";
    summary.status = status;
    return summary;
}

// Titles and repositories of the lengths real pull requests have.
std::vector<PreviewSummary> longBuilds() {
    std::vector<PreviewSummary> builds = {
        build("ac-42", "Storefront",
              "Rework the checkout flow so saved cards, Apple Pay and promo "
              "codes share one sheet",
              42, "ready"),
        build("ac-57", "Storefront",
              "Show the delivery estimate beside every item in the basket "
              "and in the order confirmation e-mail",
              57, "ready"),
        build("ac-61", "Storefront",
              "Migrate the account screens to the new navigation stack "
              "without losing deep links",
              61, "processing"),
    };
    for (PreviewSummary& summary : builds) {
        summary.repository = "acme-corporation/ios-storefront-application";
    }
    return builds;
}

PreviewSummary forAndroid(PreviewSummary summary) {
    summary.platform = "android";
    return summary;
}

const std::vector<PreviewSummary> kBuilds = {
    build("wx-128", "Weather", "Redesign the forecast card", 128, "ready"),
    forAndroid(build("wx-130", "Weather", "Bring the forecast card to Android", 130, "ready")),
    build("wx-131", "Weather", "Add hourly precipitation chart", 131, "ready"),
    build("wx-133", "Weather", "Fix crash when location is denied", 133, "uploading"),
};

TimelineEntry step(LaunchStep step, double start, double duration, std::string device = {}) {
    return {.step = step,
            .device = std::move(device),
            .start = start,
            .duration = duration,
            .state = StepState::done};
}

// A first launch of a 1.1 GB build that boots its simulator.
const std::vector<TimelineEntry> kLaunchSteps = [] {
    std::vector<TimelineEntry> steps{
        step(LaunchStep::manifest, 0, 0.3),
        step(LaunchStep::download, 0.3, 24.1),
        step(LaunchStep::verification, 24.4, 0.4),
        step(LaunchStep::archiveCheck, 24.8, 0.6),
        step(LaunchStep::unpack, 25.4, 0.5),
        step(LaunchStep::inspection, 25.9, 0.1),
        step(LaunchStep::selection, 26.0, 0.2),
        step(LaunchStep::boot, 26.2, 6.0, "iPhone 15 Pro"),
        step(LaunchStep::install, 32.2, 2.3, "iPhone 15 Pro"),
        step(LaunchStep::launch, 34.5, 1.1, "iPhone 15 Pro"),
        step(LaunchStep::installedCopyCheck, 35.6, 0.1, "iPhone 15 Pro"),
    };
    steps[1].bytes = 1'100'000'000;
    return steps;
}();

PreviewManifest manifest() {
    PreviewManifest manifest = testing::makeManifest("Weather", "9f3c2a7e41d08b6c5a2e");
    manifest.previewID = "wx-128";
    manifest.repository = "octo/weather";
    manifest.pullRequest = 128;
    manifest.bundleId = "com.octo.weather";
    return manifest;
}

SelfTestReport report(const std::string& bundleIdentifier) {
    SelfTestReport report = testing::makeReport("Weather", "iPhone 15 Pro");
    report.simulator.udid = "SIM-1";
    report.app.bundleIdentifier = bundleIdentifier;
    report.app.appPath = "/Users/me/Builds/Weather.app";
    return report;
}

// The report's device and two more to open the build on.
EnvironmentSnapshot readyMachine() {
    return testing::makeReadyEnvironment(
        {testing::makeDevice("SIM-1", "iPhone 15 Pro", "18.2"),
         testing::makeDevice("SIM-2", "iPad Air 11-inch (M2)", "18.2"),
         testing::makeDevice("SIM-3", "iPhone SE", "17.5")});
}

// The main window with the state brought into a situation first, then what a person does
// in the window.
Screenshot window(std::string name, bool signedIn, std::function<void(StateDriver&)> situation,
                  std::function<void(QuickScene&)> inWindow = {}) {
    return {std::move(name), [signedIn, situation, inWindow](const std::filesystem::path& file) {
                StateDriver driver({.signedIn = signedIn});
                driver.showEnvironment(readyMachine());
                situation(driver);
                UpdateAction updates([] {});
                QuickScene scene("ContentView",
                                 {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                  {"updateAction", QVariant::fromValue(&updates)}});
                if (inWindow) {
                    inWindow(scene);
                }
                scene.saveImage(file);
            }};
}

const bool added = addScreenshots({
    window("preview-welcome", false, [](StateDriver&) {}),
    window("preview-home-builds", true,
           [](StateDriver& driver) {
               driver.loadBuilds(kBuilds);
               // A stopped launch leaves the link's build on the card at idle.
               driver.holdRemoteLaunchAt(LaunchStage::downloading, manifest());
               driver.state().launch().cancelLaunch();
           }),
    window("preview-home-long-titles", true,
           [](StateDriver& driver) {
               const std::vector<PreviewSummary> builds = longBuilds();
               driver.loadBuilds(builds);
               driver.state().watcher().setWatched(QString::fromStdString(builds[1].repository), 57,
                                                   true);
               driver.state().watcher().setOpenAutomatically(
                   QString::fromStdString(builds[1].repository), 57, true);
               PreviewManifest linked = manifest();
               linked.previewID = "ac-42";
               linked.repository = builds[0].repository;
               linked.pullRequest = 42;
               linked.displayName = "Acme Storefront Checkout Preview";
               driver.holdRemoteLaunchAt(LaunchStage::downloading, linked);
               driver.state().launch().cancelLaunch();
           }),
    window(
        "preview-success-all-builds", true,
        [](StateDriver& driver) {
            driver.loadBuilds(kBuilds);
            driver.holdRemoteLaunchAt(LaunchStage::installing, manifest());
            driver.finishHeldLaunch(report("com.octo.weather"));
        },
        [](QuickScene& scene) { scene.click("allBuildsButton"); }),
    window("preview-home-empty", true, [](StateDriver& driver) { driver.loadBuilds({}); }),
    window("preview-home-error", true,
           [](StateDriver& driver) {
               driver.failBuilds("The preview service is not answering. Try again in a minute.");
           }),
    window(
        "preview-progress-remote", true,
        [](StateDriver& driver) { driver.holdRemoteLaunchAt(LaunchStage::verifying, manifest()); }),
    window("preview-progress-download", true,
           [](StateDriver& driver) {
               driver.holdRemoteLaunchAt(LaunchStage::downloading, manifest(),
                                         {{60'000'000, 61'500'000, 63'000'000}, 126'000'000});
           }),
    window("preview-progress-early-boot", true,
           [](StateDriver& driver) {
               driver.holdRemoteLaunchAt(LaunchStage::downloading, manifest(),
                                         {{60'000'000, 61'500'000, 63'000'000}, 126'000'000},
                                         {"Starting iPhone 16 Pro…"});
           }),
    window("preview-progress-early-boot-long-name", true,
           [](StateDriver& driver) {
               driver.holdRemoteLaunchAt(LaunchStage::downloading, manifest(),
                                         {{60'000'000, 61'500'000, 63'000'000}, 126'000'000},
                                         {"iPad Pro 13-inch (M4) kept for the accessibility, "
                                          "large-text and dark-mode review of checkout is ready"});
           }),
    window("preview-progress-local", true,
           [](StateDriver& driver) {
               driver.holdLocalLaunchAt(LaunchStage::selecting, "/Users/me/Builds/Weather.app");
           }),
    window("preview-success-remote", true,
           [](StateDriver& driver) {
               driver.recordSteps(kLaunchSteps);
               driver.holdRemoteLaunchAt(LaunchStage::installing, manifest());
               driver.finishHeldLaunch(report("com.octo.weather"));
           }),
    window(
        "preview-success-other-simulator", true,
        [](StateDriver& driver) {
            driver.holdRemoteLaunchAt(LaunchStage::installing, manifest());
            driver.finishHeldLaunch(report("com.octo.weather"));
        },
        [](QuickScene& scene) {
            scene.find("linkField").setProperty("text", "weather://forecast?day=3");
            scene.click("anotherSimulatorButton");
        }),
    window(
        "preview-success-link-opened", true,
        [](StateDriver& driver) {
            driver.holdRemoteLaunchAt(LaunchStage::installing, manifest());
            driver.finishHeldLaunch(report("com.octo.weather"));
        },
        [](QuickScene& scene) {
            scene.find("linkField").setProperty("text", "weather://forecast?day=3");
            scene.click("openLinkButton");
            testing::waitFor([&] { return scene.isShown("linkConfirmation"); });
        }),
    window("preview-success-local", true,
           [](StateDriver& driver) {
               driver.holdLocalLaunchAt(LaunchStage::selecting, "/Users/me/Builds/Weather.app");
               driver.finishHeldLaunch(report("com.octo.weather"));
           }),
    window("preview-progress-local-android", true,
           [](StateDriver& driver) {
               driver.holdLocalLaunchAt(LaunchStage::booting, "/Users/me/Builds/Weather.apk");
           }),
    window("preview-success-local-android", true,
           [](StateDriver& driver) {
               driver.holdLocalLaunchAt(LaunchStage::selecting, "/Users/me/Builds/Weather.apk");
               SelfTestReport running = report("com.octo.weather");
               running.simulator.name = "Pixel_8";
               running.app.appPath = "/Users/me/Builds/Weather.apk";
               driver.finishHeldLaunch(running);
           }),
    window("preview-error-banner", true,
           [](StateDriver& driver) {
               driver.loadBuilds(kBuilds);
               driver.recordSteps({kLaunchSteps[0], kLaunchSteps[1],
                                   TimelineEntry{.step = LaunchStep::verification,
                                                 .start = 24.4,
                                                 .duration = 1.2,
                                                 .state = StepState::failed}});
               driver.holdRemoteLaunchAt(LaunchStage::verifying, manifest());
               driver.failHeldLaunch("The downloaded build does not match its checksum.");
           }),
});

}  // namespace
}  // namespace quaylet::screenshots
