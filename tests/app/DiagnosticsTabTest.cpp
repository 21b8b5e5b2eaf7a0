#include <gtest/gtest.h>

#include <QtQuickTest/quicktest.h>
#include <QQuickItem>
#include <QTest>

#include <optional>
#include <string>
#include <vector>

#include "app/UserSettings.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet {
namespace {

using testing::makeDevice;
using testing::makeReadyEnvironment;
using testing::QuickScene;
using testing::StateDriver;

// The Diagnostics tab over a real state, with the settings file that the state reads too.
class DiagnosticsTab {
  public:
    void setWidth(int width) {
        scene.window().resize(width, scene.window().height());
        qobject_cast<QQuickItem*>(&scene.root())->setWidth(width);
        QCoreApplication::processEvents();
    }

    StateDriver driver;
    UserSettings userSettings;  // made after the driver, so in its settings folder
    QuickScene scene{"DiagnosticsTab",
                     {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                      {"userSettings", QVariant::fromValue(&userSettings)}}};
};

// What one check row shows.
struct Check {
    QString value;
    bool passes;

    bool operator==(const Check&) const = default;
};

void PrintTo(const Check& check, std::ostream* out) {
    *out << check.value.toStdString() << (check.passes ? " (passes)" : " (fails)");
}

Check shownCheck(QuickScene& scene, const QString& row) {
    const QString symbol = scene.property(row + "Icon", "symbol").toString();
    EXPECT_TRUE(symbol == "checkmark.circle.fill" || symbol == "xmark.circle.fill")
        << symbol.toStdString();
    return {scene.property(row + "Value", "fullText").toString(),
            symbol == "checkmark.circle.fill"};
}

std::vector<std::string> shownFailures(QuickScene& scene) {
    QObject& lines = scene.find("failures");
    std::vector<std::string> shown;
    for (int index = 0; index < lines.property("count").toInt(); ++index) {
        QQuickItem* line = nullptr;
        QMetaObject::invokeMethod(&lines, "itemAt", Q_RETURN_ARG(QQuickItem*, line),
                                  Q_ARG(int, index));
        if (line->isVisible()) {
            shown.push_back(line->property("text").toString().toStdString());
        }
    }
    return shown;
}

// The vertical gaps between the shown children of a column, top to bottom.
std::vector<qreal> gapsBetween(const QQuickItem& column) {
    std::vector<qreal> gaps;
    const QQuickItem* above = nullptr;
    for (const QQuickItem* child : column.childItems()) {
        if (!child->isVisible()) {
            continue;
        }
        if (above) {
            gaps.push_back(child->y() - above->y() - above->height());
        }
        above = child;
    }
    return gaps;
}

TEST(DiagnosticsTabTest, ChecksShowWhatTheDiagnosisFound) {
    EnvironmentSnapshot noXcode;
    noXcode.architecture = "arm64";
    noXcode.inventory = SimulatorInventory{};
    noXcode.failures = {
        "Xcode command-line tools aren’t selected. Choose them in Xcode Settings under "
        "Locations.",
        "Simulator tools aren’t available. Install Xcode, then select its command-line tools.",
    };
    EnvironmentSnapshot unknownArchitecture = makeReadyEnvironment(
        {makeDevice("A", "iPhone 16", "18.2"), makeDevice("B", "iPhone 15", "17.5")});
    unknownArchitecture.architecture = "unknown";
    unknownArchitecture.inventory->devices[1].isAvailable = false;

    EnvironmentSnapshot noInventory;
    noInventory.architecture = "x86_64";
    noInventory.failures = {"A required Mac command failed. Open Diagnostics, then try again."};

    struct Case {
        const char* name;
        EnvironmentSnapshot snapshot;
        std::vector<Check> expected;  // Xcode, simulator tools, architecture, devices
        QString status;
    };
    const std::vector<Case> cases = {
        {"ready",
         makeReadyEnvironment({makeDevice("A", "iPhone 16", "18.2")}),
         {{"/Applications/Xcode.app/Contents/Developer", true},
          {"/Applications/Xcode.app/Contents/Developer/usr/bin/simctl", true},
          {"arm64", true},
          {"1 available", true}},
         "This Mac is ready"},
        {"no Xcode",
         noXcode,
         {{"Not found", false}, {"Not found", false}, {"arm64", true}, {"0 available", false}},
         "Action required"},
        {"unknown architecture",
         unknownArchitecture,
         {{"/Applications/Xcode.app/Contents/Developer", true},
          {"/Applications/Xcode.app/Contents/Developer/usr/bin/simctl", true},
          {"unknown", false},
          {"1 available", true}},
         "This Mac is ready"},
        {"no inventory",
         noInventory,
         {{"Not found", false}, {"Not found", false}, {"x86_64", true}, {"0 available", false}},
         "Action required"},
    };
    for (const Case& test : cases) {
        DiagnosticsTab tab;
        tab.driver.showEnvironment(test.snapshot);
        const std::vector<Check> shown = {shownCheck(tab.scene, "xcodeCheck"),
                                          shownCheck(tab.scene, "simulatorToolsCheck"),
                                          shownCheck(tab.scene, "architectureCheck"),
                                          shownCheck(tab.scene, "simulatorDevicesCheck")};
        EXPECT_EQ(shown, test.expected) << test.name;
        EXPECT_EQ(tab.scene.text("readinessStatus"), test.status) << test.name;
        EXPECT_EQ(tab.scene.property("readinessIcon", "symbol"),
                  test.snapshot.failures.empty() ? "checkmark.circle.fill"
                                                 : "exclamationmark.triangle.fill")
            << test.name;
        EXPECT_EQ(shownFailures(tab.scene), test.snapshot.failures) << test.name;
        EXPECT_FALSE(tab.scene.isShown("checkingRow")) << test.name;

        // One even rhythm: the tab's parts a whole step apart, the pieces of the checks half.
        ASSERT_TRUE(QQuickTest::qWaitForPolish(&tab.scene.window())) << test.name;
        auto& readiness = dynamic_cast<QQuickItem&>(tab.scene.find("readiness"));
        const std::vector<qreal> parts = gapsBetween(*readiness.parentItem());
        ASSERT_EQ(parts.size(), 3u) << test.name;
        EXPECT_EQ(parts, std::vector<qreal>(parts.size(), parts.front())) << test.name;
        EXPECT_EQ(gapsBetween(readiness),
                  std::vector<qreal>(test.snapshot.failures.empty() ? 1 : 2, parts.front() / 2))
            << test.name;
    }
}

TEST(DiagnosticsTabTest, ALongValueEndsInAnEllipsisButCopiesWhole) {
    DiagnosticsTab tab;
    tab.driver.showEnvironment(makeReadyEnvironment({}));
    tab.setWidth(380);
    const QString shown = tab.scene.text("simulatorToolsCheckValue");
    EXPECT_TRUE(shown.endsWith("…")) << shown.toStdString();
    tab.scene.click("simulatorToolsCheckValue");
    EXPECT_EQ(tab.scene.text("simulatorToolsCheckValue"),
              "/Applications/Xcode.app/Contents/Developer/usr/bin/simctl");
}

TEST(DiagnosticsTabTest, TheFirstDiagnosisShowsItIsCheckingAndLaterOnesKeepTheChecks) {
    DiagnosticsTab tab;
    EXPECT_FALSE(tab.scene.isShown("checkingRow"));
    EXPECT_FALSE(tab.scene.isShown("readiness"));
    EXPECT_TRUE(tab.scene.isShown("localBuildRow"));

    tab.driver.holdDiagnostics();
    EXPECT_TRUE(tab.scene.isShown("checkingRow"));
    EXPECT_EQ(tab.scene.text("checkingText"), "Checking Xcode and Simulator…");
    EXPECT_FALSE(tab.scene.isShown("readiness"));
    tab.driver.releaseDiagnostics(makeReadyEnvironment({makeDevice("A", "iPhone 16", "18.2")}));
    EXPECT_FALSE(tab.scene.isShown("checkingRow"));
    EXPECT_TRUE(tab.scene.isShown("readiness"));
    EXPECT_TRUE(tab.scene.property("runDiagnosticsButton", "enabled").toBool());

    tab.driver.holdDiagnostics();
    EXPECT_FALSE(tab.scene.isShown("checkingRow"));
    EXPECT_TRUE(tab.scene.isShown("readiness"));
    EXPECT_FALSE(tab.scene.property("runDiagnosticsButton", "enabled").toBool());
    tab.driver.releaseDiagnostics(makeReadyEnvironment({}));
    EXPECT_EQ(tab.scene.text("simulatorDevicesCheckValue"), "0 available");
}

TEST(DiagnosticsTabTest, RunDiagnosticsChecksAgain) {
    DiagnosticsTab tab;
    tab.driver.showEnvironment(makeReadyEnvironment({}));
    tab.driver.simulatorService().snapshot =
        makeReadyEnvironment({makeDevice("A", "iPhone 16", "18.2")});
    tab.scene.click("runDiagnosticsButton");
    EXPECT_TRUE(StateDriver::waitUntil(
        [&] { return tab.scene.text("simulatorDevicesCheckValue") == "1 available"; }));
}

TEST(DiagnosticsTabTest, DuringALaunchABuildCannotBeChosenButDiagnosticsCanRun) {
    DiagnosticsTab tab;
    tab.driver.showEnvironment(makeReadyEnvironment({}));
    EXPECT_TRUE(tab.scene.property("chooseBuildButton", "enabled").toBool());

    tab.driver.holdLocalLaunchAt(LaunchStage::installing, "/builds/Demo.app");
    EXPECT_FALSE(tab.scene.property("chooseBuildButton", "enabled").toBool());
    EXPECT_TRUE(tab.scene.property("runDiagnosticsButton", "enabled").toBool());
    tab.scene.window().requestActivate();
    QTest::keyClick(&tab.scene.window(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_FALSE(tab.scene.property("buildChooser", "visible").toBool());
}

TEST(DiagnosticsTabTest, TheBuildChooserAsksForABuildAndRunsIt) {
    DiagnosticsTab tab;
    EXPECT_EQ(tab.scene.property("buildChooser", "title"), "Choose an iOS Simulator build");
    EXPECT_EQ(tab.scene.property("buildChooser", "acceptLabel"), "Run build");

    tab.scene.window().requestActivate();
    QTest::keyClick(&tab.scene.window(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(tab.scene.property("buildChooser", "visible").toBool());
    QMetaObject::invokeMethod(&tab.scene.find("buildChooser"), "reject");
    QCoreApplication::processEvents();
    EXPECT_EQ(tab.driver.state().stage(), LaunchStage::idle);
    EXPECT_TRUE(tab.driver.simulatorService().requestedLaunches().empty());
}

TEST(DiagnosticsTabTest, AChosenBuildRunsWithTheStoredSettings) {
    struct Case {
        QString storedUDID;
        bool activate;
        std::optional<std::string> expectedUDID;
    };
    for (const Case& test : std::vector<Case>{{"A", false, "A"}, {"", true, std::nullopt}}) {
        DiagnosticsTab tab;
        tab.userSettings.setPreferredSimulatorUDID(test.storedUDID);
        tab.userSettings.setActivateSimulator(test.activate);
        tab.driver.simulatorService().result = testing::makeReport("Demo", "iPhone 16");
        QMetaObject::invokeMethod(&tab.scene.root(), "runChosenBuild",
                                  Q_ARG(QVariant, QUrl::fromLocalFile("/builds/Demo.app")));
        ASSERT_TRUE(
            StateDriver::waitUntil([&] { return tab.driver.state().report().has_value(); }));
        const auto runs = tab.driver.simulatorService().requestedLaunches();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].target, "/builds/Demo.app");
        EXPECT_EQ(runs[0].preferredSimulatorUDID, test.expectedUDID);
        EXPECT_EQ(runs[0].activateSimulator, test.activate);
    }
}

}  // namespace
}  // namespace quaylet
