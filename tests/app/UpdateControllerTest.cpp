// The update check on Linux against a real feed server on 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QEventLoop>
#include <QFileOpenEvent>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <optional>
#include <thread>

#include "app/FeedUpdateController.h"
#include "app/QuayletApp.h"
#include "appsupport/StateDriver.h"
#include "support/ScopedEnvironment.h"

namespace quaylet {
namespace {

using Outcome = UpdateCheckResult::Outcome;

constexpr SemanticVersion kRunningVersion{0, 4, 2};

std::string feedWith(const std::string& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Quaylet</title>)" +
           items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& link,
                 const std::string& enclosure = "https://downloads.invalid/quaylet.zip") {
    return "<item><title>Quaylet " + version + "</title><link>" + link +
           "</link><enclosure url=\"" + enclosure + "\" sparkle:shortVersionString=\"" + version +
           "\" sparkle:version=\"900\" length=\"1\" type=\"application/zip\"/></item>";
}

// The feeds of every case, served the way a web server serves files.
class FeedServer {
  public:
    FeedServer() {
        server_.Get("/moved", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("http://0.0.0.0:1/feed");
        });
        server_.Get(R"(/(.+))",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        const auto feed = feeds.find(request.matches[1]);
                        if (feed == feeds.end()) {
                            response.status = 404;
                            return;
                        }
                        response.set_content(feed->second, "application/rss+xml");
                    });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~FeedServer() {
        server_.stop();
        thread_.join();
    }

    std::string address(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }

    std::map<std::string, std::string> feeds;

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

UpdateCheckResult check(UpdateController& controller) {
    std::optional<UpdateCheckResult> result;
    QEventLoop loop;
    const auto connection = QObject::connect(&controller, &UpdateController::checkFinished,
                                             [&](const UpdateCheckResult& finished) {
                                                 result = finished;
                                                 loop.quit();
                                             });
    controller.checkForUpdates();
    if (!result) {
        // A bound for a broken check, not a measure of a working one.
        QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QObject::disconnect(connection);
    if (!result) {
        throw std::runtime_error("the update check never finished");
    }
    return *result;
}

TEST(FeedUpdateControllerTest, TellsTheUserWhatTheFeedSays) {
    FeedServer server;
    server.feeds = {
        {"newer", feedWith(item("0.4.1", "https://quaylet.invalid/0.4.1") +
                           item("1.2.0", "https://quaylet.invalid/1.2.0") +
                           item("0.9.0", "https://quaylet.invalid/0.9.0"))},
        {"newer-script-link",
         feedWith(item("0.5.0", "javascript:alert(1)", "https://downloads.invalid/0.5.0.zip"))},
        {"newer-no-web-link", feedWith(item("0.5.0", "file:///etc/passwd", "ftp://x.invalid/a"))},
        {"same", feedWith(item("0.4.2", "https://quaylet.invalid/0.4.2"))},
        {"older", feedWith(item("0.3.9", "https://quaylet.invalid/0.3.9"))},
        {"malformed", feedWith("<item><title>Quaylet</item>")},
        {"document-type", "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaa\">]>" +
                              feedWith(item("9.0.0", "https://quaylet.invalid/9"))},
        {"not-rss", "<html><body>Quaylet</body></html>"},
        {"no-versions", feedWith("<item><title>News</title><link>https://a.invalid</link></item>")},
        {"oversized",
         feedWith(std::string(2 * 1024 * 1024, ' ') + item("9.0.0", "https://quaylet.invalid/9"))},
    };
    struct Case {
        std::string feedAddress;
        Outcome outcome;
        std::string heading;
        std::string messagePart;
        std::string downloadPage;
    };
    const std::string failed = "Quaylet couldn’t check for updates";
    const Case cases[] = {
        {server.address("newer"), Outcome::updateAvailable, "Quaylet 1.2.0 is available",
         "You have Quaylet 0.4.2. Download", "https://quaylet.invalid/1.2.0"},
        {server.address("newer-script-link"), Outcome::updateAvailable,
         "Quaylet 0.5.0 is available", "Download", "https://downloads.invalid/0.5.0.zip"},
        {server.address("newer-no-web-link"), Outcome::updateAvailable,
         "Quaylet 0.5.0 is available", "Update it the way you installed it.", ""},
        {server.address("same"), Outcome::upToDate, "Quaylet is up to date",
         "Quaylet 0.4.2 is the newest version", ""},
        {server.address("older"), Outcome::upToDate, "Quaylet is up to date", "0.4.2", ""},
        {server.address("malformed"), Outcome::failed, failed, "isn’t valid XML (line 3", ""},
        {server.address("document-type"), Outcome::failed, failed, "declares a document type", ""},
        {server.address("not-rss"), Outcome::failed, failed, "isn’t an RSS feed", ""},
        {server.address("no-versions"), Outcome::failed, failed, "lists no versions", ""},
        {server.address("missing"), Outcome::failed, failed, "HTTP status 404", ""},
        {server.address("oversized"), Outcome::failed, failed, "larger than 1 MiB", ""},
        {"", Outcome::noFeed, "Updates come with your system’s packages", "package manager", ""},
        {"ftp://127.0.0.1/feed", Outcome::failed, failed, "isn’t an https address", ""},
        {"http://0.0.0.0:1/feed", Outcome::failed, failed, "isn’t an https address", ""},
        {server.address("moved"), Outcome::failed, failed, "moved to an address that isn’t secure",
         ""},
        {"http://127.0.0.1:1/feed", Outcome::failed, failed, "couldn’t reach the update server",
         ""},
    };
    for (const Case& expected : cases) {
        SCOPED_TRACE(expected.feedAddress);
        FeedUpdateController controller(QString::fromStdString(expected.feedAddress),
                                        kRunningVersion);
        const UpdateCheckResult result = check(controller);
        EXPECT_EQ(result.outcome, expected.outcome);
        EXPECT_EQ(result.heading.toStdString(), expected.heading);
        EXPECT_NE(result.message.toStdString().find(expected.messagePart), std::string::npos)
            << result.message.toStdString();
        EXPECT_EQ(result.downloadPage.toString().toStdString(), expected.downloadPage);
    }
}

TEST(FeedUpdateControllerTest, TheEnvironmentChoosesTheFeed) {
    {
        testing::ScopedEnvironment feed("QUAYLET_UPDATE_FEED", "https://feed.invalid/appcast.xml");
        EXPECT_EQ(FeedUpdateController::configuredFeedAddress(),
                  "https://feed.invalid/appcast.xml");
    }
    // Set but empty turns a configured feed off.
    testing::ScopedEnvironment feed("QUAYLET_UPDATE_FEED", "");
    EXPECT_EQ(FeedUpdateController::configuredFeedAddress(), "");
}

QQuickWindow* updateDialog() {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->objectName() == "updateDialog") {
            return qobject_cast<QQuickWindow*>(window);
        }
    }
    return nullptr;
}

QString textOf(QQuickWindow& window, const char* objectName) {
    auto* item = window.findChild<QQuickItem*>(objectName);
    return item && item->isVisible() ? item->property("text").toString() : QString();
}

TEST(QuayletAppUpdateTest, CheckingForUpdatesShowsWhatTheFeedSaysInADialog) {
    FeedServer server;
    server.feeds = {{"appcast.xml", feedWith(item("99.0.0", "https://quaylet.invalid/99"))}};
    testing::ScopedEnvironment feed("QUAYLET_UPDATE_FEED", server.address("appcast.xml"));
    testing::StateDriver driver;
    QuayletApp app(driver.state());

    app.updateAction().run();
    QQuickWindow* dialog = updateDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(textOf(*dialog, "updateHeading"), "Checking for updates…");

    ASSERT_TRUE(
        testing::StateDriver::waitUntil([&] { return !dialog->property("checking").toBool(); }));
    EXPECT_EQ(textOf(*dialog, "updateHeading"), "Quaylet 99.0.0 is available");
    EXPECT_EQ(textOf(*dialog, "updateDownloadButton"), "Download Quaylet 99.0.0");
    EXPECT_EQ(textOf(*dialog, "updateCloseButton"), "Later");

    // A second check reuses the dialog.
    app.updateAction().run();
    EXPECT_EQ(updateDialog(), dialog);
}

TEST(QuayletAppTest, LinksOpenedAsEventsReachTheState) {
    testing::StateDriver driver({.signedIn = false});
    QuayletApp app(driver.state());
    QFileOpenEvent event(QUrl("quaylet://preview/from-event"));
    QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
    EXPECT_EQ(driver.state().receivedPreviewID(), "from-event");
}

}  // namespace
}  // namespace quaylet
