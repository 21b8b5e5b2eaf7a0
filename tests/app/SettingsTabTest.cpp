#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QQuickItem>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/UpdateAction.h"
#include "app/UserSettings.h"
#include "appsupport/BrowserDouble.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"
#include "core/errors/QuayletError.h"
#include "feature/PendingSignIn.h"
#include "feature/Settings.h"

namespace quaylet {
namespace {

using testing::makeDevice;
using testing::makeReadyEnvironment;
using testing::QuickScene;
using testing::StateDriver;

// The Settings tab over a real state, with the settings file that the state reads too.
class SettingsTab {
  public:
    explicit SettingsTab(StateDriver::Options options = {}) : driver(options) {}

    Settings storedSettings() const { return Settings(Settings::defaultFile()); }

    StateDriver driver;
    UserSettings userSettings;  // made after the driver, so in its settings folder
    int updateChecks = 0;
    UpdateAction updates{[this] { ++updateChecks; }};
    QuickScene scene{"SettingsTab",
                     {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                      {"userSettings", QVariant::fromValue(&userSettings)},
                      {"updateAction", QVariant::fromValue(&updates)}}};
};

QStringList optionLabels(QuickScene& scene) {
    QStringList labels;
    for (const QVariant& option : scene.property("preferredSimulatorChoice", "model").toList()) {
        labels.append(option.toMap().value("label").toString());
    }
    return labels;
}

TEST(SettingsTabTest, OffersTheAvailableSimulatorsNewestRuntimeFirstThenByName) {
    SimulatorDevice unavailable = makeDevice("U", "iPhone 8", "16.4");
    unavailable.isAvailable = false;
    EnvironmentSnapshot noInventory;
    noInventory.architecture = "arm64";
    struct Case {
        const char* name;
        std::optional<EnvironmentSnapshot> environment;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"no diagnosis yet", std::nullopt, {"Best available"}},
        {"no inventory", noInventory, {"Best available"}},
        {"newer runtime first",
         makeReadyEnvironment(
             {makeDevice("A", "iPhone 15", "17.5"), makeDevice("B", "iPhone 16", "18.2")}),
         {"Best available", "iPhone 16 — iOS 18.2.0", "iPhone 15 — iOS 17.5.0"}},
        {"minor and patch count",
         makeReadyEnvironment({makeDevice("A", "iPhone SE", "18.1.1"),
                               makeDevice("B", "iPhone SE", "18.1.2"),
                               makeDevice("C", "iPhone SE", "18.2")}),
         {"Best available", "iPhone SE — iOS 18.2.0", "iPhone SE — iOS 18.1.2",
          "iPhone SE — iOS 18.1.1"}},
        {"names in natural order",
         makeReadyEnvironment({makeDevice("A", "iPhone 10", "18.2"),
                               makeDevice("B", "iPad mini", "18.2"),
                               makeDevice("C", "iPhone 2", "18.2")}),
         {"Best available", "iPad mini — iOS 18.2.0", "iPhone 2 — iOS 18.2.0",
          "iPhone 10 — iOS 18.2.0"}},
        {"unavailable devices left out",
         makeReadyEnvironment({unavailable, makeDevice("A", "iPhone 15", "17.5")}),
         {"Best available", "iPhone 15 — iOS 17.5.0"}},
    };
    for (const Case& test : cases) {
        SettingsTab tab;
        if (test.environment) {
            tab.driver.showEnvironment(*test.environment);
        }
        EXPECT_EQ(optionLabels(tab.scene), test.expected) << test.name;
    }
}

TEST(SettingsTabTest, ThePopUpShowsTheStoredChoiceAndNeverRewritesAnUnknownOne) {
    struct Case {
        std::string stored;
        int expectedIndex;
        QString expectedText;
    };
    for (const Case& test : std::vector<Case>{{"", 0, "Best available"},
                                              {"B", 2, "iPhone 15 — iOS 17.5.0"},
                                              {"deleted-device", -1, ""}}) {
        SettingsTab tab;
        tab.userSettings.setPreferredSimulatorUDID(QString::fromStdString(test.stored));
        tab.driver.showEnvironment(makeReadyEnvironment(
            {makeDevice("A", "iPhone 16", "18.2"), makeDevice("B", "iPhone 15", "17.5")}));
        EXPECT_EQ(tab.scene.property("preferredSimulatorChoice", "currentIndex"),
                  test.expectedIndex)
            << test.stored;
        EXPECT_EQ(tab.scene.property("preferredSimulatorChoice", "displayText"), test.expectedText)
            << test.stored;
        // A later diagnosis that still lacks the device leaves the stored value alone.
        tab.driver.showEnvironment(makeReadyEnvironment({makeDevice("A", "iPhone 16", "18.2")}));
        EXPECT_EQ(tab.storedSettings().preferredSimulatorUDID(), test.stored);
    }
}

TEST(SettingsTabTest, ChoosingASimulatorStoresItForTheNextLaunch) {
    SettingsTab tab;
    tab.driver.showEnvironment(makeReadyEnvironment({makeDevice("A", "iPhone 16", "18.2")}));
    std::vector<std::optional<std::string>> launchedWith;
    tab.driver.previewService().onLaunch = [&](const testing::LaunchCall& call) {
        launchedWith.push_back(call.preferredSimulatorUDID);
        return testing::makeReport("Demo", "iPhone 16");
    };
    const auto launch = [&] {
        const QFuture<void> done = tab.driver.state().open("p-1");
        StateDriver::waitUntil([&] { return done.isFinished(); });
    };
    QObject& choice = tab.scene.find("preferredSimulatorChoice");

    // The keyboard picks the next or previous option as a person picks from the list.
    QMetaObject::invokeMethod(&choice, "incrementCurrentIndex");
    EXPECT_EQ(tab.storedSettings().preferredSimulatorUDID(), "A");
    launch();

    QMetaObject::invokeMethod(&choice, "decrementCurrentIndex");
    EXPECT_EQ(choice.property("displayText"), "Best available");
    EXPECT_EQ(tab.storedSettings().preferredSimulatorUDID(), "");
    launch();

    EXPECT_EQ(launchedWith, (std::vector<std::optional<std::string>>{"A", std::nullopt}));
}

TEST(SettingsTabTest, TheSwitchIsWrittenToTheSettingsFileAtOnce) {
    SettingsTab tab;
    EXPECT_TRUE(tab.scene.property("activateSimulatorSwitch", "checked").toBool());
    tab.scene.click("activateSimulatorSwitch");
    EXPECT_FALSE(tab.storedSettings().activateSimulator());
    EXPECT_FALSE(tab.scene.property("activateSimulatorSwitch", "checked").toBool());
    tab.scene.click("activateSimulatorSwitch");
    EXPECT_TRUE(tab.storedSettings().activateSimulator());
    EXPECT_FALSE(tab.scene.isShown("saveErrorLine"));
}

TEST(SettingsTabTest, OpenAtLoginShowsWhetherTheAutostartEntryIsThere) {
    SettingsTab tab;
    const auto folder = Settings::defaultFile().parent_path().parent_path() / "autostart";
    const auto checked = [&] {
        return tab.scene.property("openAtLoginSwitch", "checked").toBool();
    };
    EXPECT_FALSE(checked()) << "off by default";

    tab.scene.click("openAtLoginSwitch");
    std::ifstream entry(folder / "quaylet.desktop");
    const std::string contents{std::istreambuf_iterator<char>(entry), {}};
    EXPECT_NE(
        contents.find("\nExec=\"" + QCoreApplication::applicationFilePath().toStdString() + "\"\n"),
        std::string::npos)
        << contents;
    EXPECT_TRUE(checked());
    tab.scene.click("openAtLoginSwitch");
    EXPECT_FALSE(std::filesystem::exists(folder / "quaylet.desktop"));
    EXPECT_FALSE(checked());

    // A file where the autostart folder belongs: the switch stays off and says why.
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "not a folder";
    tab.scene.click("openAtLoginSwitch");
    EXPECT_FALSE(checked());
    EXPECT_TRUE(
        tab.scene.text("openAtLoginDetail").startsWith("Quaylet could not be added to login"))
        << tab.scene.text("openAtLoginDetail").toStdString();
}

TEST(SettingsTabTest, ASettingThatCannotBeSavedSaysSoAndShowsWhatIsStored) {
    SettingsTab tab;
    // A file where the settings folder belongs: nothing can be written under it.
    std::filesystem::create_directories(Settings::defaultFile().parent_path().parent_path());
    std::ofstream(Settings::defaultFile().parent_path()) << "not a folder";

    tab.scene.click("activateSimulatorSwitch");
    EXPECT_TRUE(tab.scene.isShown("saveErrorLine"));
    EXPECT_TRUE(tab.scene.text("saveErrorText").startsWith("Quaylet couldn’t save this setting: "))
        << tab.scene.text("saveErrorText").toStdString();
    EXPECT_TRUE(tab.scene.property("activateSimulatorSwitch", "checked").toBool());
}

TEST(SettingsTabTest, DuringALaunchOnlyTheControlsThatWouldDisturbItAreDisabled) {
    SettingsTab tab;
    const auto enabled = [&](const char* name) {
        return tab.scene.property(name, "enabled").toBool();
    };
    for (const char* name : {"clearCacheButton", "checkNowButton", "signOutButton"}) {
        EXPECT_TRUE(enabled(name)) << name;
    }

    tab.driver.holdLocalLaunchAt(LaunchStage::installing, "/builds/Demo.app");
    EXPECT_FALSE(enabled("clearCacheButton"));
    EXPECT_FALSE(enabled("signOutButton"));
    EXPECT_TRUE(enabled("checkNowButton"));

    tab.scene.click("signOutButton");
    tab.scene.click("clearCacheButton");
    tab.scene.click("checkNowButton");
    EXPECT_EQ(tab.updateChecks, 1);
    EXPECT_TRUE(tab.driver.state().isSignedIn());
    EXPECT_EQ(tab.driver.state().stage(), LaunchStage::installing);
}

TEST(SettingsTabTest, TheAccountRowFollowsTheSignIn) {
    for (const bool signedIn : {true, false}) {
        SettingsTab tab({.signedIn = signedIn});
        EXPECT_EQ(tab.scene.text("accountStatus"),
                  signedIn ? "Signed in to GitHub" : "Not signed in");
        EXPECT_EQ(tab.scene.property("accountIcon", "symbol"),
                  signedIn ? "checkmark.circle.fill" : "person.crop.circle.badge.questionmark");
        EXPECT_EQ(tab.scene.isShown("signOutButton"), signedIn);
        EXPECT_EQ(tab.scene.isShown("signInButton"), !signedIn);
    }
}

TEST(SettingsTabTest, SignInRecordsTheSignInBeforeOpeningThePage) {
    SettingsTab tab({.signedIn = false});
    testing::BrowserDouble browser;
    tab.scene.click("signInButton");
    EXPECT_EQ(browser.openedURLs(), QList<QUrl>{tab.driver.state().signInURL()});
    EXPECT_TRUE(PendingSignIn(tab.driver.folder() / "state" / "pending-sign-in").consume());
}

TEST(SettingsTabTest, ASignInThatCannotBeRecordedOpensNothingAndSaysWhy) {
    SettingsTab tab({.signedIn = false});
    testing::BrowserDouble browser;
    // A file where the mark's folder belongs.
    std::ofstream(tab.driver.folder() / "state") << "not a folder";
    tab.scene.click("signInButton");
    EXPECT_TRUE(browser.openedURLs().isEmpty());
    EXPECT_TRUE(tab.scene.isShown("statusLine"));
    EXPECT_EQ(tab.scene.property("statusIcon", "symbol"), "exclamationmark.triangle.fill");
}

TEST(SettingsTabTest, TheStatusLineConfirmsThisTabsActionsAndShowsErrors) {
    struct Case {
        const char* name;
        std::function<void(SettingsTab&)> act;
        std::optional<QString> expected;  // absent: no status line
        QString symbol;
    };
    const std::vector<Case> cases = {
        {"nothing yet", [](SettingsTab&) {}, std::nullopt, ""},
        {"cache cleared",
         [](SettingsTab& tab) {
             tab.scene.click("clearCacheButton");
             StateDriver::waitUntil([&] { return tab.driver.state().activeDetail().has_value(); });
         },
         "Downloaded builds cleared", "checkmark.circle.fill"},
        {"signed out",
         [](SettingsTab& tab) {
             tab.scene.click("signOutButton");
             StateDriver::waitUntil([&] { return !tab.driver.state().isSignedIn(); });
         },
         "Signed out", "checkmark.circle.fill"},
        {"clearing failed",
         [](SettingsTab& tab) {
             tab.driver.previewService().clearFailure = std::make_exception_ptr(
                 QuayletError::previewUnavailable("The cache folder is in use."));
             tab.scene.click("clearCacheButton");
             StateDriver::waitUntil([&] { return tab.driver.state().errorMessage().has_value(); });
         },
         "The cache folder is in use.", "exclamationmark.triangle.fill"},
        {"another detail",
         [](SettingsTab& tab) {
             tab.driver.holdLocalLaunchAt(LaunchStage::installing, "/builds/Demo.app");
         },
         std::nullopt, ""},
    };
    for (const Case& test : cases) {
        SettingsTab tab;
        test.act(tab);
        EXPECT_EQ(tab.scene.isShown("statusLine"), test.expected.has_value()) << test.name;
        if (test.expected) {
            EXPECT_EQ(tab.scene.text("statusText"), *test.expected) << test.name;
            EXPECT_EQ(tab.scene.property("statusIcon", "symbol"), test.symbol) << test.name;
        }
    }
}

TEST(SettingsTabTest, ShowsTheCacheSizeAndItsLimit) {
    SettingsTab tab;
    tab.driver.previewService().cached = {{"a", "/cache/a/1", 3'200'000'000, std::nullopt}};
    tab.driver.state().refreshCacheUsage();
    ASSERT_TRUE(StateDriver::waitUntil([&] {
        return tab.scene.text("cacheSizeText") == "Downloaded builds · 3.2 GB";
    })) << tab.scene.text("cacheSizeText").toStdString();
    EXPECT_TRUE(tab.scene.text("cacheLimitText").startsWith("Quaylet keeps up to 20 GB"));
}

}  // namespace
}  // namespace quaylet
