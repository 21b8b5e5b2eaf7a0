#include <gtest/gtest.h>

#include <QQmlComponent>
#include <QQuickItem>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>

#include <functional>
#include <memory>

#include "app/UpdateAction.h"
#include "app/UserSettings.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet {
namespace {

using testing::QuickScene;
using testing::StateDriver;

// A loopback listener that notes the path of every request that reaches it.
class RequestRecorder {
  public:
    RequestRecorder() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (socket->canReadLine()) {
                        paths.append(QString::fromLatin1(socket->readLine().split(' ').value(1)));
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }

    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(server_.serverPort()).arg(path);
    }

    QStringList paths;

  private:
    QTcpServer server_;
};

// Every text item under the item, pop-ups and the overlay included.
void collectTexts(QQuickItem* item, QList<QQuickItem*>& texts) {
    if (item->inherits("QQuickText") || item->inherits("QQuickTextEdit")) {
        texts.append(item);
    }
    for (QQuickItem* child : item->childItems()) {
        collectTexts(child, texts);
    }
}

struct Situation {
    const char* name;
    // Fills every field that comes from outside with the markup and returns the view.
    std::function<std::unique_ptr<QuickScene>(StateDriver&, const std::string& markup)> show;
};

QVariant stateOf(StateDriver& driver) {
    return QVariant::fromValue<QObject*>(&driver.state());
}

std::unique_ptr<QuickScene> mainWindow(StateDriver& driver) {
    static UpdateAction updates([] {});
    return std::make_unique<QuickScene>(
        "ContentView", QVariantMap{{"appState", stateOf(driver)},
                                   {"updateAction", QVariant::fromValue(&updates)}});
}

PreviewManifest hostileManifest(const std::string& markup) {
    PreviewManifest manifest = testing::makeManifest(markup, markup);
    manifest.repository = markup;
    manifest.branch = markup;
    manifest.bundleId = markup;
    return manifest;
}

SelfTestReport hostileReport(const std::string& markup) {
    SelfTestReport report = testing::makeReport(markup, markup);
    report.app.bundleIdentifier = markup;
    report.installedFixtureVersion = markup;
    report.app.fixtureVersion = markup;
    return report;
}

const Situation kSituations[] = {
    {"builds list",
     [](StateDriver& driver, const std::string& markup) {
         PreviewSummary summary = testing::makeSummary(markup, markup);
         summary.repository = summary.branch = summary.commitSha = markup;
         summary.pullRequestTitle = markup;
         PreviewSummary unready = summary;
         unready.status = markup;
         driver.loadBuilds({summary, unready});
         return mainWindow(driver);
     }},
    {"builds list failure",
     [](StateDriver& driver, const std::string& markup) {
         driver.failBuilds(markup);
         return mainWindow(driver);
     }},
    {"progress",
     [](StateDriver& driver, const std::string& markup) {
         driver.holdRemoteLaunchAt(LaunchStage::installing, hostileManifest(markup));
         return mainWindow(driver);
     }},
    {"success",
     [](StateDriver& driver, const std::string& markup) {
         driver.holdRemoteLaunchAt(LaunchStage::installing, hostileManifest(markup));
         driver.finishHeldLaunch(hostileReport(markup));
         return mainWindow(driver);
     }},
    {"failure",
     [](StateDriver& driver, const std::string& markup) {
         driver.holdRemoteLaunchAt(LaunchStage::installing, hostileManifest(markup));
         driver.failHeldLaunch(markup);
         return mainWindow(driver);
     }},
    {"launch panel",
     [](StateDriver& driver, const std::string& markup) {
         driver.holdRemoteLaunchAt(LaunchStage::installing, hostileManifest(markup));
         return std::make_unique<QuickScene>("LaunchHUDView",
                                             QVariantMap{{"appState", stateOf(driver)}});
     }},
    {"launch panel failure",
     [](StateDriver& driver, const std::string& markup) {
         driver.holdRemoteLaunchAt(LaunchStage::installing, hostileManifest(markup));
         driver.failHeldLaunch(markup);
         return std::make_unique<QuickScene>("LaunchHUDView",
                                             QVariantMap{{"appState", stateOf(driver)}});
     }},
    {"diagnostics and settings",
     [](StateDriver& driver, const std::string& markup) {
         EnvironmentSnapshot snapshot =
             testing::makeReadyEnvironment({testing::makeDevice(markup, markup, "18.2")});
         snapshot.xcodePath = snapshot.simctlPath = snapshot.architecture = markup;
         snapshot.failures = {markup};
         driver.showEnvironment(snapshot);
         static UserSettings settings;
         static UpdateAction updates([] {});
         auto scene = std::make_unique<QuickScene>(
             "SettingsTab", QVariantMap{{"appState", stateOf(driver)},
                                        {"userSettings", QVariant::fromValue(&settings)},
                                        {"updateAction", QVariant::fromValue(&updates)}});
         // The simulator names show in the choice's open list.
         QMetaObject::invokeMethod(
             scene->find("preferredSimulatorChoice").property("popup").value<QObject*>(), "open");
         return scene;
     }},
    {"update dialog",
     [](StateDriver&, const std::string& markup) {
         const QString text = QString::fromStdString(markup);
         return std::make_unique<QuickScene>("UpdateDialog",
                                             QVariantMap{{"checking", false},
                                                         {"heading", text},
                                                         {"message", text},
                                                         {"availableVersion", text}});
     }},
};

// Text from pull requests, the service, bundles and the update feed shows as the characters
// it is: markup in it neither fetches anything nor restyles the views.
TEST(UntrustedTextTest, MarkupFromOutsideShowsLiterallyAndFetchesNothing) {
    RequestRecorder recorder;
    for (const Situation& situation : kSituations) {
        SCOPED_TRACE(situation.name);
        const QString markup = QStringLiteral("<img src=\"%1\"><b>bold</b><a href=\"%1\">x</a>")
                                   .arg(recorder.url(situation.name).replace(' ', '-'));
        StateDriver driver;
        const std::unique_ptr<QuickScene> scene = situation.show(driver, markup.toStdString());
        QCoreApplication::processEvents();

        QList<QQuickItem*> texts;
        collectTexts(scene->window().contentItem(), texts);
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

    // Markup that is read as markup does reach the listener, so its silence above means
    // something. It goes last: once it has arrived, any earlier fetch would have too.
    QQmlEngine engine;
    QQmlComponent control(&engine);
    control.setData(QStringLiteral("import QtQuick\nText { textFormat: Text.RichText; text: "
                                   "'<img src=\"%1\">' }")
                        .arg(recorder.url("control"))
                        .toUtf8(),
                    QUrl());
    std::unique_ptr<QObject> controlText(control.create());
    ASSERT_TRUE(controlText) << control.errorString().toStdString();
    EXPECT_TRUE(StateDriver::waitUntil([&] { return recorder.paths.contains("/control"); }));
    // The control may be asked for more than once (the listener answers nothing).
    recorder.paths.removeAll("/control");
    EXPECT_EQ(recorder.paths.join(' ').toStdString(), "");
}

}  // namespace
}  // namespace quaylet
