#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QtQuickTest/quicktest.h>
#include <QFont>
#include <QQuickItem>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <functional>

#include "appsupport/View.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/service/RemotePreviewLauncher.h"
#include "feature/Settings.h"

namespace quaylet {
namespace {

using testing::makeDevice;
using testing::makeReadyEnvironment;
using testing::View;

const std::filesystem::path kLocalApp = "/Users/me/Builds/My App #2.app";

void holdRemote(View& view, LaunchStage stage, const std::vector<std::string>& earlyBoot = {}) {
    view.driver.holdRemoteLaunchAt(stage, testing::makeManifest("Demo", "0123456789abcdef"), {},
                                   earlyBoot);
}

void runLocal(View& view) {
    view.driver.holdLocalLaunchAt(LaunchStage::selecting, kLocalApp);
    SelfTestReport report = testing::makeReport("My App", "iPhone 15");
    report.app.appPath = kLocalApp;
    report.app.bundleIdentifier = "com.example.myapp";
    view.driver.finishHeldLaunch(report);
}

PreviewSummary summary(const std::string& previewID, const std::string& status = "ready") {
    PreviewSummary build = testing::makeSummary(previewID, "App");
    build.commitSha = "1234567890abcdef";
    build.branch = "feature/App";
    build.status = status;
    return build;
}

struct Situation {
    const char* name;
    const char* view;
    bool signedIn;
    QString expected;  // as View::expect reads it
    std::function<void(View&)> bringAbout;
};

const Situation kSituations[] = {
    // The Preview tab.
    {"a pull request build at verifying", "ContentView", true,
     "previewTab.screenID=progress; progressScreen; !homeScreen; stepCounter=3 of 5; "
     "step-3-title=Ready; step-3-detail=Getting ready; "
     "step-2.accessibleValue=Complete; step-3.accessibleValue=Current; "
     "step-4.accessibleValue=Pending; "
     "launchProgressElement.accessibleValue=Getting ready, step 3 of 5; cancelButton",
     [](View& view) {
         holdRemote(view, LaunchStage::verifying);
         QAccessibleInterface* progress =
             QAccessible::queryAccessibleInterface(&view.scene.find("launchProgressElement"));
         EXPECT_EQ(progress->role(), QAccessible::ProgressBar);
         EXPECT_EQ(progress->valueInterface()->currentValue(),
                   view.scene.property("launchProgress", "value"));
         EXPECT_EQ(progress->valueInterface()->maximumValue(), 1.0);
     }},
    {"a pull request launch cancelled", "ContentView", true,
     "previewTab.screenID=home; homeScreen; !progressScreen",
     [](View& view) {
         holdRemote(view, LaunchStage::downloading);
         view.scene.click("cancelButton");
     }},
    {"a long-named simulator ready beside the download", "ContentView", true,
     "stepCounter=2 of 5; bootDetail=iPad Pro 13-inch (M4) kept for the accessibility, large-text "
     "and dark-mode "
     "review of checkout is ready; bootDetail.truncated=true",
     [](View& view) {
         holdRemote(view, LaunchStage::downloading,
                    {"iPad Pro 13-inch (M4) kept for the accessibility, large-text and dark-mode "
                     "review of checkout is ready"});
         ASSERT_TRUE(QQuickTest::qWaitForPolish(&view.scene.window()));
         testing::expectTextsFitTheirRows(*view.scene.window().contentItem());
     }},
    {"a failed launch", "ContentView", true,
     "homeScreen; errorBanner; errorTitle=Couldn’t open this build; "
     "errorMessage=The archive is damaged.; "
     "timelineStop=Stopped at Verification after Build details 0.3 s",
     [](View& view) {
         view.driver.recordSteps(
             {{.step = LaunchStep::manifest, .duration = 0.3, .state = StepState::done},
              {.step = LaunchStep::verification, .start = 0.3, .state = StepState::failed}});
         holdRemote(view, LaunchStage::verifying);
         view.driver.failHeldLaunch("The archive is damaged.");
     }},
    {"an Android pull request build choosing its emulator, then failed", "ContentView", true,
     "currentBuildCard/runInSimulatorButton=Run on Emulator",
     [](View& view) {
         PreviewSummary build = summary("p-Demo");
         build.platform = "android";
         view.driver.loadBuilds({build});
         PreviewManifest manifest = testing::makeManifest("Demo", "0123456789abcdef");
         manifest.platform = "android";
         view.driver.holdRemoteLaunchAt(LaunchStage::selecting, manifest);
         view.expect(
             "stageTitle=Choosing an emulator; step-3-detail=Choosing an emulator; "
             "openingIn=Opening in the Android emulator; "
             "launchProgressElement.accessibleValue=Choosing an emulator, step 3 of 5");
         view.driver.failHeldLaunch("The app couldn’t be installed.");
     }},
    {"a local Android build started, then running", "ContentView", true,
     "successSource=Local Android build; !anotherSimulatorButton; "
     "linkConfirmation=Opened in Pixel_8",
     [](View& view) {
         view.driver.holdLocalLaunchAt(LaunchStage::booting, "/Users/me/Builds/Demo.apk");
         view.expect(
             "stageTitle=Starting the emulator; progressDetail=Testing a local Android "
             "build; step-3-detail=Starting the emulator; "
             "progressFooter=Your branch and Android Studio stay untouched.");
         SelfTestReport report = testing::makeReport("Demo", "Pixel_8");
         report.simulator.udid = "Pixel_8";
         report.app.bundleIdentifier = "com.example.demo";
         view.driver.finishHeldLaunch(report);
         // iOS Simulator's tools never get an emulator's name; the app on it takes links.
         EXPECT_TRUE(view.driver.state().launch().runOnSimulator("SIM-1").isFinished());
         view.scene.find("linkField").setProperty("text", "demo://home");
         view.scene.click("openLinkButton");
         ASSERT_TRUE(testing::waitFor([&] { return view.scene.isShown("linkConfirmation"); }));
         EXPECT_EQ(view.driver.simulatorService().openedURLs(),
                   (std::vector<std::pair<std::string, std::string>>{
                       {"Pixel_8/com.example.demo", "demo://home"}}));
     }},

    {"the builds list refreshed after it failed", "ContentView", true,
     "buildRow-pb; !buildsError; !buildsEmptyState; !buildsLoadingIndicator",
     [](View& view) {
         view.driver.failBuilds("The preview service is down.");
         view.expect("buildsError=The preview service is down.; !buildsEmptyState");
         view.driver.previewService().listFailure = nullptr;
         view.driver.previewService().previews = {summary("pa"), summary("pb")};
         view.scene.click("refreshBuildsButton");
         testing::waitFor([&] { return view.scene.isShown("buildRow-pb"); });
     }},
    {"builds in each status", "ContentView", true,
     "buildRow-p-ready/runButton; !buildRow-p-ready/statusBadge; !buildRow-p-failed/runButton; "
     "buildRow-p-failed/statusBadgeText=Processing Failed; "
     "buildRow-p-failed.accessibleName=feature/App, octo/app · PR #7 · 1234567, Processing "
     "Failed; !buildRow-p-ready/platformTag; buildRow-p-android/platformTagText=Android; "
     "buildRow-p-android.accessibleName=feature/App, Android, octo/app · PR #7 · 1234567, Ready; "
     "buildRow-p-other/platformTagText=<b>tvos</b>",
     [](View& view) {
         PreviewSummary android = summary("p-android");
         android.platform = "android";
         PreviewSummary other = summary("p-other");
         other.platform = "<b>tvos</b>";
         PreviewSummary ios = summary("p-ready");
         ios.platform = "iphonesimulator";
         view.driver.loadBuilds({ios, summary("p-failed", "PROCESSING failed"), android, other});
     }},
    {"a watched row beside one not watched", "ContentView", true,
     "buildRow-p-7/watchToggle.checked=true; buildRow-p-8/watchToggle.checked=false",
     [](View& view) {
         PreviewSummary other = summary("p-8");
         other.pullRequest = 8;
         view.driver.loadBuilds({summary("p-7"), other});
         view.driver.state().watcher().setWatched("octo/app", 7, true);
         ASSERT_TRUE(QQuickTest::qWaitForPolish(&view.scene.window()));
         // The rows' Run buttons line up whichever way their toggles are set.
         const auto runButtonLeft = [&](const QString& row) {
             QObject& button = testing::QuickScene::find(view.scene.find(row), "runButton");
             return dynamic_cast<QQuickItem&>(button).mapToScene({0, 0}).x();
         };
         EXPECT_EQ(runButtonLeft("buildRow-p-7"), runButtonLeft("buildRow-p-8"));
     }},
    {"a build run by its row's press action", "ContentView", true, "",
     [](View& view) {
         view.driver.loadBuilds({summary("p-ready")});
         // The launch ends at once, as one the user stopped.
         view.driver.previewService().onLaunch = [](const testing::LaunchCall&) -> SelfTestReport {
             throw CancellationError();
         };
         // Assistive technologies press the row as one element, as its "Run" is clicked.
         QAccessible::queryAccessibleInterface(&view.scene.find("buildRow-p-ready"))
             ->actionInterface()
             ->doAction(QAccessibleActionInterface::pressAction());
         EXPECT_TRUE(testing::waitFor([&] {
             return view.driver.previewService().launchedPreviews() ==
                    std::vector<std::string>{"p-ready"};
         }));
     }},
    {"a row's Watch toggle clicked", "ContentView", true, "",
     [](View& view) {
         view.driver.loadBuilds({summary("p-ready")});
         view.scene.click(
             testing::QuickScene::find(view.scene.find("buildRow-p-ready"), "watchToggle"));
         const auto& watches = view.driver.state().watcher().watches();
         ASSERT_EQ(watches.size(), 1u);
         EXPECT_EQ(watches[0].reference(), "octo/app#7");
     }},
    {"a watched pull request's new build too large to fetch ahead", "ContentView", true,
     "buildRow-p-new/unfetchedNote=This build is larger than the cache limit*; "
     "!buildRow-p-old/unfetchedNote; buildRow-p-new.accessibleName=feature/App, octo/app · PR #7 · "
     "1234567, Ready, This build is larger*",
     [](View& view) {
         PreviewSummary older = summary("p-old");
         PreviewSummary newer = summary("p-new");
         newer.createdAt = older.createdAt + std::chrono::hours(1);
         view.driver.loadBuilds({older});
         PullRequestWatcher& watcher = view.driver.state().watcher();
         watcher.setWatched("octo/app", 7, true);
         view.driver.previewService().previews = {newer, older};
         view.driver.previewService().prefetchFailure =
             std::make_exception_ptr(QuayletError::previewUnavailable(
                 std::string(RemotePreviewLauncher::kLargerThanTheCacheMessage)));
         watcher.start(nullptr);
         EXPECT_TRUE(testing::waitFor([&] {
             return watcher.property("unfetchedBuilds").toMap().contains("p-new") &&
                    !view.driver.state().buildsList().isLoadingBuilds();
         }));
     }},

    // The Settings tab.
    {"a setting that cannot be saved", "SettingsTab", true,
     "saveErrorText=Quaylet couldn’t save this setting: *; activateSimulatorSwitch.checked=true",
     [](View& view) {
         // A file where the settings folder belongs: nothing can be written under it.
         std::filesystem::create_directories(Settings::defaultFile().parent_path().parent_path());
         std::ofstream(Settings::defaultFile().parent_path()) << "not a folder";
         view.scene.click("activateSimulatorSwitch");
     }},
    {"the cache not cleared", "SettingsTab", true,
     "statusText=The cache folder is in use.; statusIcon.symbol=exclamationmark.triangle.fill",
     [](View& view) {
         view.driver.previewService().clearFailure = std::make_exception_ptr(
             QuayletError::previewUnavailable("The cache folder is in use."));
         view.scene.click("clearCacheButton");
         testing::waitFor([&] { return view.driver.state().launch().errorMessage().has_value(); });
     }},
    {"the preferred emulator among those diagnosed", "SettingsTab", true,
     "preferredEmulatorChoice.count=3; preferredEmulatorChoice.currentIndex=1; "
     "preferredEmulatorChoice.displayText=Pixel_8 — API 34",
     [](View& view) {
         view.userSettings.setPreferredEmulator("Pixel_8");
         EnvironmentSnapshot snapshot = makeReadyEnvironment({});
         snapshot.android = {.isInstalled = true,
                             .emulators = {{"Pixel_8", 34, "x86_64", {}}, {"Old", {}, {}, {}}}};
         view.driver.showEnvironment(snapshot);
     }},
    {"a sign-in that cannot be recorded opens nothing", "SettingsTab", false,
     "statusLine; statusIcon.symbol=exclamationmark.triangle.fill",
     [](View& view) {
         std::ofstream(view.driver.folder() / "state") << "not a folder";
         view.scene.click("signInButton");
         EXPECT_TRUE(view.browser.openedURLs.isEmpty());
     }},

    // The Diagnostics tab.
    {"the checks' icons on the first visit to the tab", "ContentView", true,
     "xcodeCheckIcon.width=14; readinessIcon.width=14; readinessStatus=This computer is ready",
     [](View& view) {
         view.driver.showEnvironment(makeReadyEnvironment({makeDevice("A", "iPhone 15", "18.2")}));
         view.scene.click("section-Diagnostics");
     }},
    {"a Mac without Xcode", "DiagnosticsTab", true,
     "xcodeCheckValue.fullText=Not found; xcodeCheckIcon.symbol=xmark.circle.fill; "
     "architectureCheckValue.fullText=arm64; architectureCheckIcon.symbol=checkmark.circle.fill; "
     "simulatorDevicesCheckValue.fullText=0 available; readinessStatus=Action required; "
     "simulatorWindowCheckValue.fullText=Device Hub (Xcode 27.0); "
     "readinessIcon.symbol=exclamationmark.triangle.fill; failures.count=2",
     [](View& view) {
         EnvironmentSnapshot snapshot = makeReadyEnvironment({});
         snapshot.xcodePath.reset();
         snapshot.simctlPath.reset();
         snapshot.failures = {"Xcode command-line tools aren’t selected.",
                              "Simulator tools aren’t available."};
         view.driver.showEnvironment(snapshot);
     }},
    {"Android beside a ready Mac", "DiagnosticsTab", true,
     "readinessStatus=This computer is ready; androidSdkCheckValue.fullText=/sdk; "
     "adbCheckValue.fullText=1.0.41; emulatorToolCheckValue.fullText=Not found; "
     "emulator-Pixel_8.accessibleName=Pixel_8, API 34 · Running; "
     "emulator-Old.accessibleName=Old, API unknown · Not running; !androidNotice",
     [](View& view) {
         EnvironmentSnapshot snapshot = makeReadyEnvironment({});
         snapshot.android = {
             .sdkFolder = "/sdk",
             .isInstalled = true,
             .adbVersion = "1.0.41",
             .emulators = {{"Pixel_8", 34, "x86_64", "emulator-5554"}, {"Old", {}, {}, {}}}};
         view.driver.showEnvironment(snapshot);
     }},
    {"no Android SDK beside a ready Mac", "DiagnosticsTab", true,
     "readinessStatus=This computer is ready; !androidSdkCheck; androidNotice=No SDK.",
     [](View& view) {
         EnvironmentSnapshot snapshot = makeReadyEnvironment({});
         snapshot.android = {.sdkFolder = "/sdk", .notice = "No SDK."};
         view.driver.showEnvironment(snapshot);
     }},
    {"the build chooser dismissed", "DiagnosticsTab", true, "buildChooser.visible=false",
     [](View& view) {
         view.scene.window().requestActivate();
         QTest::keyClick(&view.scene.window(), Qt::Key_O, Qt::ControlModifier);
         view.expect("buildChooser.visible=true");
         QMetaObject::invokeMethod(&view.scene.find("buildChooser"), "reject");
         QCoreApplication::processEvents();
         EXPECT_EQ(view.driver.state().launch().stage(), LaunchStage::idle);
     }},
};

TEST(ViewTest, EachSituationShowsWhatTheStateHolds) {
    for (const Situation& situation : kSituations) {
        SCOPED_TRACE(situation.name);
        View view(situation.view, {.signedIn = situation.signedIn});
        situation.bringAbout(view);
        view.expect(situation.expected);
    }
}

TEST(ViewTest, SignInOpensThePageAndItsReturnLinkSignsIn) {
    for (const char* type : {"ContentView", "SettingsTab"}) {
        SCOPED_TRACE(type);
        View view(type, {.signedIn = false});
        view.scene.click("signInButton");
        EXPECT_EQ(view.browser.openedURLs, QList<QUrl>{view.driver.state().account().signInURL()});
        // The page was opened through the state, so the sign-in it returns is honoured; the
        // whole sign-in is waited for, as it goes on reloading the builds.
        const QFuture<void> signedIn =
            view.driver.state().launch().receive(QUrl("quaylet://auth?code=returned-code"));
        ASSERT_TRUE(testing::waitFor([&] { return signedIn.isFinished(); }));
        EXPECT_TRUE(view.driver.state().account().isSignedIn());
    }
}

TEST(PreviewTabTest, SuccessRunsTheBuildOnAnotherSimulatorAndSendsItALink) {
    View view;
    view.driver.showEnvironment(makeReadyEnvironment(
        {makeDevice("SIM-1", "iPhone 15", "18.2"), makeDevice("SIM-2", "iPad Air", "18.2")}));
    runLocal(view);
    auto& simulators = view.driver.simulatorService();
    view.scene.click("anotherSimulatorButton");
    ASSERT_TRUE(
        testing::waitFor([&] { return view.scene.property("simulatorMenu", "opened").toBool(); }));
    ASSERT_TRUE(QQuickTest::qWaitForPolish(&view.scene.window()));
    // Below its button or above it, never over it, and as wide as its entries.
    QObject& menu = view.scene.find("simulatorMenu");
    auto& button = dynamic_cast<QQuickItem&>(view.scene.find("anotherSimulatorButton"));
    const QRectF opened(menu.property("x").toReal(), menu.property("y").toReal(),
                        menu.property("width").toReal(), menu.property("height").toReal());
    EXPECT_FALSE(opened.intersects(button.boundingRect())) << opened.y();
    for (const QString choice : {"simulatorChoice-SIM-1", "simulatorChoice-SIM-2"}) {
        EXPECT_LE(view.scene.property(choice, "implicitWidth").toReal(),
                  view.scene.property(choice, "width").toReal());
    }
    view.scene.click("simulatorChoice-SIM-2");
    ASSERT_TRUE(testing::waitFor([&] { return simulators.requestedLaunches().size() == 2; }));
    EXPECT_EQ(simulators.requestedLaunches()[1].targets.simulatorUDIDs,
              std::vector<std::string>{"SIM-2"});
    ASSERT_TRUE(testing::waitFor([&] { return view.scene.isShown("linkField"); }));

    view.scene.find("linkField").setProperty("text", " myapp://home ");
    view.scene.click("openLinkButton");
    ASSERT_TRUE(testing::waitFor([&] { return !simulators.openedURLs().empty(); }));
    EXPECT_EQ(simulators.openedURLs()[0],
              (std::pair<std::string, std::string>{"SIM-2", "myapp://home"}));
    ASSERT_TRUE(testing::waitFor([&] { return view.scene.isShown("linkConfirmation"); }));
    view.expect("linkConfirmation=Opened in *; linkField.text=");
}

// The pop-up offers the available simulators, newest runtime first, then by name in natural
// order, never rewrites a stored choice it does not know, and stores what the keyboard picks.
TEST(SettingsTabTest, ThePopUpShowsTheStoredChoiceAndNeverRewritesAnUnknownOne) {
    SimulatorDevice unavailable = makeDevice("U", "iPhone 8", "18.2");
    unavailable.isAvailable = false;
    const EnvironmentSnapshot devices = makeReadyEnvironment(
        {makeDevice("A", "iPhone 15", "17.5"), makeDevice("B", "iPhone SE", "18.1.1"), unavailable,
         makeDevice("C", "iPhone 10", "18.2"), makeDevice("D", "iPhone SE", "18.1.2"),
         makeDevice("E", "iPad mini", "18.2"), makeDevice("F", "iPhone 2", "18.2")});
    for (const auto& [stored, index, text] :
         {std::tuple<std::string, QString, QString>{"", "0", "Best available"},
          {"B", "5", "iPhone SE — iOS 18.1.1"},
          {"deleted-device", "-1", ""}}) {
        SCOPED_TRACE(stored);
        View tab("SettingsTab");
        tab.userSettings.setPreferredSimulatorUDID(QString::fromStdString(stored));
        tab.driver.showEnvironment(EnvironmentSnapshot{});
        tab.expect("preferredSimulatorChoice.count=1");
        tab.driver.showEnvironment(devices);
        QStringList labels;
        for (const QVariant& option :
             tab.scene.property("preferredSimulatorChoice", "model").toList()) {
            labels.append(option.toMap().value("label").toString());
        }
        EXPECT_EQ(labels,
                  QStringList({"Best available", "iPad mini — iOS 18.2.0", "iPhone 2 — iOS 18.2.0",
                               "iPhone 10 — iOS 18.2.0", "iPhone SE — iOS 18.1.2",
                               "iPhone SE — iOS 18.1.1", "iPhone 15 — iOS 17.5.0"}));
        tab.expect("preferredSimulatorChoice.currentIndex=" + index +
                   "; preferredSimulatorChoice.displayText=" + text);
        // A later diagnosis that still lacks the device leaves the stored value alone.
        tab.driver.showEnvironment(makeReadyEnvironment({makeDevice("A", "iPhone 16", "18.2")}));
        EXPECT_EQ(Settings(Settings::defaultFile()).preferredSimulatorUDID(), stored);
        if (stored.empty()) {  // the keyboard picks as a person picks from the list
            QObject& choice = tab.scene.find("preferredSimulatorChoice");
            QMetaObject::invokeMethod(&choice, "incrementCurrentIndex");
            EXPECT_EQ(Settings(Settings::defaultFile()).preferredSimulatorUDID(), "A");
            QMetaObject::invokeMethod(&choice, "decrementCurrentIndex");
            EXPECT_EQ(choice.property("displayText"), "Best available");
            EXPECT_EQ(Settings(Settings::defaultFile()).preferredSimulatorUDID(), "");
        }
    }
}

TEST(SettingsTabTest, OpenAtLoginShowsWhetherTheAutostartEntryIsThere) {
    View tab("SettingsTab");
    const auto folder = Settings::defaultFile().parent_path().parent_path() / "autostart";
    tab.scene.click("openAtLoginSwitch");
    std::ifstream entry(folder / "quaylet.desktop");
    EXPECT_THAT(
        std::string(std::istreambuf_iterator<char>(entry), {}),
        ::testing::HasSubstr("\nExec=\"" + QCoreApplication::applicationFilePath().toStdString() +
                             "\"\nIcon=dev.quaylet.Quaylet\n"));
    tab.expect("openAtLoginSwitch.checked=true");
    tab.scene.click("openAtLoginSwitch");
    EXPECT_FALSE(std::filesystem::exists(folder / "quaylet.desktop"));
    tab.expect("openAtLoginSwitch.checked=false");

    // A file where the autostart folder belongs: the switch stays off and says why.
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "not a folder";
    tab.scene.click("openAtLoginSwitch");
    tab.expect(
        "openAtLoginSwitch.checked=false; "
        "openAtLoginDetail=Quaylet could not be added to login*");
}

// The views hand the stored settings to a local launch; a pull request build's launch reads
// them in the state itself.
TEST(ViewTest, LaunchesUseTheStoredSettings) {
    for (const bool runAgain : {true, false}) {
        SCOPED_TRACE(runAgain ? "a local build run again" : "a chosen build");
        View view(runAgain ? "ContentView" : "DiagnosticsTab");
        view.userSettings.setPreferredSimulatorUDID("SIM-1");
        view.userSettings.setActivateSimulator(!runAgain);
        if (runAgain) {
            runLocal(view);
            view.scene.click("runAgainButton");
        } else {
            view.driver.simulatorService().result = testing::makeReport("Demo", "iPhone 16");
            QMetaObject::invokeMethod(
                &view.scene.root(), "runChosenBuild",
                Q_ARG(QVariant, QUrl::fromLocalFile(QString::fromStdString(kLocalApp.string()))));
        }
        const auto& simulators = view.driver.simulatorService();
        ASSERT_TRUE(testing::waitFor(
            [&] { return simulators.requestedLaunches().size() == (runAgain ? 2u : 1u); }));
        EXPECT_EQ(simulators.requestedLaunches().back(),
                  (testing::RequestedLaunch{kLocalApp.string(), "SIM-1", !runAgain}));
    }
}

// The vertical gaps between the shown children of a column, top to bottom.
std::vector<qreal> gapsBetween(const QQuickItem& column) {
    std::vector<qreal> gaps;
    const QQuickItem* above = nullptr;
    for (const QQuickItem* child : column.childItems()) {
        if (child->isVisible()) {
            if (above) {
                gaps.push_back(child->y() - above->y() - above->height());
            }
            above = child;
        }
    }
    return gaps;
}

// Opening a bundle chooses it; the next choice starts where it came from.
TEST(DiagnosticsTabTest, TheBuildChooserRunsTheBundleOpenedAndStartsNextBesideIt) {
    View view("DiagnosticsTab");
    const std::filesystem::path home = view.driver.folder() / "home";
    std::filesystem::create_directories(home / "builds" / "Demo.app");
    const testing::ScopedEnvironment homeFolder("HOME", home.string());
    QMetaObject::invokeMethod(&view.scene.root(), "chooseBuild");
    QObject& chooser = view.scene.find("buildChooser");
    QObject& folders = view.scene.find("buildChooserModel");
    const auto openRow = [&](const QString& name) {
        ASSERT_TRUE(testing::waitFor([&] {
            QVariant first;
            QMetaObject::invokeMethod(&folders, "get", Q_RETURN_ARG(QVariant, first), Q_ARG(int, 0),
                                      Q_ARG(QString, "fileName"));
            return first.toString() == name;
        }));
        QMetaObject::invokeMethod(&chooser, "openRow", Q_ARG(QVariant, 0));
    };
    openRow("builds");
    EXPECT_TRUE(chooser.property("visible").toBool());
    testing::expectTextsFitTheirRows(
        *qobject_cast<QQuickItem*>(&view.scene.find("buildChooserTitle"))->parentItem());
    openRow("Demo.app");
    EXPECT_FALSE(chooser.property("visible").toBool());
    EXPECT_EQ(chooser.property("selectedFolder").toUrl(),
              QUrl::fromLocalFile(QString::fromStdString((home / "builds" / "Demo.app").string())));
    EXPECT_EQ(chooser.property("currentFolder").toUrl(),
              QUrl::fromLocalFile(QString::fromStdString((home / "builds").string())));
    EXPECT_NE(view.driver.state().launch().stage(), LaunchStage::idle);
}

// The tab's parts stand a whole step apart and the pieces of the checks half that; an empty
// list of failures leaves no gap of its own.
TEST(DiagnosticsTabTest, ThePartsKeepOneEvenRhythm) {
    EnvironmentSnapshot failing = makeReadyEnvironment({});
    failing.failures = {"Simulator tools aren’t available."};
    for (const EnvironmentSnapshot& snapshot : {makeReadyEnvironment({}), failing}) {
        View tab("DiagnosticsTab");
        tab.driver.showEnvironment(snapshot);
        ASSERT_TRUE(QQuickTest::qWaitForPolish(&tab.scene.window()));
        auto& readiness = dynamic_cast<QQuickItem&>(tab.scene.find("readiness"));
        const std::vector<qreal> parts = gapsBetween(*readiness.parentItem());
        ASSERT_EQ(parts.size(), 6u);
        EXPECT_EQ(parts, std::vector<qreal>(6, parts.front()));
        EXPECT_EQ(gapsBetween(readiness),
                  std::vector<qreal>(snapshot.failures.empty() ? 1 : 2, parts.front() / 2));
    }
}

// A value too long for its line ends in an ellipsis instead of a glyph cut in half, and is
// still copied whole.
TEST(ViewTest, LongValuesEndInAnEllipsisInsteadOfACutGlyph) {
    const QString longValue = "com.example." + QString(80, 'x');
    testing::QuickScene row("MetadataRow", {{"objectName", "row"}, {"value", longValue}});
    dynamic_cast<QQuickItem&>(row.root()).setWidth(300);
    QCoreApplication::processEvents();
    EXPECT_TRUE(row.text("row-value").endsWith(u'…')) << row.text("row-value").toStdString();
    row.click("row-value");
    EXPECT_EQ(row.text("row-value"), longValue);

    // A line of outside text cut short shows the whole of it where the pointer rests.
    testing::QuickScene line("ElidedLine", {{"text", longValue}});
    auto& label = dynamic_cast<QQuickItem&>(line.root());
    label.setWidth(300);
    QTest::mouseMove(&line.window(), QPoint(150, 5));
    QObject* tip = nullptr;
    ASSERT_TRUE(testing::waitFor([&] {
        tip = label.findChild<QObject*>("fullTextTip");
        return tip && tip->property("opened").toBool();
    }));
    EXPECT_EQ(tip->property("text").toString(), longValue);
}

// Real-length titles, names and repositories keep to their lines and end in "…", in the
// builds list, the card of the current build and the success screen; and the success screen
// leads back to the list, where the card says the build runs.
TEST(PreviewTabTest, LongTextsKeepToTheirLinesAndTheListIsAlwaysReachable) {
    PreviewSummary watched = summary("p-long");
    watched.repository = "acme-corporation/ios-storefront-application";
    watched.pullRequestTitle =
        "Rework the checkout flow so saved cards, Apple Pay and promo codes share one sheet";
    PreviewSummary uploading = watched;
    uploading.previewID = "p-uploading";
    uploading.status = "uploading";
    PreviewManifest current = testing::makeManifest(
        "Acme Storefront Checkout with a Very Long Display Name", "0123456789abcdef");
    current.previewID = "p-current";
    current.repository = watched.repository;
    View view;
    view.driver.loadBuilds({watched, uploading});
    view.driver.state().watcher().setWatched(QString::fromStdString(watched.repository), 7, true);
    view.driver.state().watcher().setOpenAutomatically(QString::fromStdString(watched.repository),
                                                       7, true);
    view.driver.holdRemoteLaunchAt(LaunchStage::downloading, current);
    view.driver.state().launch().cancelLaunch();
    const auto expectFitted = [&](const QString& expectations) {
        ASSERT_TRUE(QQuickTest::qWaitForPolish(&view.scene.window()));
        view.expect(expectations);
        testing::expectTextsFitTheirRows(*view.scene.window().contentItem());
    };
    expectFitted(
        "homeScreen; buildRow-p-long/buildTitle.truncated=true; "
        "currentBuildOrigin=Opened from the list; currentBuildTitle.truncated=true");

    view.driver.holdRemoteLaunchAt(LaunchStage::installing, current);
    view.driver.finishHeldLaunch(
        testing::makeReport(current.displayName, "iPad Pro 13-inch (M4) with a long name"));
    expectFitted("successScreen; successAppName.truncated=true");
    view.scene.click("allBuildsButton");
    expectFitted("homeScreen; currentBuildOrigin=Running in iPad Pro*; !buildRow-p-current");
    view.scene.click("runningBuildButton");
    view.expect("successScreen; !homeScreen");
}

TEST(PlainTextTest, BalancedLinesShareTheTextEvenlyInsteadOfLeavingAWordAlone) {
    const QString text = "Confirm that installation and Simulator launch work on this Mac.";
    for (const char* type : {"PlainText", "BalancedText"}) {
        SCOPED_TRACE(type);
        testing::QuickScene scene(type, {{"text", text},
                                         {"wrapMode", 3},  // Text.Wrap
                                         {"font", QFont("Inter", 12)}});
        auto& label = dynamic_cast<QQuickItem&>(scene.root());
        const qreal fullWidth = label.implicitWidth();
        label.setWidth(fullWidth * 0.9);  // the last word no longer fits
        QCoreApplication::processEvents();
        EXPECT_EQ(label.property("lineCount").toInt(), 2);
        // Balanced, each line holds about half; otherwise the first holds nearly everything.
        EXPECT_EQ(label.property("contentWidth").toReal() < fullWidth * 0.7,
                  std::string(type) == "BalancedText");
    }
}

TEST(ContentViewTest, TheSettingsStatusLineComesIntoViewAfterEachAction) {
    View view;
    QQuickWindow& window = view.scene.window();
    window.requestActivate();
    ASSERT_TRUE(testing::waitFor([&] { return window.isActive(); }));
    view.scene.click("section-Settings");
    view.expect("activateSimulatorSwitch.checked=true");  // the stored settings reach the tab
    auto& line = dynamic_cast<QQuickItem&>(view.scene.find("statusLine"));
    QQuickItem* scroll = line.parentItem();
    while (!scroll->inherits("QQuickFlickable")) {
        scroll = scroll->parentItem();
    }
    const auto expectInView = [&](const char* after) {
        EXPECT_TRUE(testing::waitFor([&] {
            const QRectF shown = line.mapRectToScene(line.boundingRect());
            return shown.top() >= 0 && shown.bottom() <= window.height();
        })) << "the status line stays below the window after "
            << after;
    };
    view.scene.click("signOutButton");
    ASSERT_TRUE(testing::waitFor([&] { return view.scene.isShown("statusLine"); }));
    view.expect("statusText=Signed out; statusIcon.symbol=checkmark.circle.fill");
    expectInView("signing out");
    // The line already shows: a new text, then the same one, from the keyboard, scrolled up to
    // the button as a person would be.
    for (const char* clearing : {"a first clearing", "a second clearing"}) {
        scroll->setProperty("contentY", 0);
        for (int press = 0;
             press < 30 && window.activeFocusItem()->objectName() != "clearCacheButton"; ++press) {
            QTest::keyClick(&window, Qt::Key_Tab);
        }
        QTest::keyClick(&window, Qt::Key_Space);
        ASSERT_TRUE(testing::waitFor(
            [&] { return view.scene.text("statusText") == "Downloaded builds cleared"; }));
        expectInView(clearing);
    }
}

// Every control the Tab key reaches shows that it has the focus, a watched row's toggles too.
TEST(ContentViewTest, EveryControlReachedByTheKeyboardShowsAFocusRing) {
    View view;
    view.driver.showEnvironment(makeReadyEnvironment({makeDevice("A", "iPhone 15", "18.2")}));
    view.driver.loadBuilds({summary("p-watched")});
    view.driver.state().watcher().setWatched("octo/app", 7, true);
    QQuickWindow& window = view.scene.window();
    window.requestActivate();
    ASSERT_TRUE(testing::waitFor([&] { return window.isActive(); }));
    for (const QString section : {"Preview", "Diagnostics", "Settings"}) {
        view.scene.click("section-" + section);
        QStringList reached;
        for (int press = 0; press < 12; ++press) {
            QTest::keyClick(&window, Qt::Key_Tab);
            QQuickItem* focused = window.activeFocusItem();
            while (focused && !focused->inherits("QQuickControl") &&
                   !focused->inherits("QQuickTextField")) {
                focused = focused->parentItem();
            }
            if (focused && !reached.contains(focused->objectName())) {
                reached.append(focused->objectName());
                auto* ring = focused->findChild<QQuickItem*>(QStringLiteral("focusRing"));
                EXPECT_TRUE(ring && ring->isVisible())
                    << section.toStdString() << ": " << focused->objectName().toStdString();
            }
        }
        EXPECT_GE(reached.size(), 4) << reached.join(", ").toStdString();
        if (section == "Preview") {
            EXPECT_THAT(reached,
                        ::testing::IsSupersetOf({"watchToggle", "openAutomaticallyToggle"}));
        }
    }
}

TEST(ContentViewTest, ShowingTheContentChecksTheMacThenReloadsTheBuildsUnlessDismissedFirst) {
    for (const bool dismissed : {false, true}) {
        SCOPED_TRACE(dismissed ? "dismissed before the check ends" : "shown");
        View view;
        view.driver.simulatorService().snapshot.architecture = "arm64";
        view.driver.previewService().previews = {testing::makeSummary("pr-1", "Demo")};
        QMetaObject::invokeMethod(&view.scene.root(), "shown");
        if (dismissed) {
            QMetaObject::invokeMethod(&view.scene.root(), "dismissed");
        }
        ASSERT_TRUE(testing::waitFor([&] {
            return !view.driver.state().diagnostics().isCheckingEnvironment() &&
                   (dismissed || view.driver.state().buildsList().builds().size() == 1);
        }));
        // The builds list would have been asked for as the diagnosis ended, on this same turn.
        QCoreApplication::processEvents();
        EXPECT_EQ(view.driver.state().diagnostics().environment()->architecture, "arm64");
        EXPECT_EQ(view.driver.state().buildsList().builds().empty(), dismissed);
        EXPECT_FALSE(view.driver.state().buildsList().isLoadingBuilds());
    }
}

}  // namespace
}  // namespace quaylet
