#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QSignalSpy>

#include <algorithm>

#include "app/MenuBarItem.h"
#include "app/QuayletApp.h"
#include "app/SystemSymbols.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet {
namespace {

using testing::QuickScene;
using testing::StateDriver;

TEST(SystemSymbolsTest, EverySymbolIsDrawnFromTheInstalledIconSet) {
    for (const QString& symbol : SystemSymbols::symbols()) {
        EXPECT_TRUE(QIcon::hasThemeIcon(SystemSymbols::iconName(symbol))) << symbol.toStdString();
    }
    EXPECT_TRUE(SystemSymbols::iconName("no.such.symbol").isEmpty());
}

TEST(MenuBarItemTest, IconFollowsTheStage) {
    for (const LaunchStage stage : kAllLaunchStages) {
        const QString expected = stage == LaunchStage::idle      ? "play.square.stack"
                                 : stage == LaunchStage::running ? "iphone.gen3.circle.fill"
                                                                 : "arrow.triangle.2.circlepath";
        EXPECT_EQ(MenuBarItem::iconSymbol(stage), expected) << rawValue(stage);
    }
}

TEST(MenuBarItemTest, IconChangesAsALaunchGoesOn) {
    StateDriver driver;
    MenuBarItem item(driver.state(), [](const QRect&) {});
    EXPECT_EQ(item.currentSymbol(), "play.square.stack");
    driver.holdRemoteLaunchAt(LaunchStage::downloading, testing::makeManifest("Demo", "abc"));
    EXPECT_EQ(item.currentSymbol(), "arrow.triangle.2.circlepath");
    driver.finishHeldLaunch(testing::makeReport("Demo", "iPhone 15"));
    EXPECT_EQ(item.currentSymbol(), "iphone.gen3.circle.fill");
}

TEST(MenuBarItemTest, PopupHangsUnderTheItemOrAboveItWhenThereIsNoRoom) {
    const QSize popup(540, 560);
    const QRect screen(0, 0, 1920, 1080);
    // A panel at the top: under the item, centred on it.
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(1000, 0, 24, 24), popup, screen), QPoint(742, 24));
    // A panel at the bottom: above the item.
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(1000, 1056, 24, 24), popup, screen),
              QPoint(742, 496));
    // An item in the corner: kept on the screen.
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(1900, 0, 20, 24), popup, screen), QPoint(1380, 24));
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(0, 0, 20, 24), popup, screen), QPoint(0, 24));
}

TEST(QuayletAppTest, LinksReachTheStateInTheOrderGiven) {
    StateDriver driver({.signedIn = false});
    QStringList received;
    QObject::connect(&driver.state(), &AppState::receivedPreviewIDChanged, [&] {
        received.append(QString::fromStdString(driver.state().receivedPreviewID().value_or("")));
    });
    QuayletApp app(driver.state());
    app.open({QUrl("quaylet://preview/first"), QUrl("quaylet://preview/second")});
    EXPECT_EQ(received, QStringList({"first", "second"}));
}

TEST(QuayletAppTest, TheTestingWindowIsOneFixedWindowShownAgainOnRequest) {
    StateDriver driver;
    QuayletApp app(driver.state());
    app.presentPreviewWindow();
    const QWindowList before = QGuiApplication::topLevelWindows();
    app.presentPreviewWindow();
    const QWindowList windows = QGuiApplication::topLevelWindows();
    EXPECT_EQ(windows.size(), before.size());

    QWindow* shown = nullptr;
    for (QWindow* window : windows) {
        if (window->title() == "Quaylet" && window->isVisible()) {
            shown = window;
        }
    }
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->size(), QSize(540, 560));
    EXPECT_EQ(shown->minimumSize(), shown->maximumSize());
    shown->close();
    EXPECT_FALSE(shown->isVisible());
    app.presentPreviewWindow();
    EXPECT_TRUE(shown->isVisible());
}

TEST(QuayletAppTest, WithoutATrayTheMainWindowShowsInsteadOfNothing) {
    ASSERT_FALSE(MenuBarItem::isAvailable()) << "the offscreen platform has no tray";
    StateDriver driver;
    QuayletApp app(driver.state());
    app.showMenuBarItem();
    const QWindowList windows = QGuiApplication::topLevelWindows();
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(), [](QWindow* window) {
        return window->title() == "Quaylet" && window->isVisible();
    }));
}

}  // namespace
}  // namespace quaylet
