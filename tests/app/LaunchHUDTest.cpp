#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QScreen>
#include <QtMath>

#include <exception>

#include "app/LaunchHUD.h"
#include "app/QmlModule.h"
#include "app/QuayletApp.h"
#include "appsupport/BrowserDouble.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"
#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

using testing::makeManifest;
using testing::makeReport;
using testing::QuickScene;
using testing::StateDriver;

// A launch panel controller over a real state driven through the doubles.
struct HUDScene {
    explicit HUDScene(StateDriver::Options options = {}) : driver(options) {}

    // The state's changes are judged in a queued evaluation: let it run.
    static void settle() { QCoreApplication::processEvents(); }

    bool isShown() const { return hud.panel() && hud.panel()->isVisible(); }

    QObject& find(const char* objectName) const {
        QObject* found = hud.panel()->findChild<QObject*>(objectName);
        if (!found) {
            throw std::runtime_error(std::string("No object named ") + objectName);
        }
        return *found;
    }
    QString text(const char* objectName) const {
        return find(objectName).property("text").toString();
    }
    bool controlShown(const char* objectName) const {
        return find(objectName).property("visible").toBool();
    }
    void click(const char* objectName) { QMetaObject::invokeMethod(&find(objectName), "clicked"); }
    bool waitUntilHidden() {
        return StateDriver::waitUntil([&] { return !hud.panel()->isVisible(); });
    }

    StateDriver driver;
    QmlWindowMaker windows;
    LaunchHUD hud{driver.state(), windows};
};

TEST(LaunchHUDTest, ThePanelIsMadeOnFirstShowFittedToItsContentAtTheTopCentre) {
    HUDScene scene;
    EXPECT_EQ(scene.hud.panel(), nullptr);
    scene.hud.show();
    QWindow* panel = scene.hud.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->flags().testFlag(Qt::WindowDoesNotAcceptFocus));

    const auto expectFittedAndPlaced = [&] {
        auto& view = dynamic_cast<QQuickItem&>(scene.find("launchView"));
        EXPECT_EQ(panel->size(), QSize(qCeil(view.implicitWidth()), qCeil(view.implicitHeight())));
        const QScreen* screen = QGuiApplication::primaryScreen();
        EXPECT_NEAR(panel->x() + panel->width() / 2.0, screen->geometry().center().x() + 0.5, 1);
        EXPECT_EQ(panel->y(), screen->availableGeometry().top() + 10);
        EXPECT_TRUE(panel->mask().isEmpty()) << "this platform blends translucent windows";
    };
    expectFittedAndPlaced();
    const QSize idle = panel->size();

    // A long failure widens the content; showing again follows it.
    scene.driver.state().runLocalApplication(
        QUrl::fromLocalFile("/builds/" + QString(60, 'X') + ".app"), {}, true);
    StateDriver::waitUntil([&] { return scene.driver.state().errorMessage().has_value(); });
    scene.settle();
    EXPECT_NE(panel->size(), idle);
    expectFittedAndPlaced();

    scene.hud.hide();
    ASSERT_TRUE(scene.waitUntilHidden());
    scene.hud.show();
    EXPECT_EQ(scene.hud.panel(), panel);
    EXPECT_TRUE(panel->isVisible());
}

TEST(LaunchHUDTest, WithoutCompositingThePanelIsCutToTheCardsRoundedOutline) {
    const QRectF card(6, 6, 320, 50);
    EXPECT_TRUE(LaunchHUD::panelMask(card, 14, true).isEmpty());
    const QRegion cut = LaunchHUD::panelMask(card, 14, false);
    struct Case {
        QPoint point;
        bool inside;
    };
    const Case cases[] = {
        {{166, 31}, true}, {{160, 7}, true},   {{7, 31}, true},     // middle, edges
        {{2, 2}, false},   {{7, 7}, false},    {{323, 53}, false},  // margin, corners
        {{170, 2}, false}, {{330, 31}, false},                      // the shadow's margin
    };
    for (const Case& test : cases) {
        EXPECT_EQ(cut.contains(test.point), test.inside) << test.point.x() << "," << test.point.y();
    }
}

TEST(LaunchHUDTest, ShowingAgainNeverFadesInTwiceAndCatchesAFadeOut) {
    HUDScene scene;
    scene.hud.show();
    auto* panel = qobject_cast<QQuickWindow*>(scene.hud.panel());
    QQuickItem* content = panel->contentItem();
    ASSERT_TRUE(StateDriver::waitUntil([&] { return content->opacity() == 1.0; }));
    scene.hud.show();
    EXPECT_EQ(content->opacity(), 1.0);

    // A show that comes while the panel fades out keeps it on screen.
    scene.hud.hide();
    ASSERT_TRUE(StateDriver::waitUntil([&] { return content->opacity() < 1.0; }));
    scene.hud.show();
    StateDriver::waitUntil([&] { return !panel->isVisible() || content->opacity() == 1.0; });
    EXPECT_TRUE(panel->isVisible());
}

TEST(LaunchHUDTest, ALaunchShowsFromItsFirstStageAndFadesOutAfterSuccess) {
    HUDScene scene;
    scene.driver.holdRemoteLaunchAt(LaunchStage::downloading, makeManifest("Demo", "abc1234"));
    scene.settle();
    ASSERT_TRUE(scene.isShown());
    EXPECT_EQ(scene.text("launchTitle"), "Opening Demo in Simulator");
    EXPECT_TRUE(scene.controlShown("launchProgress"));
    EXPECT_DOUBLE_EQ(scene.find("launchProgress").property("value").toDouble(),
                     progress(LaunchStage::downloading));
    EXPECT_FALSE(scene.hud.isHideScheduled());

    scene.driver.finishHeldLaunch(makeReport("Demo", "iPhone 15"));
    scene.settle();
    EXPECT_TRUE(scene.hud.isHideScheduled());
    EXPECT_EQ(scene.text("launchTitle"), "Demo is running in Simulator");
    EXPECT_EQ(scene.text("launchSubtitle"), "Running in iPhone 15");
    EXPECT_EQ(scene.find("launchGlyph").property("symbol"), "checkmark");
    for (const char* control : {"launchProgress", "dismissButton", "signInButton"}) {
        EXPECT_FALSE(scene.controlShown(control)) << control;
    }
    EXPECT_TRUE(scene.waitUntilHidden());
}

TEST(LaunchHUDTest, ANewLaunchCancelsThePendingHide) {
    HUDScene scene;
    scene.driver.holdRemoteLaunchAt(LaunchStage::installing, makeManifest("Demo", "abc1234"));
    scene.driver.finishHeldLaunch(makeReport("Demo", "iPhone 15"));
    scene.settle();
    ASSERT_TRUE(scene.hud.isHideScheduled());

    scene.driver.holdRemoteLaunchAt(LaunchStage::fetching, makeManifest("Other", "def5678"));
    scene.settle();
    EXPECT_FALSE(scene.hud.isHideScheduled());
    EXPECT_TRUE(scene.isShown());
    EXPECT_EQ(scene.text("launchTitle"), "Opening Other in Simulator");
}

TEST(LaunchHUDTest, AFailureRightAfterASuccessStaysUntilDismissed) {
    HUDScene scene;
    scene.driver.holdRemoteLaunchAt(LaunchStage::installing, makeManifest("Demo", "abc1234"));
    scene.driver.finishHeldLaunch(makeReport("Demo", "iPhone 15"));
    scene.settle();
    ASSERT_TRUE(scene.hud.isHideScheduled());

    scene.driver.receive(QUrl("quaylet://preview/"));
    scene.settle();
    ASSERT_TRUE(scene.driver.state().errorMessage().has_value());
    EXPECT_FALSE(scene.hud.isHideScheduled());
    EXPECT_EQ(scene.text("launchTitle"), "Couldn’t open this build");
}

TEST(LaunchHUDTest, AFailureShowsOncePerMessageAndStaysUntilDismissed) {
    HUDScene scene;
    scene.driver.holdLocalLaunchAt(LaunchStage::selecting, scene.driver.folder() / "Demo.app");
    scene.driver.failHeldLaunch("The bundle is damaged");
    scene.settle();
    ASSERT_TRUE(scene.isShown());
    const QString failure = QString::fromStdString(*scene.driver.state().errorMessage());
    EXPECT_EQ(scene.text("launchTitle"), "Couldn\u2019t open this build");
    EXPECT_EQ(scene.text("launchSubtitle"), failure);
    EXPECT_EQ(scene.find("launchGlyph").property("symbol"), "exclamationmark");
    EXPECT_TRUE(scene.controlShown("dismissButton"));
    EXPECT_FALSE(scene.hud.isHideScheduled());

    scene.click("dismissButton");
    ASSERT_TRUE(scene.waitUntilHidden());

    // The service refuses the token: the state changes, the message does not.
    scene.driver.previewService().listFailure =
        std::make_exception_ptr(QuayletError::authenticationRequired());
    const QFuture<void> refreshed = scene.driver.state().refreshBuilds();
    StateDriver::waitUntil([&] { return refreshed.isFinished(); });
    ASSERT_FALSE(scene.driver.state().isSignedIn());
    scene.settle();
    EXPECT_FALSE(scene.isShown());

    scene.driver.receive(QUrl("quaylet://elsewhere"));
    scene.settle();
    EXPECT_TRUE(scene.isShown());
    EXPECT_NE(scene.text("launchSubtitle"), failure);
    EXPECT_EQ(scene.text("launchSubtitle"),
              QString::fromStdString(*scene.driver.state().errorMessage()));
}

TEST(LaunchHUDTest, ALinkWhileSignedOutAsksToSignIn) {
    HUDScene scene({.signedIn = false});
    scene.driver.receive(QUrl("quaylet://preview/abc"));
    scene.settle();
    ASSERT_TRUE(scene.isShown());
    EXPECT_EQ(scene.text("launchTitle"), "Sign in once to open this build");
    EXPECT_EQ(scene.text("launchSubtitle"),
              QString::fromStdString(*scene.driver.state().activeDetail()));
    EXPECT_TRUE(scene.controlShown("signInButton"));
    EXPECT_FALSE(scene.controlShown("launchProgress"));
}

TEST(LaunchHUDTest, TheSignInPromptWaitsForAnEvaluationThatAlreadySawIdle) {
    HUDScene scene;
    scene.driver.holdRemoteLaunchAt(LaunchStage::downloading, makeManifest("Demo", "abc1234"));
    scene.settle();
    scene.hud.hide();
    ASSERT_TRUE(scene.waitUntilHidden());

    // The token is gone; signing out stops the launch in the same pass, so the evaluation
    // sees the launch end rather than a link waiting for sign-in.
    scene.driver.tokenStore().token.reset();
    scene.driver.state().signOut();
    scene.settle();
    ASSERT_TRUE(scene.driver.state().receivedPreviewID().has_value());
    EXPECT_FALSE(scene.isShown());

    scene.driver.receive(QUrl("quaylet://preview/abc"));
    scene.settle();
    EXPECT_TRUE(scene.isShown());
    EXPECT_EQ(scene.text("launchTitle"), "Sign in once to open this build");
}

TEST(LaunchHUDTest, SignInOpensTheServicePageAndLetsItsReturnLinkThrough) {
    HUDScene scene({.signedIn = false});
    testing::BrowserDouble browser;
    scene.driver.receive(QUrl("quaylet://preview/abc"));
    scene.settle();
    scene.click("signInButton");
    EXPECT_EQ(browser.openedURLs(), QList<QUrl>{scene.driver.state().signInURL()});

    // The whole sign-in is waited for: it goes on reloading the builds after the exchange.
    const QFuture<void> signedIn =
        scene.driver.state().receive(QUrl("quaylet://auth?code=from-the-browser"));
    ASSERT_TRUE(StateDriver::waitUntil([&] { return signedIn.isFinished(); }));
    EXPECT_EQ(scene.driver.previewService().exchangedCodes(),
              std::vector<std::string>{"from-the-browser"});
}

TEST(LaunchHUDViewTest, SaysWhatHappensToTheBuild) {
    const QVariant absent;
    const QString failure = "The archive could not be verified. Try again.";
    struct Case {
        const char* stage;
        QVariant errorMessage;
        QVariant activeAppName;
        QVariant activeDetail;
        QVariant receivedPreviewID;
        bool isSignedIn;
        QString title;
        QString subtitle;
        QString symbol;
        QString control;  // empty when there is none
        QString value;    // what the card reads as its value; empty when there is none
    };
    const Case cases[] = {
        {"idle", absent, absent, absent, absent, true, "Quaylet", "Getting the build ready",
         "play.fill", "", ""},
        {"idle", absent, "Demo", "acme/demo", absent, true, "Demo", "acme/demo", "play.fill", "",
         ""},
        {"fetching", absent, absent, absent, "p1", true, "Opening the build in Simulator",
         "Getting the build ready", "play.fill", "launchProgress",
         "Getting the build, step 1 of 5"},
        {"installing", absent, "Demo", "acme/demo \u00B7 PR #4", "p1", true,
         "Opening Demo in Simulator", "acme/demo \u00B7 PR #4", "play.fill", "launchProgress",
         "Installing, step 4 of 5"},
        {"running", absent, absent, absent, absent, true, "Build is running in Simulator", "Ready",
         "checkmark", "", ""},
        {"running", absent, "Demo", "Running in iPhone 15", "p1", true,
         "Demo is running in Simulator", "Running in iPhone 15", "checkmark", "", ""},
        {"idle", failure, "Demo", "acme/demo", "p1", true, "Couldn\u2019t open this build", failure,
         "exclamationmark", "dismissButton", ""},
        {"idle", failure, "Demo", "Sign-in failed", "p1", false, "Couldn\u2019t open this build",
         failure, "exclamationmark", "dismissButton", ""},
        {"idle", absent, "Pull request build", "Sign in first", "p1", false,
         "Sign in once to open this build", "Sign in first", "play.fill", "signInButton", ""},
    };
    for (const Case& expected : cases) {
        SCOPED_TRACE(expected.title.toStdString() + " / " + expected.stage);
        QQmlPropertyMap state;
        state.insert("stage", QString(expected.stage));
        state.insert("errorMessage", expected.errorMessage);
        state.insert("activeAppName", expected.activeAppName);
        state.insert("activeDetail", expected.activeDetail);
        state.insert("receivedPreviewID", expected.receivedPreviewID);
        state.insert("isSignedIn", expected.isSignedIn);
        state.insert("launchSource", QString("remote"));
        state.insert("isLaunchInProgress",
                     QString(expected.stage) != "idle" && QString(expected.stage) != "running");
        QuickScene scene("LaunchHUDView", {{"appState", QVariant::fromValue<QObject*>(&state)}});

        EXPECT_EQ(scene.text("launchTitle"), expected.title);
        EXPECT_EQ(scene.text("launchSubtitle"), expected.subtitle);
        EXPECT_EQ(scene.property("launchGlyph", "symbol").toString(), expected.symbol);
        for (const char* control : {"dismissButton", "signInButton", "launchProgress"}) {
            EXPECT_EQ(scene.isShown(control), expected.control == control) << control;
        }
        auto& card = dynamic_cast<QQuickItem&>(scene.find("launchCard"));
        // One element for assistive technologies, its parts folded into its label.
        QAccessibleInterface* element = QAccessible::queryAccessibleInterface(&card);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(element->text(QAccessible::Name), expected.title + ", " + expected.subtitle);
        EXPECT_EQ(element->childCount(), 0);
        EXPECT_EQ(element->text(QAccessible::Value), expected.value);
        QAccessibleValueInterface* progress = element->valueInterface();
        ASSERT_EQ(progress != nullptr, !expected.value.isEmpty());
        if (progress) {
            EXPECT_EQ(progress->currentValue(), scene.property("launchProgress", "value"));
        }
        EXPECT_GE(card.width(), 320);
        EXPECT_LE(card.width(), 440);
    }
}

// The engine and every window wait for their first use: an idle tray item carries none.
TEST(QuayletAppTest, OpeningLinksShowsTheLaunchPanelEvenForAnEmptyList) {
    for (const QList<QUrl>& links :
         {QList<QUrl>{}, QList<QUrl>{QUrl("quaylet://preview/a"), QUrl("quaylet://preview/b")}}) {
        StateDriver driver({.signedIn = false});
        QuayletApp app(driver.state());
        EXPECT_EQ(app.launchHUD().panel(), nullptr);
        EXPECT_FALSE(app.windows().hasEngine());
        app.open(links);
        ASSERT_NE(app.launchHUD().panel(), nullptr);
        EXPECT_TRUE(app.launchHUD().panel()->isVisible());
    }
}

}  // namespace
}  // namespace quaylet
