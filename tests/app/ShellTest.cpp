#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileOpenEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include <algorithm>

#include "app/DesktopPreferences.h"
#include "app/LaunchHUD.h"
#include "app/MenuBarItem.h"
#include "app/QmlModule.h"
#include "app/QuayletApp.h"
#include "app/SymbolImage.h"
#include "app/SystemSymbols.h"
#include "appsupport/View.h"

namespace quaylet {
namespace {

using testing::StateDriver;
using testing::View;

TEST(SystemSymbolsTest, EverySymbolIsDrawnFromTheInstalledIconSetOrAShippedPicture) {
    for (const QString& symbol : SystemSymbols::symbols()) {
        EXPECT_FALSE(SystemSymbols::icon(symbol).pixmap(16).isNull()) << symbol.toStdString();
    }
}

// The symbol's shape in the item's colour and nothing else; no symbol, or one the table does
// not know, draws nothing.
TEST(SymbolImageTest, DrawsTheSymbolsShapeInItsColourOnly) {
    for (const auto& [symbol, shown] :
         {std::pair{"checkmark", true}, {"tray", true}, {"", false}, {"no.such.symbol", false}}) {
        SymbolImage item;
        item.setSize(QSizeF(16, 16));
        item.setSymbol(symbol);
        item.setColor(QColor(200, 30, 40));
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        item.paint(&painter);
        painter.end();
        int covered = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    ++covered;
                    EXPECT_EQ(pixel.rgb(), QColor(200, 30, 40).rgb()) << symbol;
                }
            }
        }
        EXPECT_EQ(covered > 0, shown) << symbol;
    }
}

// A tray item over a real state and launch panel, its actions counted.
struct Tray {
    explicit Tray(bool signedIn = true) : driver({.signedIn = signedIn}) {}

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
    QmlWindowMaker windows;
    LaunchHUD hud{driver.state().launch(), driver.state().account(), windows};
    QStringList chosen;
    MenuBarItem item{driver.state().launch(), driver.state().watcher(), hud,
                     MenuBarItem::Actions{
                         .activated = [](const QRect&, const QPoint&) {},
                         .openWindow = [this] { chosen.append("open"); },
                         .checkForUpdates = [this] { chosen.append("updates"); },
                         .quit = [this] { chosen.append("quit"); },
                     }};
};

TEST(MenuBarItemTest, TheMenuHoldsEveryActionAndThePanelsButtonWhileItShows) {
    const QStringList always = {"Open Quaylet", "Check for Updates…", "Quit Quaylet"};
    // The icon follows the launch; the menu offers nothing of a launch that goes well.
    Tray tray;
    EXPECT_EQ(tray.item.currentSymbol(), "play.square.stack");
    tray.driver.holdRemoteLaunchAt(LaunchStage::downloading, testing::makeManifest("Demo", "abc"));
    tray.driver.finishHeldLaunch(testing::makeReport("Demo", "iPhone 15"));
    EXPECT_EQ(tray.item.currentSymbol(), "iphone.gen3.circle.fill");
    tray.driver.holdRemoteLaunchAt(LaunchStage::downloading, testing::makeManifest("Demo", "abc"));
    EXPECT_EQ(tray.item.currentSymbol(), "arrow.triangle.2.circlepath");
    QCoreApplication::processEvents();
    EXPECT_EQ(tray.menuEntries(), always);

    // A failure's Dismiss is in the menu, and leaves with the panel; the main window's
    // banner stays until its own Dismiss, which takes the panel showing its error along.
    tray.driver.failHeldLaunch("The disk is full.");
    QCoreApplication::processEvents();
    EXPECT_EQ(tray.menuEntries(),
              QStringList({"Open Quaylet", "Check for Updates…", "Dismiss", "Quit Quaylet"}));
    UpdateAction updates([] {});
    testing::QuickScene window("ContentView",
                               {{"appState", QVariant::fromValue<QObject*>(&tray.driver.state())},
                                {"updateAction", QVariant::fromValue(&updates)},
                                {"launchPanel", QVariant::fromValue<QObject*>(&tray.hud)}});
    tray.choose("Dismiss");
    EXPECT_TRUE(testing::waitFor([&] { return !tray.hud.panel()->isVisible(); }));
    EXPECT_EQ(tray.menuEntries(), always);
    EXPECT_TRUE(window.isShown("errorBanner"));
    tray.hud.show();
    window.click("dismissErrorButton");
    EXPECT_TRUE(testing::waitFor([&] { return !tray.hud.panel()->isVisible(); }));
    EXPECT_FALSE(window.isShown("errorBanner"));
    for (const QString& entry : always) {
        tray.choose(entry);
    }
    EXPECT_EQ(tray.chosen, QStringList({"open", "updates", "quit"}));

    Tray signedOut(false);
    signedOut.driver.receive(QUrl("quaylet://preview/abc"));
    QCoreApplication::processEvents();
    EXPECT_EQ(signedOut.menuEntries(),
              QStringList({"Open Quaylet", "Check for Updates…", "Sign in", "Quit Quaylet"}));
}

// Where no notification can announce a watched build, the tooltip does, its title inert.
TEST(MenuBarItemTest, TheTooltipAnnouncesAReadyBuildThatNoNotificationCouldShow) {
    Tray tray;
    PreviewSummary ready = testing::makeSummary("p-1", "App");
    ready.pullRequestTitle = "Fix %1 in logs\nforged";
    tray.driver.previewService().previews = {ready};
    tray.driver.state().watcher().start(nullptr);
    tray.driver.state().watcher().watch({.repository = "octo/app", .pullRequest = 7});
    ASSERT_TRUE(testing::waitFor([&] { return tray.item.toolTip() != "Quaylet"; }));
    EXPECT_EQ(tray.item.toolTip(),
              "Quaylet\nBuild ready · Fix %1 in logs\uFFFDforged · octo/app #7");
}

TEST(MenuBarItemTest, ThePopupHangsFromTheItemElseThePointerElseWhereThePlatformPutsIt) {
    const QRect item(1000, 0, 24, 24);
    const QPoint pointer(300, 400);
    EXPECT_EQ(MenuBarItem::popupAnchor(item, pointer, true), item);
    EXPECT_EQ(MenuBarItem::popupAnchor(QRect(), pointer, false), QRect(pointer, QSize(1, 1)));
    EXPECT_EQ(MenuBarItem::popupAnchor(QRect(), pointer, true), std::nullopt);

    // Under the item and centred on it, above it where there is no room below, and always
    // on the screen.
    const QSize popup(540, 560);
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(MenuBarItem::popupPosition(item, popup, screen), QPoint(742, 24));
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(1000, 1056, 24, 24), popup, screen),
              QPoint(742, 496));
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(1900, 0, 20, 24), popup, screen), QPoint(1380, 24));
    EXPECT_EQ(MenuBarItem::popupPosition(QRect(0, 0, 20, 24), popup, screen), QPoint(0, 24));
}

// The desktop portal's Settings as a test sets them, on the test program's own session bus.
// It has a connection of its own, as the portal would.
class SettingsPortal : public QDBusVirtualObject {
  public:
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = "org.freedesktop.portal.Settings";

    SettingsPortal() {
        bus_.registerVirtualObject(kPath, this);
        bus_.registerService("org.freedesktop.portal.Desktop");
    }
    ~SettingsPortal() override {
        bus_.unregisterService("org.freedesktop.portal.Desktop");
        bus_.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(bus_.name());
    }

    void set(const QString& settingNamespace, const QString& key, bool value) {
        values_[settingNamespace + "/" + key] = value;
        QDBusMessage changed = QDBusMessage::createSignal(kPath, kInterface, "SettingChanged");
        changed << settingNamespace << key << QVariant::fromValue(QDBusVariant(value));
        bus_.send(changed);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        const QStringList arguments{message.arguments().value(0).toString(),
                                    message.arguments().value(1).toString()};
        const auto value = values_.find(arguments.join("/"));
        if (message.member() != "Read" || value == values_.end()) {
            bus_.send(message.createErrorReply("org.freedesktop.portal.Error.NotFound",
                                               "Requested setting not found"));
        } else {
            // As the portal does, Read wraps the value in one variant more than the signal.
            bus_.send(message.createReply(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(*value))))));
        }
        return true;
    }

  private:
    QDBusConnection bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "portal");
    QHash<QString, bool> values_;
};

TEST(DesktopPreferencesTest, ReducedMotionFollowsTheDesktopPortalWhileRunning) {
    const QString interface = "org.gnome.desktop.interface";
    SettingsPortal portal;
    portal.set(interface, "enable-animations", false);
    DesktopPreferences desktop;
    EXPECT_TRUE(testing::waitFor([&] { return desktop.reduceMotion(); }));

    portal.set(interface, "enable-animations", true);
    EXPECT_TRUE(testing::waitFor([&] { return !desktop.reduceMotion(); }));

    // Another key, or the same key elsewhere, changes nothing: of these four changes only
    // the last is seen.
    QSignalSpy changes(&desktop, &DesktopPreferences::reduceMotionChanged);
    portal.set("org.gnome.desktop.a11y", "enable-animations", false);
    portal.set(interface, "enable-hot-corners", false);
    portal.set(interface, "enable-animations", true);
    portal.set(interface, "enable-animations", false);
    EXPECT_TRUE(testing::waitFor([&] { return desktop.reduceMotion(); }));
    EXPECT_EQ(changes.count(), 1);
}

TEST(QuayletAppTest, ThePopupStaysWhileOneOfTheApplicationsOwnWindowsHasTheFocus) {
    View popup("PopupWindow");
    popup.scene.window().requestActivate();
    ASSERT_TRUE(testing::waitFor([&] { return popup.scene.window().isActive(); }));

    // Such as the update dialog, or the build chooser.
    QQuickWindow dialog;
    dialog.show();
    dialog.requestActivate();
    ASSERT_TRUE(testing::waitFor([&] { return dialog.isActive(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(popup.scene.window().isVisible());
}

// The engine and every window wait for their first use: an idle tray item carries none.
TEST(QuayletAppTest, LinksReachTheStateInOrderAndShowTheLaunchPanelEvenWhenThereAreNone) {
    StateDriver driver({.signedIn = false});
    QStringList received;
    QObject::connect(&driver.state().launch(), &Launch::receivedPreviewIDChanged, [&] {
        received.append(
            QString::fromStdString(driver.state().launch().receivedPreviewID().value()));
    });
    QuayletApp app(driver.state());
    EXPECT_FALSE(app.windows().hasEngine());
    app.open({});
    ASSERT_NE(app.launchHUD().panel(), nullptr);
    EXPECT_TRUE(app.launchHUD().panel()->isVisible());
    QFileOpenEvent event(QUrl("quaylet://preview/from-event"));
    QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
    app.open({QUrl("quaylet://preview/first"), QUrl("quaylet://preview/second")});
    EXPECT_EQ(received, QStringList({"from-event", "first", "second"}));
}

// Where there is no tray the main window shows instead of nothing, and asking for it again
// brings back the same fixed window rather than a second one.
TEST(QuayletAppTest, WithoutATrayTheMainWindowShowsInsteadOfNothing) {
    ASSERT_FALSE(MenuBarItem::isAvailable()) << "the offscreen platform has no tray";
    StateDriver driver;
    QuayletApp app(driver.state());
    app.showMenuBarItem();
    const QWindowList windows = QGuiApplication::topLevelWindows();
    const auto shown = std::find_if(windows.begin(), windows.end(), [](QWindow* window) {
        return window->title() == "Quaylet" && window->isVisible();
    });
    ASSERT_NE(shown, windows.end());
    EXPECT_EQ((*shown)->minimumSize(), (*shown)->maximumSize());
    (*shown)->close();
    app.presentPreviewWindow();
    EXPECT_EQ(QGuiApplication::topLevelWindows(), windows);
    EXPECT_TRUE((*shown)->isVisible());
}

}  // namespace
}  // namespace quaylet
