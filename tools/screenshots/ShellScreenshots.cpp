#include <QQuickItem>

#include "Screenshots.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

#include "app/LaunchHUD.h"
#include "app/MenuBarItem.h"
#include "app/QmlModule.h"
#include "app/UpdateAction.h"

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;
using testing::StateDriver;

// The main window with keyboard focus on one control, its focus ring showing.
void focusScreenshot(const std::filesystem::path& file, const QString& section,
                     const QString& control) {
    StateDriver driver;
    // A Mac that is ready, as the window shows once its first diagnosis is in.
    driver.showEnvironment(
        testing::makeReadyEnvironment({testing::makeDevice("A1", "iPhone 16 Pro", "18.2")}));
    UpdateAction updates([] {});
    QuickScene scene("PreviewWindow", {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                       {"updateAction", QVariant::fromValue(&updates)}});
    QMetaObject::invokeMethod(&scene.find("section-" + section), "clicked");
    qobject_cast<QQuickItem*>(&scene.find(control))->forceActiveFocus(Qt::TabFocusReason);
    scene.saveImage(file);
}

// The main window as it first opens, or with its "…" menu open.
void takeWindow(const std::filesystem::path& file, bool menuOpen) {
    StateDriver driver;
    UpdateAction updates([] {});
    QuickScene scene("PreviewWindow", {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                       {"updateAction", QVariant::fromValue(&updates)}});
    if (menuOpen) {
        scene.click("applicationMenuButton");
    }
    scene.saveImage(file);
}

const bool added = addScreenshots({
    {"window-ui-testing", [](const std::filesystem::path& file) { takeWindow(file, false); }},
    {"window-menu", [](const std::filesystem::path& file) { takeWindow(file, true); }},
    {"focus-tab",
     [](const std::filesystem::path& file) {
         focusScreenshot(file, "Preview", "section-Diagnostics");
     }},
    {"focus-menu-button",
     [](const std::filesystem::path& file) {
         focusScreenshot(file, "Preview", "applicationMenuButton");
     }},
    {"focus-settings-switch",
     [](const std::filesystem::path& file) {
         focusScreenshot(file, "Settings", "activateSimulatorSwitch");
     }},
    {"focus-settings-choice",
     [](const std::filesystem::path& file) {
         focusScreenshot(file, "Settings", "preferredSimulatorChoice");
     }},
    {"focus-diagnostics-button",
     [](const std::filesystem::path& file) {
         focusScreenshot(file, "Diagnostics", "chooseBuildButton");
     }},
    {"tray-menu-after-failure",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         QmlWindowMaker windows;
         LaunchHUD hud(driver.state().launch(), driver.state().account(), windows);
         MenuBarItem item(driver.state().launch(), driver.state().watcher(), hud,
                          {.activated = [](const QRect&, const QPoint&) {},
                           .openWindow = [] {},
                           .checkForUpdates = [] {},
                           .quit = [] {}});
         driver.holdRemoteLaunchAt(LaunchStage::downloading, testing::makeManifest("Demo", "a"));
         driver.failHeldLaunch("The download failed.");
         testing::waitFor([&] { return !hud.offeredAction().isEmpty(); });
         item.menu().adjustSize();
         if (!item.menu().grab().save(QString::fromStdString(file.string()))) {
             throw std::runtime_error("Could not write " + file.string());
         }
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
