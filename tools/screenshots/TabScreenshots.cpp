#include "Screenshots.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

#include "app/UpdateAction.h"
#include "core/android/EmulatorDiscovery.h"
#include "core/process/DeveloperTools.h"

#include <QQuickItem>

#include <algorithm>

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;
using testing::StateDriver;

// The main window on one of its tabs, scrolled down to the named item when there is one.
void saveWindow(StateDriver& driver, const QString& section, const std::filesystem::path& file,
                const QString& scrolledTo = {}) {
    UpdateAction updates([] {});
    QuickScene scene("ContentView", {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                     {"updateAction", QVariant::fromValue(&updates)},
                                     {"selectedSection", section}});
    if (!scrolledTo.isEmpty()) {
        auto* item = qobject_cast<QQuickItem*>(&scene.find(scrolledTo));
        QQuickItem* flickable = item->parentItem();
        while (flickable && !flickable->inherits("QQuickFlickable")) {
            flickable = flickable->parentItem();
        }
        const qreal bottom = flickable->property("contentHeight").toReal() - flickable->height();
        flickable->setProperty("contentY", std::max<qreal>(0, bottom));
    }
    scene.saveImage(file);
}

// The Android part as the real discovery gathers it over the stand-in adb and emulator: their
// seeded emulators with the first one started, or, without those tools, no SDK at all.
AndroidEnvironment android(const std::filesystem::path& folder, bool withSdk) {
    const testing::ScopedEnvironment home("QUAYLET_EMULATOR_HOME", folder.string());
    const AndroidSdk sdk(folder / "sdk", folder / "avd");
    const ProcessRunner runner;
    if (withSdk) {
        for (const auto& [tool, link] :
             {std::pair{"adb", sdk.adb()}, {"emulator", sdk.emulator()}}) {
            std::filesystem::create_directories(link.parent_path());
            std::filesystem::create_symlink(DeveloperTools::forThisHost().directory() / tool, link);
        }
        runner.runChecked(sdk.bootEmulator("Pixel_8_API_34", 5554), {});
    }
    AndroidEnvironment android = EmulatorDiscovery(runner, sdk).environment({});
    // Where a user's SDK is, rather than the throwaway folder.
    android.sdkFolder = "/home/dana/Android/Sdk";
    return android;
}

EnvironmentSnapshot readyMac() {
    return testing::makeReadyEnvironment({
        testing::makeDevice("A1", "iPhone 16 Pro", "18.2"),
        testing::makeDevice("A2", "iPhone 16", "18.2"),
        testing::makeDevice("B1", "iPad Air 11-inch (M2)", "17.5"),
    });
}

// A ready Mac beside an Android SDK, scrolled down to the named item when there is one.
Screenshot readyWithAndroid(const std::string& name, const QString& scrolledTo) {
    return {name, [scrolledTo](const std::filesystem::path& file) {
                StateDriver driver;
                EnvironmentSnapshot snapshot = readyMac();
                snapshot.android = android(driver.folder() / "android", true);
                driver.showEnvironment(snapshot);
                saveWindow(driver, "Diagnostics", file, scrolledTo);
            }};
}

EnvironmentSnapshot macWithoutXcode() {
    EnvironmentSnapshot snapshot;
    snapshot.architecture = "arm64";
    snapshot.failures = {
        "Xcode command-line tools aren’t selected. Choose them in Xcode Settings under "
        "Locations.",
        "Simulator tools aren’t available. Install Xcode, then select its command-line tools.",
        "A required Mac command failed. Open Diagnostics, then try again.",
    };
    return snapshot;
}

const bool added = addScreenshots({
    {"diagnostics-checking",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdDiagnostics();
         saveWindow(driver, "Diagnostics", file);
     }},
    readyWithAndroid("diagnostics-ready", {}),
    readyWithAndroid("diagnostics-ready-android", "androidSection"),
    {"diagnostics-failing",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         EnvironmentSnapshot snapshot = macWithoutXcode();
         snapshot.android = android(driver.folder() / "android", false);
         driver.showEnvironment(snapshot);
         saveWindow(driver, "Diagnostics", file, "androidSection");
     }},
    {"build-chooser",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.showEnvironment(readyMac());
         const std::filesystem::path home = driver.folder() / "home";
         for (const char* folder :
              {"Desktop", "Documents", "Downloads", "Projects", "Weather Demo.app",
               "Maps Demo (nightly build 2026-12-07).app"}) {
             std::filesystem::create_directories(home / folder);
         }
         const testing::ScopedEnvironment homeFolder("HOME", home.string());
         UpdateAction updates([] {});
         QuickScene scene("ContentView",
                          {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                           {"updateAction", QVariant::fromValue(&updates)},
                           {"selectedSection", "Diagnostics"}});
         QMetaObject::invokeMethod(&scene.find("diagnosticsTab"), "chooseBuild");
         testing::waitFor(
             [&] { return scene.property("buildChooserFolders", "count").toInt() == 6; });
         scene.saveImage(file);
     }},
    {"settings-signed-in",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.showEnvironment(readyMac());
         driver.state().cache().clearDownloadCache();
         testing::waitFor([&] { return driver.state().launch().activeDetail().has_value(); });
         saveWindow(driver, "Settings", file);
     }},
    {"settings-cache",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.showEnvironment(readyMac());
         driver.previewService().cached = {
             {"weather-demo-42", "/cache/weather-demo-42/1", 2'100'000'000, std::nullopt},
             {"maps-demo-7", "/cache/maps-demo-7/1", 1'100'000'000, std::nullopt}};
         driver.state().cache().setCacheLimit(5);
         testing::waitFor([&] { return driver.state().cache().cacheSize().has_value(); });
         saveWindow(driver, "Settings", file);
     }},
    {"settings-signed-out",
     [](const std::filesystem::path& file) {
         StateDriver driver({.signedIn = false});
         driver.showEnvironment(readyMac());
         saveWindow(driver, "Settings", file, "accountStatus");
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
