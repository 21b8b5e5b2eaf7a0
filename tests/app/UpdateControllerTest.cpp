// The update check on Linux against a real feed server on 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QGuiApplication>

#include <map>
#include <optional>
#include <thread>

#include "app/QuayletApp.h"
#include "app/linux/FeedUpdateController.h"
#include "appsupport/View.h"
#include "support/ScopedEnvironment.h"

namespace quaylet {
namespace {

// A web server on 127.0.0.1 that answers each path with its body, or its redirect, or 404.
class WebServer {
  public:
    WebServer() {
        server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            if (const auto moved = redirects.find(request.path); moved != redirects.end()) {
                response.set_redirect(moved->second);
            } else if (const auto body = bodies.find(request.path); body != bodies.end()) {
                response.set_content(body->second, "application/rss+xml");
            } else {
                response.status = 404;
            }
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop that arrives before the server runs is lost and the join would hang.
        while (!server_.is_running()) {
            std::this_thread::yield();
        }
    }
    ~WebServer() {
        server_.stop();
        thread_.join();
    }

    std::string address(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Set before the first request.
    std::map<std::string, std::string> bodies;
    std::map<std::string, std::string> redirects;

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

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

TEST(FeedUpdateControllerTest, TellsTheUserWhatTheFeedSays) {
    struct Case {
        std::string feed;  // the name the server gives the body, or a whole address
        std::string body;  // none: the server has no such feed
        Outcome outcome;
        std::string shown;  // part of the heading and message, a line apart
        std::string downloadPage;
    };
    const std::string newer = feedWith(item("0.4.1", "https://quaylet.invalid/0.4.1") +
                                       item("1.2.0", "https://quaylet.invalid/1.2.0") +
                                       item("0.9.0", "https://quaylet.invalid/0.9.0"));
    const Case cases[] = {
        {"newer", newer, Outcome::updateAvailable,
         "Quaylet 1.2.0 is available\nYou have Quaylet 0.4.2. Download",
         "https://quaylet.invalid/1.2.0"},
        {"newer-script-link",
         feedWith(item("0.5.0", "javascript:alert(1)", "https://downloads.invalid/0.5.0.zip")),
         Outcome::updateAvailable, "Download", "https://downloads.invalid/0.5.0.zip"},
        {"newer-no-web-link", feedWith(item("0.5.0", "file:///etc/passwd", "ftp://x.invalid/a")),
         Outcome::updateAvailable, "Update it the way you installed it.", ""},
        {"same", feedWith(item("0.4.2", "https://quaylet.invalid/0.4.2")), Outcome::upToDate,
         "Quaylet is up to date\nQuaylet 0.4.2 is the newest version", ""},
        {"malformed", feedWith("<item><title>Quaylet</item>"), Outcome::failed,
         "isn’t valid XML (line 3", ""},
        {"document-type",
         "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaa\">]>" +
             feedWith(item("9.0.0", "https://quaylet.invalid/9")),
         Outcome::failed, "declares a document type", ""},
        {"no-versions", feedWith("<item><title>News</title><link>https://a.invalid</link></item>"),
         Outcome::failed, "lists no versions", ""},
        {"missing", "", Outcome::failed,
         "Quaylet couldn’t check for updates\nThe update server answered with HTTP status 404", ""},
        {"oversized",
         feedWith(std::string(2 * 1024 * 1024, ' ') + item("9.0.0", "https://quaylet.invalid/9")),
         Outcome::failed, "larger than 1 MiB", ""},
        {"", "", Outcome::noFeed, "Updates come with your system’s packages\nUpdate Quaylet", ""},
        {"http://0.0.0.0:1/feed", "", Outcome::failed, "isn’t an https address", ""},
        {"moved", "", Outcome::failed, "moved to an address that isn’t secure", ""},
        {"http://127.0.0.1:1/feed", "", Outcome::failed, "couldn’t reach the update server", ""},
    };
    WebServer server;
    server.redirects["/moved"] = "http://0.0.0.0:1/feed";
    for (const Case& test : cases) {
        if (!test.body.empty()) {
            server.bodies["/" + test.feed] = test.body;
        }
    }
    for (const Case& expected : cases) {
        SCOPED_TRACE(expected.feed);
        const bool served = !expected.feed.empty() && expected.feed.find(':') == std::string::npos;
        FeedUpdateController controller(
            QString::fromStdString(served ? server.address("/" + expected.feed) : expected.feed),
            kRunningVersion);
        std::optional<UpdateCheckResult> result;
        QObject::connect(&controller, &UpdateController::checkFinished,
                         [&](const UpdateCheckResult& finished) { result = finished; });
        controller.checkForUpdates();
        ASSERT_TRUE(testing::waitFor([&] { return result.has_value(); }));
        const std::string shown = (result->heading + "\n" + result->message).toStdString();
        EXPECT_EQ(result->outcome, expected.outcome);
        EXPECT_NE(shown.find(expected.shown), std::string::npos) << shown;
        EXPECT_EQ(result->downloadPage.toString().toStdString(), expected.downloadPage);
    }
}

TEST(QuayletAppUpdateTest, CheckingForUpdatesShowsWhatTheFeedSaysInADialog) {
    WebServer server;
    server.bodies["/appcast.xml"] = feedWith(item("99.0.0", "https://quaylet.invalid/99"));
    testing::ScopedEnvironment feed("QUAYLET_UPDATE_FEED", server.address("/appcast.xml"));
    testing::StateDriver driver;
    QuayletApp app(driver.state());
    QQuickWindow* dialog = nullptr;
    const auto expectDialog = [&](const QString& expectations) {
        dialog = nullptr;
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->objectName() == "updateDialog" && window->isVisible()) {
                dialog = qobject_cast<QQuickWindow*>(window);
            }
        }
        ASSERT_NE(dialog, nullptr);
        testing::expectShows([&](const QString& name) { return dialog->findChild<QObject*>(name); },
                             expectations);
    };

    app.updateAction().run();
    expectDialog("updateHeading=Checking for updates…");
    QQuickWindow* first = dialog;
    ASSERT_TRUE(testing::waitFor([&] { return !dialog->property("checking").toBool(); }));
    expectDialog(
        "updateHeading=Quaylet 99.0.0 is available; "
        "updateDownloadButton.text=Download Quaylet 99.0.0; updateCloseButton.text=Later");

    // A second check reuses the dialog.
    app.updateAction().run();
    expectDialog("updateHeading=Checking for updates…");
    EXPECT_EQ(dialog, first);
}

}  // namespace
}  // namespace quaylet
