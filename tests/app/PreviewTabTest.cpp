#include <gtest/gtest.h>

#include <QAccessible>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTest>

#include <functional>

#include "app/UpdateAction.h"
#include "app/UserSettings.h"
#include "appsupport/BrowserDouble.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"
#include "core/errors/CancellationError.h"
#include "feature/RecordVariants.h"

namespace quaylet {
namespace {

using testing::BrowserDouble;
using testing::QuickScene;
using testing::RequestedLaunch;
using testing::StateDriver;

QVariant stateOf(StateDriver& driver) {
    return QVariant::fromValue<QObject*>(&driver.state());
}

// Screens switch at once, so what a test reads is what the screen settles on.
void reduceMotion(QuickScene& scene) {
    QQmlComponent setter(qmlEngine(&scene.root()));
    setter.setData(
        "import QtQml\nimport Quaylet\n"
        "QtObject { Component.onCompleted: Theme.reduceMotion = true }",
        QUrl());
    ASSERT_TRUE(setter.isReady()) << setter.errorString().toStdString();
    delete setter.create();
}

// The main window over the driver's state, showing the Preview tab.
struct MainWindow {
    explicit MainWindow(StateDriver& driver)
        : scene("ContentView",
                {{"appState", stateOf(driver)}, {"updateAction", QVariant::fromValue(&updates)}}) {
        reduceMotion(scene);
    }

    UpdateAction updates{[] {}};
    QuickScene scene;
};

QQuickItem& itemIn(QObject& parent, const QString& objectName) {
    return dynamic_cast<QQuickItem&>(QuickScene::find(parent, objectName));
}

// Clicks where a person would, so a covered or disabled control does not react.
void click(QuickScene& scene, QObject& object) {
    auto& item = dynamic_cast<QQuickItem&>(object);
    const QPointF centre = item.mapToScene(QPointF(item.width() / 2, item.height() / 2));
    QTest::mouseClick(&scene.window(), Qt::LeftButton, {}, centre.toPoint());
}

void click(QuickScene& scene, const QString& objectName) {
    click(scene, scene.find(objectName));
}

QString accessibleText(QObject& object, QAccessible::Text kind) {
    QAccessibleInterface* element = QAccessible::queryAccessibleInterface(&object);
    return element ? element->text(kind) : QString();
}

QString screenID(QuickScene& scene) {
    return scene.property("previewTab", "screenID").toString();
}

// Which of the four screens can be seen; exactly one, when all is well.
std::string shownScreens(QuickScene& scene) {
    QStringList shown;
    for (const char* screen : {"successScreen", "progressScreen", "homeScreen", "welcomeScreen"}) {
        if (scene.isShown(screen)) {
            shown.append(screen);
        }
    }
    return shown.join(", ").toStdString();
}

PreviewSummary summary(const std::string& previewID, const std::string& name,
                       const std::string& status = "ready") {
    PreviewSummary build = testing::makeSummary(previewID, name);
    build.repository = "octo/app";
    build.pullRequest = 7;
    build.commitSha = "1234567890abcdef";
    build.branch = "feature/" + name;
    build.status = status;
    return build;
}

// Every launch from here on ends at once, as one the user stopped, back at idle.
void stopEveryLaunch(StateDriver& driver) {
    driver.previewService().onLaunch = [](const testing::LaunchCall&) -> SelfTestReport {
        throw CancellationError();
    };
}

// Leaves the build as the received one with the state back at idle.
void receiveStoppedLaunchOf(StateDriver& driver, const QString& previewID) {
    stopEveryLaunch(driver);
    const QFuture<void> done = driver.state().open(previewID);
    StateDriver::waitUntil([&] { return done.isFinished(); });
}

const std::filesystem::path kLocalApp = "/Users/me/Builds/My App #2.app";

void holdRemote(StateDriver& driver, LaunchStage stage) {
    driver.holdRemoteLaunchAt(stage, testing::makeManifest("Demo", "0123456789abcdef"));
}

void runRemote(StateDriver& driver) {
    holdRemote(driver, LaunchStage::downloading);
    driver.finishHeldLaunch(testing::makeReport("Demo", "iPhone 15"));
}

void runLocal(StateDriver& driver) {
    driver.holdLocalLaunchAt(LaunchStage::selecting, kLocalApp);
    SelfTestReport report = testing::makeReport("My App", "iPhone 15");
    report.app.appURL = kLocalApp;
    report.app.bundleIdentifier = "com.example.myapp";
    driver.finishHeldLaunch(report);
}

TEST(PreviewTabTest, ScreenFollowsReportStageAndAccount) {
    struct Case {
        const char* situation;
        bool signedIn;
        std::function<void(StateDriver&)> bringAbout;
        QString screenID;
        std::string screen;
    };
    const auto nothing = [](StateDriver&) {};
    const Case cases[] = {
        {"signed out and idle", false, nothing, "idle", "welcomeScreen"},
        {"signed in and idle", true, nothing, "home", "homeScreen"},
        {"pull request launch under way", true,
         [](StateDriver& driver) { holdRemote(driver, LaunchStage::downloading); }, "progress",
         "progressScreen"},
        {"local launch while signed out", false,
         [](StateDriver& driver) { driver.holdLocalLaunchAt(LaunchStage::selecting, kLocalApp); },
         "progress", "progressScreen"},
        {"running before the report", true,
         [](StateDriver& driver) { holdRemote(driver, LaunchStage::running); }, "progress",
         "progressScreen"},
        {"pull request build running", true, runRemote, "running", "successScreen"},
        {"local build running while signed out", false, runLocal, "running", "successScreen"},
        {"failed launch", true,
         [](StateDriver& driver) {
             holdRemote(driver, LaunchStage::verifying);
             driver.failHeldLaunch("The archive is damaged.");
         },
         "home", "homeScreen"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.situation);
        StateDriver driver({.signedIn = test.signedIn});
        MainWindow window(driver);
        test.bringAbout(driver);
        EXPECT_EQ(screenID(window.scene), test.screenID);
        EXPECT_EQ(shownScreens(window.scene), test.screen);
    }
}

TEST(PreviewTabTest, SignInOpensTheSignInPageAndTheReturnLinkBringsTheBuilds) {
    StateDriver driver({.signedIn = false});
    MainWindow window(driver);
    BrowserDouble browser;

    click(window.scene, "signInButton");
    EXPECT_EQ(browser.openedURLs(), QList<QUrl>{driver.state().signInURL()});

    // The page was opened through the state, so the sign-in it returns is honoured.
    const QFuture<void> signedIn =
        driver.state().receive(QUrl("quaylet://auth?code=returned-code"));
    ASSERT_TRUE(StateDriver::waitUntil([&] { return signedIn.isFinished(); }));
    EXPECT_TRUE(driver.state().isSignedIn());
    EXPECT_EQ(shownScreens(window.scene), "homeScreen");
}

TEST(PreviewTabTest, WelcomeShowsWhichToolsAreReady) {
    const auto machine = [](std::optional<std::string> xcodePath,
                            std::optional<std::vector<bool>> devicesAvailable) {
        EnvironmentSnapshot snapshot;
        snapshot.xcodePath = std::move(xcodePath);
        if (devicesAvailable) {
            snapshot.inventory.emplace();
            for (const bool available : *devicesAvailable) {
                SimulatorDevice device;
                device.isAvailable = available;
                snapshot.inventory->devices.push_back(device);
            }
        }
        return snapshot;
    };
    struct Case {
        const char* situation;
        std::optional<EnvironmentSnapshot> environment;
        bool xcodeReady;
        bool simulatorReady;
    };
    const Case cases[] = {
        {"not checked yet", std::nullopt, false, false},
        {"nothing installed", machine(std::nullopt, std::nullopt), false, false},
        {"Xcode, but the device listing failed", machine("/Xcode.app", std::nullopt), true, false},
        {"Xcode without usable devices", machine("/Xcode.app", {{false}}), true, false},
        {"both ready", machine("/Xcode.app", {{false, true}}), true, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.situation);
        StateDriver driver({.signedIn = false});
        if (test.environment) {
            driver.showEnvironment(*test.environment);
        }
        MainWindow window(driver);
        EXPECT_EQ(window.scene.property("xcodeReadiness", "ready").toBool(), test.xcodeReady);
        EXPECT_EQ(window.scene.property("simulatorReadiness", "ready").toBool(),
                  test.simulatorReady);
    }
}

TEST(PreviewTabTest, FailureShowsAboveTheScreenUntilTheNextLaunchClearsIt) {
    {
        SCOPED_TRACE("signed out, local build");
        StateDriver driver({.signedIn = false});
        MainWindow window(driver);
        const QFuture<void> done =
            driver.state().runLocalApplication(QUrl::fromLocalFile("/b/Demo.app"), "", true);
        ASSERT_TRUE(StateDriver::waitUntil([&] { return done.isFinished(); }));
        EXPECT_TRUE(window.scene.isShown("errorBanner"));
        EXPECT_EQ(shownScreens(window.scene), "welcomeScreen");
    }

    StateDriver driver;
    MainWindow window(driver);
    EXPECT_FALSE(window.scene.isShown("errorBanner"));
    holdRemote(driver, LaunchStage::verifying);
    driver.failHeldLaunch("The archive is damaged.");
    EXPECT_TRUE(window.scene.isShown("errorBanner"));
    EXPECT_EQ(window.scene.text("errorTitle"), "Couldn’t open this build");
    EXPECT_EQ(window.scene.text("errorMessage").toStdString(), *driver.state().errorMessage());
    EXPECT_EQ(shownScreens(window.scene), "homeScreen");

    // Running the failed build again from the card starts over, without the old failure.
    stopEveryLaunch(driver);
    const auto before = driver.previewService().launchedPreviews().size();
    click(window.scene, "runInSimulatorButton");
    ASSERT_TRUE(StateDriver::waitUntil(
        [&] { return driver.previewService().launchedPreviews().size() == before + 1; }));
    EXPECT_EQ(driver.previewService().launchedPreviews().back(), "p-Demo");
    EXPECT_FALSE(window.scene.isShown("errorBanner"));
}

TEST(PreviewTabTest, CardAndListFollowTheReceivedBuild) {
    struct Case {
        const char* situation;
        QString received;  // empty: no link
        QString cardTitle;
        QString cardDetail;
        QString listTitle;
        QStringList rows;
    };
    const Case cases[] = {
        {"no link", "", "", "", "Pull request builds", {"pa", "pb"}},
        {"link to a listed build",
         "pa",
         "Alpha",
         "octo/app · PR #7 · 1234567",
         "Other builds you can open",
         {"pb"}},
        {"link to a build not in the list",
         "p-9",
         "Pull request build",
         "Build p-9",
         "Other builds you can open",
         {"pa", "pb"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.situation);
        StateDriver driver;
        PreviewSummary alpha = summary("pa", "Alpha");
        alpha.pullRequestTitle = "Fix the login screen";
        driver.loadBuilds({alpha, summary("pb", "Beta")});
        if (!test.received.isEmpty()) {
            receiveStoppedLaunchOf(driver, test.received);
        }
        MainWindow window(driver);
        QuickScene& scene = window.scene;

        EXPECT_EQ(scene.isShown("currentBuildCard"), !test.received.isEmpty());
        if (!test.received.isEmpty()) {
            EXPECT_EQ(scene.text("currentBuildTitle"), test.cardTitle);
            EXPECT_EQ(scene.text("currentBuildDetail"), test.cardDetail);
        }
        EXPECT_EQ(scene.text("buildsTitle"), test.listTitle);
        for (const QString build : {"pa", "pb"}) {
            EXPECT_EQ(scene.isShown("buildRow-" + build), test.rows.contains(build))
                << build.toStdString();
        }
        if (test.rows.contains("pa")) {
            QObject& row = scene.find("buildRow-pa");
            EXPECT_EQ(itemIn(row, "buildTitle").property("text"), "Fix the login screen");
            EXPECT_EQ(itemIn(row, "buildDetail").property("text"), "octo/app · PR #7 · 1234567");
        }
        EXPECT_FALSE(scene.isShown("buildsEmptyState"));
    }
}

TEST(PreviewTabTest, ListShowsWhyItIsEmptyAndRefreshes) {
    StateDriver driver;
    driver.loadBuilds({summary("pa", "Alpha")});
    receiveStoppedLaunchOf(driver, "pa");
    MainWindow window(driver);
    QuickScene& scene = window.scene;

    // The only build is the one on the card.
    EXPECT_TRUE(scene.isShown("buildsEmptyState"));
    EXPECT_FALSE(scene.isShown("buildRows"));

    driver.failBuilds("The preview service is down.");
    EXPECT_TRUE(scene.isShown("buildsError"));
    EXPECT_EQ(scene.text("buildsError").toStdString(), *driver.state().buildsError());
    EXPECT_FALSE(scene.isShown("buildsEmptyState"));

    driver.previewService().listFailure = nullptr;
    driver.previewService().previews = {summary("pa", "Alpha"), summary("pb", "Beta")};
    click(scene, "refreshBuildsButton");
    ASSERT_TRUE(StateDriver::waitUntil([&] { return scene.isShown("buildRow-pb"); }));
    EXPECT_FALSE(scene.isShown("buildsError"));
    EXPECT_FALSE(scene.isShown("buildsEmptyState"));
    EXPECT_TRUE(scene.isShown("refreshBuildsButton"));
    EXPECT_FALSE(scene.isShown("buildsLoadingIndicator"));
}

TEST(PreviewTabTest, ReadyBuildsOfferRunOthersShowTheirStatus) {
    struct Case {
        std::string status;
        QString badge;  // empty: "Run" is offered
    };
    const Case cases[] = {
        {"ready", ""},
        {"uploading", "Uploading"},
        {"processing failed", "Processing Failed"},
        {"EXPIRED", "Expired"},
    };
    std::vector<PreviewSummary> builds;
    for (const Case& test : cases) {
        builds.push_back(summary("p-" + test.status, "App", test.status));
    }
    StateDriver driver;
    driver.loadBuilds(builds);
    MainWindow window(driver);

    for (const Case& test : cases) {
        SCOPED_TRACE(test.status);
        QObject& row = window.scene.find(QString::fromStdString("buildRow-p-" + test.status));
        EXPECT_EQ(itemIn(row, "runButton").isVisible(), test.badge.isEmpty());
        EXPECT_EQ(itemIn(row, "statusBadge").isVisible(), !test.badge.isEmpty());
        if (!test.badge.isEmpty()) {
            EXPECT_EQ(itemIn(row, "statusBadgeText").property("text"), test.badge);
        }
        // Assistive technologies meet the row as one element that says all of it.
        EXPECT_EQ(accessibleText(row, QAccessible::Name),
                  "feature/App, " + itemIn(row, "buildDetail").property("text").toString() + ", " +
                      (test.badge.isEmpty() ? "Ready" : test.badge));
    }

    stopEveryLaunch(driver);
    // The row's own press action runs the build, as its "Run" does.
    QAccessible::queryAccessibleInterface(&window.scene.find("buildRow-p-ready"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(StateDriver::waitUntil(
        [&] { return !driver.previewService().launchedPreviews().empty(); }));
    EXPECT_EQ(driver.previewService().launchedPreviews(), std::vector<std::string>{"p-ready"});
}

TEST(PreviewTabTest, RunIsDisabledWhileALaunchIsInProgress) {
    StateDriver driver;
    QuickScene row("BuildRow", {{"summary", toVariantMap(summary("pa", "Alpha"))},
                                {"appState", stateOf(driver)}});
    const auto runEnabled = [&] { return row.property("runButton", "enabled").toBool(); };
    EXPECT_TRUE(runEnabled());
    holdRemote(driver, LaunchStage::downloading);
    EXPECT_FALSE(runEnabled());
    driver.finishHeldLaunch(testing::makeReport("Demo", "iPhone 15"));
    EXPECT_TRUE(runEnabled());
}

TEST(PreviewTabTest, ProgressShowsTheStepOfTheLaunch) {
    struct Case {
        const char* situation;
        std::function<void(StateDriver&)> start;
        int step;
        QStringList titles;
        QString detail;
        QString progressValue;
        bool cancellable;
    };
    const QStringList remoteTitles = {"Find", "Get", "Ready", "Install", "Open"};
    const Case cases[] = {
        {"pull request build at verifying",
         [](StateDriver& driver) { holdRemote(driver, LaunchStage::verifying); }, 3, remoteTitles,
         "Getting ready", "Getting ready, step 3 of 5", true},
        {"local build, which starts at selecting",
         [](StateDriver& driver) { driver.holdLocalLaunchAt(LaunchStage::selecting, kLocalApp); },
         2,
         {"Inspect", "Choose", "Start", "Install", "Open"},
         "Choosing a Simulator",
         "Choosing a Simulator, step 2 of 5",
         false},
        {"pull request build running before the report",
         [](StateDriver& driver) { holdRemote(driver, LaunchStage::running); }, 5, remoteTitles,
         "Complete", "Running, step 5 of 5", true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.situation);
        StateDriver driver;
        MainWindow window(driver);
        QuickScene& scene = window.scene;
        test.start(driver);

        EXPECT_EQ(scene.text("stepCounter"), QString::number(test.step) + " of 5");
        EXPECT_EQ(accessibleText(scene.find("launchProgress"), QAccessible::Name),
                  "Launch progress");
        EXPECT_EQ(accessibleText(scene.find("launchProgress"), QAccessible::Description),
                  test.progressValue);
        for (int n = 1; n <= 5; ++n) {
            SCOPED_TRACE(n);
            const QString step = "step-" + QString::number(n);
            const QString expected = n < test.step    ? "Complete"
                                     : n == test.step ? "Current"
                                                      : "Pending";
            EXPECT_EQ(scene.text(step + "-title"), test.titles[n - 1]);
            EXPECT_EQ(accessibleText(scene.find(step), QAccessible::Name), test.titles[n - 1]);
            EXPECT_EQ(accessibleText(scene.find(step), QAccessible::Description), expected);
            EXPECT_EQ(scene.isShown(step + "-checkmark"), n < test.step);
            EXPECT_EQ(scene.isShown(step + "-dot"), n == test.step);
            EXPECT_EQ(scene.isShown(step + "-detail"), n == test.step);
        }
        EXPECT_EQ(scene.text("step-" + QString::number(test.step) + "-detail"), test.detail);
        EXPECT_EQ(scene.isShown("cancelButton"), test.cancellable);
    }
}

TEST(PreviewTabTest, CancelStopsAPullRequestLaunch) {
    StateDriver driver;
    MainWindow window(driver);
    holdRemote(driver, LaunchStage::downloading);
    click(window.scene, "cancelButton");
    EXPECT_EQ(driver.state().stage(), LaunchStage::idle);
    EXPECT_EQ(shownScreens(window.scene), "homeScreen");
}

TEST(PreviewTabTest, RunAgainRelaunchesWithTheStoredSettings) {
    struct Case {
        const char* situation;
        bool local;
        QString storedSimulator;
        std::optional<std::string> requestedSimulator;
    };
    const Case cases[] = {
        {"local build, simulator chosen automatically", true, "", std::nullopt},
        {"local build, preferred simulator", true, "SIM-1", "SIM-1"},
        {"pull request build, simulator chosen automatically", false, "", std::nullopt},
        {"pull request build, preferred simulator", false, "SIM-1", "SIM-1"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.situation);
        StateDriver driver;
        UserSettings stored;
        stored.setPreferredSimulatorUDID(test.storedSimulator);
        stored.setActivateSimulator(false);
        MainWindow window(driver);
        QuickScene& scene = window.scene;
        test.local ? runLocal(driver) : runRemote(driver);

        const auto requested = [&] {
            return test.local ? driver.simulatorService().requestedLaunches()
                              : driver.previewService().requestedLaunches();
        };
        ASSERT_EQ(requested().size(), 1u);
        click(scene, "runAgainButton");
        ASSERT_TRUE(StateDriver::waitUntil([&] { return requested().size() == 2; }));
        const std::string target = test.local ? kLocalApp.string() : "p-Demo";
        EXPECT_EQ(requested()[1], (RequestedLaunch{target, test.requestedSimulator, false}));
    }
}

TEST(PreviewTabTest, SuccessDescribesTheBuildThatRuns) {
    {
        SCOPED_TRACE("pull request build");
        StateDriver driver;
        MainWindow window(driver);
        runRemote(driver);
        QuickScene& scene = window.scene;
        EXPECT_EQ(scene.text("successSource"), "Pull request build");
        EXPECT_EQ(scene.text("successAppName"), "Demo");
        EXPECT_EQ(scene.text("successSimulator"), "iPhone 15");
        EXPECT_EQ(scene.text("pullRequestRow-value"), "octo/app #42");
        EXPECT_EQ(scene.text("commitRow-value"), "0123456789ab");
        EXPECT_EQ(scene.text("statusRow-value"), "Running the pull request build");
        EXPECT_EQ(scene.text("successNote"), "This pull request build is running");
    }
    StateDriver driver;
    MainWindow window(driver);
    runLocal(driver);
    QuickScene& scene = window.scene;
    EXPECT_EQ(scene.text("successSource"), "Local iOS build");
    EXPECT_FALSE(scene.isShown("pullRequestRow"));
    EXPECT_FALSE(scene.isShown("commitRow"));
    EXPECT_EQ(scene.text("appIdentifierRow-value"), "com.example.myapp");
    EXPECT_EQ(scene.text("statusRow-value"), "App installed");
    EXPECT_EQ(scene.text("successNote"), "Local build is running");

    // A value too long for its row ends in an ellipsis instead of a glyph cut in half.
    const QString longValue = "com.example." + QString(80, 'x');
    QuickScene row("MetadataRow", {{"objectName", "row"}, {"value", longValue}});
    dynamic_cast<QQuickItem&>(row.root()).setWidth(300);
    QCoreApplication::processEvents();
    EXPECT_TRUE(row.text("row-value").endsWith(u'…')) << row.text("row-value").toStdString();
    EXPECT_EQ(row.property("row-value", "fullText"), longValue);
}

}  // namespace
}  // namespace quaylet
