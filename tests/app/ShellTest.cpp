#include <gtest/gtest.h>

// Before Qt, whose "signals" keyword GLib's headers use as a name.
#include <gio/gio.h>

#include <QGuiApplication>
#include <QQmlEngine>
#include <QSignalSpy>

#include <algorithm>

#include "app/DesktopPreferences.h"
#include "app/LaunchHUD.h"
#include "app/MenuBarItem.h"
#include "app/QmlModule.h"
#include "app/QuayletApp.h"
#include "app/SystemSymbols.h"
#include "app/UpdateAction.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet {
namespace {

using testing::QuickScene;
using testing::StateDriver;

TEST(SystemSymbolsTest, EverySymbolIsDrawnFromTheInstalledIconSetOrAShippedPicture) {
    for (const QString& symbol : SystemSymbols::symbols()) {
        const QUrl shipped = SystemSymbols::shippedSource(symbol);
        EXPECT_NE(shipped.isEmpty(), SystemSymbols::iconName(symbol).isEmpty());
        EXPECT_TRUE(shipped.isEmpty() ? QIcon::hasThemeIcon(SystemSymbols::iconName(symbol))
                                      : !QImage(":" + shipped.path()).isNull())
            << symbol.toStdString();
        EXPECT_FALSE(SystemSymbols::icon(symbol).pixmap(16).isNull()) << symbol.toStdString();
    }
    EXPECT_TRUE(SystemSymbols::iconName("no.such.symbol").isEmpty());
    EXPECT_TRUE(SystemSymbols::shippedSource("no.such.symbol").isEmpty());
}

TEST(MenuBarItemTest, IconFollowsTheStage) {
    for (const LaunchStage stage : kAllLaunchStages) {
        const QString expected = stage == LaunchStage::idle      ? "play.square.stack"
                                 : stage == LaunchStage::running ? "iphone.gen3.circle.fill"
                                                                 : "arrow.triangle.2.circlepath";
        EXPECT_EQ(MenuBarItem::iconSymbol(stage), expected) << rawValue(stage);
    }
}

// A tray item over a real state and launch panel, its actions counted.
struct TrayScene {
    explicit TrayScene(StateDriver::Options options = {}) : driver(options) {
        addApplicationModule(engine);
    }

    QStringList menuEntries() {
        QStringList entries;
        for (QAction* action : item.menu().actions()) {
            if (action->isVisible() && !action->isSeparator()) {
                entries.append(action->text());
            }
        }
        return entries;
    }
    void choose(const QString& entry) {
        for (QAction* action : item.menu().actions()) {
            if (action->text() == entry) {
                action->trigger();
            }
        }
    }

    StateDriver driver;
    QQmlEngine engine;
    LaunchHUD hud{driver.state(), engine};
    QStringList chosen;
    MenuBarItem item{driver.state(), hud,
                     MenuBarItem::Actions{
                         .activated = [](const QRect&, const QPoint&) {},
                         .openWindow = [this] { chosen.append("open"); },
                         .checkForUpdates = [this] { chosen.append("updates"); },
                         .quit = [this] { chosen.append("quit"); },
                     }};
};

TEST(MenuBarItemTest, TheMenuHoldsEveryActionAndThePanelsButtonWhileItShows) {
    const QStringList always = {"Open Quaylet", "Check for Updates…", "Quit Quaylet"};
    struct Case {
        const char* name;
        bool signedIn;
        std::function<void(StateDriver&)> situation;
        QString panelEntry;  // empty: none
    };
    const Case cases[] = {
        {"nothing happened", true, [](StateDriver&) {}, ""},
        {"a launch runs", true,
         [](StateDriver& driver) {
             driver.holdRemoteLaunchAt(LaunchStage::downloading,
                                       testing::makeManifest("Demo", "abc"));
         },
         ""},
        {"a launch failed", true,
         [](StateDriver& driver) {
             driver.holdRemoteLaunchAt(LaunchStage::downloading,
                                       testing::makeManifest("Demo", "abc"));
             driver.failHeldLaunch("The disk is full.");
         },
         "Dismiss"},
        {"a link while signed out", false,
         [](StateDriver& driver) { driver.receive(QUrl("quaylet://preview/abc")); }, "Sign in"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TrayScene scene({.signedIn = test.signedIn});
        test.situation(scene.driver);
        QCoreApplication::processEvents();
        QStringList expected = always;
        if (!test.panelEntry.isEmpty()) {
            expected.insert(2, test.panelEntry);
        }
        EXPECT_EQ(scene.menuEntries(), expected);

        // The menu's entry and the main window's button do what the panel's button does,
        // and leave with the panel.
        UpdateAction updates([] {});
        QuickScene window("ContentView",
                          {{"appState", QVariant::fromValue<QObject*>(&scene.driver.state())},
                           {"updateAction", QVariant::fromValue(&updates)},
                           {"launchPanel", QVariant::fromValue<QObject*>(&scene.hud)}});
        EXPECT_EQ(window.isShown("dismissPanelButton"), test.panelEntry == "Dismiss");
        if (test.panelEntry == "Dismiss") {
            scene.choose("Dismiss");
            EXPECT_TRUE(StateDriver::waitUntil([&] { return !scene.hud.panel()->isVisible(); }));
            EXPECT_EQ(scene.menuEntries(), always);
            EXPECT_FALSE(window.isShown("dismissPanelButton"));
            scene.hud.show();
            window.click("dismissPanelButton");
            EXPECT_TRUE(StateDriver::waitUntil([&] { return !scene.hud.panel()->isVisible(); }));
        }
    }
    TrayScene scene;
    for (const QString& entry : always) {
        scene.choose(entry);
    }
    EXPECT_EQ(scene.chosen, QStringList({"open", "updates", "quit"}));
}

TEST(MenuBarItemTest, ThePopupHangsFromTheItemElseThePointerElseWhereThePlatformPutsIt) {
    const QRect item(1000, 0, 24, 24);
    const QPoint pointer(300, 400);
    EXPECT_EQ(MenuBarItem::popupAnchor(item, pointer, false), item);
    EXPECT_EQ(MenuBarItem::popupAnchor(item, pointer, true), item);
    EXPECT_EQ(MenuBarItem::popupAnchor(QRect(), pointer, false), QRect(pointer, QSize(1, 1)));
    EXPECT_EQ(MenuBarItem::popupAnchor(QRect(), pointer, true), std::nullopt);
}

TEST(DesktopPreferencesTest, ReducedMotionFollowsTheDesktopWhileRunning) {
    DesktopPreferences desktop;
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    for (const bool reduce : {!desktop.reduceMotion(), desktop.reduceMotion()}) {
        g_settings_set_boolean(settings, "enable-animations", !reduce);
        EXPECT_TRUE(StateDriver::waitUntil([&] { return desktop.reduceMotion() == reduce; }));
    }
    g_object_unref(settings);
}

TEST(MenuBarItemTest, IconChangesAsALaunchGoesOn) {
    TrayScene scene;
    StateDriver& driver = scene.driver;
    MenuBarItem& item = scene.item;
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

TEST(QuayletAppTest, ThePopupStaysWhileOneOfTheApplicationsOwnWindowsHasTheFocus) {
    StateDriver driver;
    UpdateAction updates([] {});
    QuickScene popup("PopupWindow", {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                     {"updateAction", QVariant::fromValue(&updates)}});
    popup.window().requestActivate();
    ASSERT_TRUE(StateDriver::waitUntil([&] { return popup.window().isActive(); }));

    // Such as the update dialog, or the build chooser.
    QQuickWindow dialog;
    dialog.show();
    dialog.requestActivate();
    ASSERT_TRUE(StateDriver::waitUntil([&] { return dialog.isActive(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(popup.window().isVisible());
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
