#include <gtest/gtest.h>

#include <QQuickItem>

#include <functional>

#include "appsupport/View.h"

namespace quaylet {
namespace {

using testing::View;

// Every text item under the item, pop-ups and the overlay included.
void collectTexts(QQuickItem* item, QList<QQuickItem*>& texts) {
    if (item->inherits("QQuickText") || item->inherits("QQuickTextEdit")) {
        texts.append(item);
    }
    for (QQuickItem* child : item->childItems()) {
        collectTexts(child, texts);
    }
}

void holdHostileLaunch(View& view, const std::string& markup) {
    PreviewManifest manifest = testing::makeManifest(markup, markup);
    manifest.repository = manifest.branch = manifest.bundleId = markup;
    view.driver.holdRemoteLaunchAt(LaunchStage::installing, manifest);
}

void failHostileLaunch(View& view, const std::string& markup) {
    holdHostileLaunch(view, markup);
    view.driver.failHeldLaunch(markup);
}

// Fills every field of the view that comes from outside with the markup.
struct Situation {
    const char* name;
    const char* view;
    std::function<void(View&, const std::string& markup)> bringAbout;
};

const Situation kSituations[] = {
    {"builds list", "ContentView",
     [](View& view, const std::string& markup) {
         PreviewSummary summary = testing::makeSummary(markup, markup);
         summary.repository = summary.branch = summary.commitSha = markup;
         summary.pullRequestTitle = summary.platform = markup;
         PreviewSummary unready = summary;
         unready.status = markup;
         view.driver.loadBuilds({summary, unready});
     }},
    {"builds list failure", "ContentView",
     [](View& view, const std::string& markup) { view.driver.failBuilds(markup); }},
    {"success", "ContentView",
     [](View& view, const std::string& markup) {
         holdHostileLaunch(view, markup);
         SelfTestReport report = testing::makeReport(markup, markup);
         report.app.fixtureVersion = report.installedFixtureVersion = markup;
         report.app.bundleIdentifier = markup;
         view.driver.finishHeldLaunch(report);
     }},
    {"failure", "ContentView", failHostileLaunch},
    {"launch panel", "LaunchHUDView", holdHostileLaunch},
    {"launch panel failure", "LaunchHUDView", failHostileLaunch},
    {"diagnostics and settings", "SettingsTab",
     [](View& view, const std::string& markup) {
         EnvironmentSnapshot snapshot =
             testing::makeReadyEnvironment({testing::makeDevice(markup, markup, "18.2")});
         snapshot.xcodePath = snapshot.simctlPath = snapshot.architecture = markup;
         snapshot.failures = {markup};
         view.driver.showEnvironment(snapshot);
         // The simulator names show in the choice's open list.
         QMetaObject::invokeMethod(
             view.scene.find("preferredSimulatorChoice").property("popup").value<QObject*>(),
             "open");
     }},
    {"Android diagnostics", "DiagnosticsTab",
     [](View& view, const std::string& markup) {
         EnvironmentSnapshot snapshot = testing::makeReadyEnvironment({});
         snapshot.android = {.sdkFolder = markup,
                             .isInstalled = true,
                             .adbVersion = markup,
                             .emulatorVersion = markup,
                             .emulators = {{markup, 34, markup, markup}},
                             .notice = markup};
         view.driver.showEnvironment(snapshot);
     }},
    {"update dialog", "UpdateDialog",
     [](View& view, const std::string& markup) {
         for (const char* field : {"heading", "message", "availableVersion"}) {
             view.scene.root().setProperty(field, QString::fromStdString(markup));
         }
         view.scene.root().setProperty("checking", false);
     }},
};

// Text from pull requests, the service, bundles and the update feed shows as the characters
// it is: markup in it neither fetches anything nor restyles the views.
TEST(UntrustedTextTest, MarkupFromOutsideShowsLiterallyAndFetchesNothing) {
    const std::string markup = "<img src=\"http://127.0.0.1:9/\"><b>bold</b>";
    for (const Situation& situation : kSituations) {
        SCOPED_TRACE(situation.name);
        View view(situation.view);
        situation.bringAbout(view, markup);
        QCoreApplication::processEvents();

        QList<QQuickItem*> texts;
        collectTexts(view.scene.window().contentItem(), texts);
        bool shownLiterally = false;
        for (QQuickItem* text : texts) {
            EXPECT_EQ(text->property("textFormat").toInt(), 0)  // plain text, in both types
                << text->metaObject()->className() << " " << text->objectName().toStdString()
                << ": " << text->property("text").toString().toStdString();
            shownLiterally =
                shownLiterally ||
                (text->isVisible() && text->property("text").toString().contains("<b>bold</b>"));
        }
        EXPECT_TRUE(shownLiterally) << "no label showed the markup";
    }
}

}  // namespace
}  // namespace quaylet
