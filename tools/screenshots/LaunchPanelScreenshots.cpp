#include "Screenshots.h"
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
                     {{"appState", QVariant::fromValue<QObject*>(&driver.state())}});
    scene.saveImage(file);
}

const bool added = addScreenshots({
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
                                   {{288'000'000, 300'000'000, 312'000'000}, 1'100'000'000});
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
    {"panel-sign-in",
     [](const std::filesystem::path& file) {
         StateDriver driver({.signedIn = false});
         driver.receive(QUrl("quaylet://preview/weather-demo-42"));
         takePanel(driver, file);
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
