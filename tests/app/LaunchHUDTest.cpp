#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QtMath>

#include "app/LaunchHUD.h"
#include "app/QmlModule.h"
#include "appsupport/View.h"
#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

using testing::makeManifest;
using testing::makeReport;
using testing::QuickScene;
using testing::StateDriver;

// A launch panel controller over a real state driven through the doubles.
struct Panel {
    explicit Panel(bool signedIn = true) : driver({.signedIn = signedIn}) {}

    // The state's changes are judged in a queued evaluation: lets it run, then checks
    // whether the panel shows and what (see testing::expectShows).
    void expect(bool shown, const QString& expectations = {}) {
        QCoreApplication::processEvents();
        ASSERT_EQ(hud.panel() && hud.panel()->isVisible(), shown);
        if (shown) {
            testing::expectShows(
                [this](const QString& name) { return QuickScene::findOrNull(*hud.panel(), name); },
                expectations);
        }
    }
    bool waitUntilHidden() {
        return testing::waitFor([&] { return !hud.panel()->isVisible(); });
    }
    void click(const QString& control) {
        QMetaObject::invokeMethod(&QuickScene::find(*hud.panel(), control), "clicked");
    }

    StateDriver driver;
    QmlWindowMaker windows;
    LaunchHUD hud{driver.state().launch(), driver.state().account(), windows};
};

TEST(LaunchHUDTest, ThePanelIsMadeOnFirstShowFittedToItsContentAndNeverFadesInTwice) {
    Panel panel;
    EXPECT_EQ(panel.hud.panel(), nullptr);
    panel.hud.show();
    QWindow* window = panel.hud.panel();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    const QSize idle = window->size();

    // A long failure widens the content; showing again follows it.
    panel.driver.state().launch().runLocalApplication(
        QUrl::fromLocalFile("/builds/" + QString(60, 'X') + ".app"), {}, true);
    testing::waitFor([&] { return panel.driver.state().launch().errorMessage().has_value(); });
    panel.expect(true);
    auto& view = dynamic_cast<QQuickItem&>(QuickScene::find(*window, "launchView"));
    EXPECT_EQ(window->size(), QSize(qCeil(view.implicitWidth()), qCeil(view.implicitHeight())));
    EXPECT_NE(window->size(), idle);
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_NEAR(window->x() + window->width() / 2.0, screen->geometry().center().x() + 0.5, 1);
    EXPECT_TRUE(window->mask().isEmpty()) << "this platform blends translucent windows";

    // Shown again while it fades in or out, the panel stays on screen without a second fade.
    QQuickItem* content = qobject_cast<QQuickWindow*>(window)->contentItem();
    ASSERT_TRUE(testing::waitFor([&] { return content->opacity() == 1.0; }));
    panel.hud.show();
    EXPECT_EQ(content->opacity(), 1.0);
    panel.hud.hide();
    ASSERT_TRUE(testing::waitFor([&] { return content->opacity() < 1.0; }));
    panel.hud.show();
    testing::waitFor([&] { return !window->isVisible() || content->opacity() == 1.0; });
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(panel.hud.panel(), window);
}

// The panel follows its text while it shows, within 320 to 440 points and its margins: the
// bytes of a download replace a long detail without any new stage, and a long failure is cut
// with "…".
TEST(LaunchHUDTest, ThePanelIsRefittedWheneverItsTextChanges) {
    Panel panel;
    PreviewManifest manifest = makeManifest("Demo", "abc1234");
    manifest.repository = "acme-corporation/" + std::string(60, 'x');
    panel.driver.holdRemoteLaunchAt(LaunchStage::downloading, manifest,
                                    {{1'000'000, 2'000'000}, 126'000'000});
    panel.expect(true, "launchSubtitle=2.0 MB of 126 MB*");
    QWindow* window = panel.hud.panel();
    auto& view = dynamic_cast<QQuickItem&>(QuickScene::find(*window, "launchView"));
    const auto fitted = [&] { return window->width() == qCeil(view.implicitWidth()); };
    EXPECT_TRUE(testing::waitFor(fitted)) << window->width();
    EXPECT_LT(window->width(), 440 + 2 * 6);

    panel.driver.failHeldLaunch("The build at /builds/" + std::string(80, 'X') + " is damaged.");
    panel.expect(true, "dismissButton; launchSubtitle.truncated=true");
    EXPECT_TRUE(testing::waitFor(fitted)) << window->width();
    EXPECT_EQ(window->width(), 440 + 2 * 6);
    testing::expectTextsFitTheirRows(*qobject_cast<QQuickWindow*>(window)->contentItem());
}

TEST(LaunchHUDTest, WithoutCompositingThePanelIsCutToTheCardsRoundedOutline) {
    const QRectF card(6, 6, 320, 50);
    EXPECT_TRUE(LaunchHUD::panelMask(card, 14, true).isEmpty());
    const QRegion cut = LaunchHUD::panelMask(card, 14, false);
    // The middle is in; a rounded corner and the shadow's margin are out.
    EXPECT_TRUE(cut.contains(QPoint(166, 31)));
    EXPECT_FALSE(cut.contains(QPoint(7, 7)));
    EXPECT_FALSE(cut.contains(QPoint(330, 31)));
}

TEST(LaunchHUDTest, ALaunchShowsFromItsFirstStageAndFadesOutAfterSuccess) {
    Panel panel;
    panel.driver.holdRemoteLaunchAt(LaunchStage::downloading, makeManifest("Demo", "abc1234"), {},
                                    {"Starting iPhone 16 Pro…", "iPhone 16 Pro is ready"});
    panel.expect(
        true,
        "launchTitle=Opening Demo in Simulator; launchProgress; "
        "launchBootDetail=iPhone 16 Pro is ready; "
        "launchCard.accessibleName=Opening Demo in Simulator, octo/app · PR #42 · abc1234, "
        "iPhone 16 Pro is ready; "
        "launchCard.accessibleValue=Getting the build, step 2 of 5");
    // The card is one element to assistive technologies, its value the progress shown.
    QAccessibleInterface* card =
        QAccessible::queryAccessibleInterface(&QuickScene::find(*panel.hud.panel(), "launchCard"));
    EXPECT_EQ(card->childCount(), 0);
    EXPECT_EQ(card->valueInterface()->currentValue(), progress(LaunchStage::downloading));

    panel.driver.finishHeldLaunch(makeReport("Demo", "iPhone 15"));
    panel.expect(true,
                 "launchTitle=Demo is running in Simulator; launchGlyph.symbol=checkmark; "
                 "!launchProgress; !launchBootDetail; !dismissButton; !signInButton");
    EXPECT_EQ(card->valueInterface(), nullptr);
    EXPECT_TRUE(panel.hud.isHideScheduled());

    // A new launch cancels the pending hide until it succeeds in turn.
    panel.driver.holdRemoteLaunchAt(LaunchStage::fetching, makeManifest("Other", "def5678"));
    panel.expect(true, "launchTitle=Opening Other in Simulator");
    EXPECT_FALSE(panel.hud.isHideScheduled());
    panel.driver.finishHeldLaunch(makeReport("Other", "iPhone 15"));
    EXPECT_TRUE(panel.waitUntilHidden());
}

// Also right after a success, whose fading it stops.
TEST(LaunchHUDTest, AFailureShowsOncePerMessageAndStaysUntilDismissed) {
    Panel panel;
    panel.driver.holdRemoteLaunchAt(LaunchStage::installing, makeManifest("Demo", "abc1234"));
    panel.driver.finishHeldLaunch(makeReport("Demo", "iPhone 15"));
    panel.expect(true);
    ASSERT_TRUE(panel.hud.isHideScheduled());
    panel.driver.receive(QUrl("quaylet://preview/"));
    const QString failure = QString::fromStdString(*panel.driver.state().launch().errorMessage());
    panel.expect(
        true, "launchSubtitle=" + failure + "; launchGlyph.symbol=exclamationmark; dismissButton");
    EXPECT_FALSE(panel.hud.isHideScheduled());
    panel.click("dismissButton");
    ASSERT_TRUE(panel.waitUntilHidden());

    // The service refuses the token: the state changes, the message does not.
    panel.driver.previewService().listFailure =
        std::make_exception_ptr(QuayletError::authenticationRequired());
    testing::waitFor(panel.driver.state().buildsList().refreshBuilds());
    ASSERT_FALSE(panel.driver.state().account().isSignedIn());
    panel.expect(false);

    panel.driver.holdLocalLaunchAt(LaunchStage::selecting, panel.driver.folder() / "Demo.app");
    panel.driver.failHeldLaunch("The bundle is damaged");
    panel.expect(true);
}

TEST(LaunchHUDTest, ALinkWhileSignedOutAsksToSignInThroughTheBrowser) {
    Panel panel(false);
    panel.driver.receive(QUrl("quaylet://preview/abc"));
    panel.expect(true, "launchTitle=Sign in once to open this build; launchSubtitle=" +
                           QString::fromStdString(*panel.driver.state().launch().activeDetail()) +
                           "; signInButton; !launchProgress");
    testing::BrowserDouble browser;
    panel.click("signInButton");
    EXPECT_EQ(browser.openedURLs, QList<QUrl>{panel.driver.state().account().signInURL()});

    // A failure comes before the sign-in the link still waits for.
    panel.driver.receive(QUrl("quaylet://preview/"));
    panel.expect(true, "launchTitle=Couldn’t open this build; dismissButton; !signInButton");
}

TEST(LaunchHUDTest, TheSignInPromptWaitsForAnEvaluationThatAlreadySawIdle) {
    Panel panel;
    panel.driver.holdRemoteLaunchAt(LaunchStage::downloading, makeManifest("Demo", "abc1234"));
    panel.expect(true);
    panel.hud.hide();
    ASSERT_TRUE(panel.waitUntilHidden());

    // The token is gone; signing out stops the launch and forgets its link, so the
    // evaluation sees no link waiting for sign-in after a deliberate sign-out.
    panel.driver.tokenStore().token.reset();
    panel.driver.state().account().signOut();
    ASSERT_FALSE(panel.driver.state().launch().receivedPreviewID().has_value());
    panel.expect(false);

    panel.driver.receive(QUrl("quaylet://preview/abc"));
    panel.expect(true, "launchTitle=Sign in once to open this build");
}

}  // namespace
}  // namespace quaylet
