#include <gtest/gtest.h>

#include <QFont>
#include <QMetaObject>
#include <QQuickItem>
#include <QTest>

#include "app/UpdateAction.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet {
namespace {

using testing::QuickScene;
using testing::StateDriver;

class ContentViewTest : public ::testing::Test {
  protected:
    QuickScene& show(StateDriver& driver) {
        scene = std::make_unique<QuickScene>(
            "ContentView", QVariantMap{{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                       {"updateAction", QVariant::fromValue(&updates)}});
        return *scene;
    }

    void openMenu() {
        ASSERT_TRUE(QMetaObject::invokeMethod(&scene->find("applicationMenu"), "open"));
        QCoreApplication::processEvents();
    }

    int updateChecks = 0;
    UpdateAction updates{[this] { ++updateChecks; }};
    std::unique_ptr<QuickScene> scene;
};

TEST_F(ContentViewTest, TheTabSwitcherShowsOneTabAtATime) {
    StateDriver driver;
    QuickScene& view = show(driver);
    const QStringList tabs = {"previewTab", "diagnosticsTab", "settingsTab"};
    const QStringList sections = {"Preview", "Diagnostics", "Settings"};
    EXPECT_TRUE(view.isShown("previewTab"));
    for (qsizetype chosen = 0; chosen < sections.size(); ++chosen) {
        view.click("section-" + sections[chosen]);
        EXPECT_EQ(view.property("section-" + sections[chosen], "selected").toBool(), true);
        for (qsizetype tab = 0; tab < tabs.size(); ++tab) {
            EXPECT_EQ(view.isShown(tabs[tab]), tab == chosen) << tabs[tab].toStdString();
        }
    }
}

TEST_F(ContentViewTest, TheSettingsStatusLineComesIntoViewAfterItsAction) {
    StateDriver driver;
    QuickScene& view = show(driver);
    view.click("section-Settings");
    view.click("signOutButton");
    ASSERT_TRUE(StateDriver::waitUntil([&] { return view.isShown("statusLine"); }));
    auto& line = dynamic_cast<QQuickItem&>(view.find("statusLine"));
    EXPECT_TRUE(StateDriver::waitUntil([&] {
        const QRectF shown = line.mapRectToScene(line.boundingRect());
        return shown.top() >= 0 && shown.bottom() <= view.window().height();
    })) << "the status line stays below the window";
}

// Every control the Tab key reaches shows that it has the focus.
TEST_F(ContentViewTest, EveryControlReachedByTheKeyboardShowsAFocusRing) {
    StateDriver driver;
    driver.showEnvironment(
        testing::makeReadyEnvironment({testing::makeDevice("A", "iPhone 15", "18.2")}));
    QuickScene& view = show(driver);
    view.window().requestActivate();
    ASSERT_TRUE(StateDriver::waitUntil([&] { return view.window().isActive(); }));
    for (const QString section : {"Preview", "Diagnostics", "Settings"}) {
        view.click("section-" + section);
        QStringList reached;
        for (int press = 0; press < 12; ++press) {
            QTest::keyClick(&view.window(), Qt::Key_Tab);
            QQuickItem* focused = view.window().activeFocusItem();
            while (focused && !focused->inherits("QQuickControl")) {
                focused = focused->parentItem();
            }
            if (!focused || reached.contains(focused->objectName())) {
                continue;
            }
            reached.append(focused->objectName());
            auto* ring = focused->findChild<QQuickItem*>(QStringLiteral("focusRing"));
            EXPECT_TRUE(ring && ring->isVisible())
                << section.toStdString() << ": " << focused->objectName().toStdString();
        }
        EXPECT_GE(reached.size(), 4)
            << section.toStdString() << ": " << reached.join(", ").toStdString();
    }
    scene.reset();  // before the state it shows
}

TEST(PlainTextTest, BalancedLinesShareTheTextEvenlyInsteadOfLeavingAWordAlone) {
    const QString text = "Confirm that installation and Simulator launch work on this Mac.";
    for (const bool balanced : {false, true}) {
        SCOPED_TRACE(balanced ? "balanced" : "plain");
        QuickScene scene("PlainText", {{"text", text},
                                       {"balanced", balanced},
                                       {"wrapMode", 3},  // Text.Wrap
                                       {"font", QFont("Inter", 12)}});
        auto& label = dynamic_cast<QQuickItem&>(scene.root());
        const qreal fullWidth = label.implicitWidth();
        label.setWidth(fullWidth * 0.9);  // the last word no longer fits
        QCoreApplication::processEvents();
        EXPECT_EQ(label.property("lineCount").toInt(), 2);
        // Balanced, each line holds about half; otherwise the first holds nearly everything.
        EXPECT_EQ(label.property("contentWidth").toReal() < fullWidth * 0.7, balanced);
    }
}

TEST_F(ContentViewTest, TheMenuOffersSignOutOnlyWhenSignedInAndNotDuringALaunch) {
    StateDriver signedOut({.signedIn = false});
    show(signedOut);
    openMenu();
    EXPECT_FALSE(scene->isShown("signOutItem"));
    EXPECT_TRUE(scene->isShown("quitItem"));

    StateDriver driver;
    QuickScene& view = show(driver);
    openMenu();
    EXPECT_TRUE(view.isShown("signOutItem"));
    EXPECT_TRUE(view.property("signOutItem", "enabled").toBool());
    driver.holdRemoteLaunchAt(LaunchStage::downloading, testing::makeManifest("Demo", "abc"));
    EXPECT_FALSE(view.property("signOutItem", "enabled").toBool());
    EXPECT_TRUE(view.property("checkForUpdatesItem", "enabled").toBool());
}

TEST_F(ContentViewTest, CheckForUpdatesRunsTheUpdateAction) {
    StateDriver driver;
    show(driver);
    ASSERT_TRUE(QMetaObject::invokeMethod(&scene->find("checkForUpdatesItem"), "triggered"));
    EXPECT_EQ(updateChecks, 1);
}

TEST_F(ContentViewTest, ShowingTheContentChecksTheMacThenReloadsTheBuilds) {
    StateDriver driver;
    driver.simulatorService().snapshot.architecture = "arm64";
    driver.previewService().previews = {testing::makeSummary("pr-1", "Demo")};
    QuickScene& view = show(driver);
    ASSERT_TRUE(QMetaObject::invokeMethod(&view.root(), "shown"));
    ASSERT_TRUE(StateDriver::waitUntil([&] { return driver.state().builds().size() == 1; }));
    ASSERT_TRUE(driver.state().environment().has_value());
    EXPECT_EQ(driver.state().environment()->architecture, "arm64");
}

TEST_F(ContentViewTest, DismissingTheContentBeforeTheCheckEndsSkipsTheBuildsList) {
    StateDriver driver;
    driver.previewService().previews = {testing::makeSummary("pr-1", "Demo")};
    QuickScene& view = show(driver);
    ASSERT_TRUE(QMetaObject::invokeMethod(&view.root(), "shown"));
    ASSERT_TRUE(QMetaObject::invokeMethod(&view.root(), "dismissed"));
    ASSERT_TRUE(StateDriver::waitUntil([&] { return !driver.state().isCheckingEnvironment(); }));
    // The builds list would have been asked for as the diagnosis ended, on this same turn.
    QCoreApplication::processEvents();
    EXPECT_TRUE(driver.state().builds().empty());
    EXPECT_FALSE(driver.state().isLoadingBuilds());
}

}  // namespace
}  // namespace quaylet
