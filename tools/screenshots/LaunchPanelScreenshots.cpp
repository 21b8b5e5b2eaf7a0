#include <QDeadlineTimer>
#include <QQuickWindow>

#include "Screenshots.h"
#include "app/LaunchHUD.h"
#include "app/QmlWindowMaker.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet::screenshots {
namespace {

using testing::makeManifest;
using testing::makeReport;
using testing::QuickScene;
using testing::StateDriver;

// The launch panel's card as the panel shows it, over the state the driver brought about.
void takePanel(StateDriver& driver, const std::filesystem::path& file) {
    QuickScene scene("LaunchHUDView",
                     {{"launch", QVariant::fromValue(&driver.state().launch())},
                      {"account", QVariant::fromValue(&driver.state().account())}});
    scene.saveImage(file);
}

// An Android build of the same pull request: held while its emulator boots, or running on it.
PreviewManifest androidManifest() {
    PreviewManifest manifest = makeManifest("Weather Demo", "9f3c2ab");
    manifest.platform = "android";
    manifest.bundleId = "com.example.weather";
    manifest.minimumOSVersion = "26";
    return manifest;
}

// The panel's own window as its controller shows it, after its text changed while it showed:
// from idle to the sign-in prompt, and from that to a long failure.
void takeRefittedPanel(bool thenFail, const std::filesystem::path& file) {
    StateDriver driver({.signedIn = false});
    QmlWindowMaker windows;
    LaunchHUD hud(driver.state().launch(), driver.state().account(), windows);
    hud.show();
    QCoreApplication::processEvents();
    driver.receive(QUrl("quaylet://preview/weather-demo-42"));
    testing::waitFor([&] { return hud.offeredAction() == "signIn"; });
    if (thenFail) {
        driver.state().launch().runLocalApplication(
            QUrl::fromLocalFile("/Users/me/Library/Developer/Xcode/DerivedData/Weather-"
                                "fjdkslahgurieowqpz/Build/Products/Debug-iphonesimulator/"
                                "Weather Demo.app"),
            {}, true);
        testing::waitFor([&] { return hud.offeredAction() == "dismiss"; });
    }
    QDeadlineTimer settle(600);
    while (!settle.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const QImage image = qobject_cast<QQuickWindow*>(hud.panel())->grabWindow();
    if (image.isNull() || !image.save(QString::fromStdString(file.string()))) {
        throw std::runtime_error("Could not write " + file.string());
    }
}

const bool added = addScreenshots({
    {"panel-refitted-sign-in",
     [](const std::filesystem::path& file) { takeRefittedPanel(false, file); }},
    {"panel-refitted-failure",
     [](const std::filesystem::path& file) { takeRefittedPanel(true, file); }},
    {"panel-failure-no-compositor",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::extracting,
                                   makeManifest("Weather Demo", "9f3c2ab"));
         driver.failHeldLaunch("The app has no executable");
         QuickScene scene("LaunchHUDView",
                          {{"launch", QVariant::fromValue(&driver.state().launch())},
                           {"account", QVariant::fromValue(&driver.state().account())},
                           {"composited", false}});
         scene.saveImage(file);
     }},
    {"panel-progress",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::verifying, makeManifest("Weather Demo", "9f3c2ab"));
         takePanel(driver, file);
     }},
    {"panel-download",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::downloading,
                                   makeManifest("Weather Demo", "9f3c2ab"),
                                   {{60'000'000, 61'500'000, 63'000'000}, 126'000'000});
         takePanel(driver, file);
     }},
    {"panel-early-boot",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::downloading,
                                   makeManifest("Weather Demo", "9f3c2ab"),
                                   {{60'000'000, 61'500'000, 63'000'000}, 126'000'000},
                                   {"Starting iPhone 16 Pro…", "iPhone 16 Pro is ready"});
         takePanel(driver, file);
     }},
    {"panel-early-boot-long-name",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(
             LaunchStage::downloading, makeManifest("Weather Demo", "9f3c2ab"),
             {{60'000'000, 61'500'000, 63'000'000}, 126'000'000},
             {"Starting iPad Pro 13-inch (M4) for the accessibility and large-text pass…"});
         takePanel(driver, file);
     }},
    {"panel-success",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::installing,
                                   makeManifest("Weather Demo", "9f3c2ab"));
         driver.finishHeldLaunch(makeReport("Weather Demo", "iPhone 15 Pro"));
         takePanel(driver, file);
     }},
    {"panel-failure",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::extracting,
                                   makeManifest("Weather Demo", "9f3c2ab"));
         driver.failHeldLaunch("The app has no executable");
         takePanel(driver, file);
     }},
    {"panel-android-booting",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::booting, androidManifest());
         takePanel(driver, file);
     }},
    {"panel-android-success",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         driver.holdRemoteLaunchAt(LaunchStage::installing, androidManifest());
         driver.finishHeldLaunch(makeReport("Weather Demo", "Pixel_8_API_34"));
         takePanel(driver, file);
     }},
    {"panel-sign-in",
     [](const std::filesystem::path& file) {
         StateDriver driver({.signedIn = false});
         driver.receive(QUrl("quaylet://preview/weather-demo-42"));
         takePanel(driver, file);
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
