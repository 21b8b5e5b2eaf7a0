#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusMetaType>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusVariant>

#include <optional>
#include <stdexcept>

#include "app/LaunchHUD.h"
#include "app/QmlWindowMaker.h"
#include "appsupport/View.h"
#include "support/ChildProcess.h"

namespace quaylet {
namespace {

using testing::ChildProcess;
using testing::StateDriver;
using testing::View;

// A desktop as a screen reader meets it: an X server, and on the program's own session bus
// the accessibility bus that its views are published on, with the registry of programs.
class AccessibleDesktop : public ::testing::Environment {
  public:
    void SetUp() override {
        const auto [displayRead, displayWrite] = ChildProcess::pipe();
        server_ =
            ChildProcess::start({"Xvfb", "-displayfd", "1", "-nolisten", "tcp"}, -1, displayWrite);
        ::close(displayWrite);
        const std::string display = ChildProcess::readLine(displayRead);
        ::close(displayRead);
        if (display.empty()) {
            throw std::runtime_error("the X server did not start (see its messages)");
        }
        display_.emplace("DISPLAY", ":" + display);
        application_.emplace("quaylet-accessibility-tests", "xcb");
        // Its sockets go to a folder of its own rather than the person's. It leads a process
        // group, so that the bus and registry it starts go with it.
        testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", runtimeFolder_.path().string());
        launcher_ = ChildProcess::start(
            {"setsid", "/usr/libexec/at-spi-bus-launcher", "--launch-immediately"});
    }

    void TearDown() override {
        ::kill(-launcher_, SIGTERM);
        ChildProcess::wait(launcher_);
        // Its folder goes once nothing of it is left to write there.
        testing::waitFor([&] { return ::kill(-launcher_, 0) != 0; });
        application_.reset();
        ::kill(server_, SIGTERM);
        ChildProcess::wait(server_);
    }

  private:
    // The screen reader's switch, which no desktop turns on here.
    testing::ScopedEnvironment alwaysOn_{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"};
    // Drawn as the program draws, in software rather than through the X server's GL.
    testing::ScopedEnvironment renderer_{"QT_QUICK_BACKEND", "software"};
    pid_t server_ = -1;
    std::optional<testing::ScopedEnvironment> display_;
    std::optional<testing::QuickApplication> application_;
    testing::TemporaryDirectory runtimeFolder_;
    pid_t launcher_ = -1;
};

[[maybe_unused]] ::testing::Environment* const kDesktop =
    ::testing::AddGlobalTestEnvironment(new AccessibleDesktop);

// Asks over the accessibility bus, as a screen reader does; the program answers on its own
// main thread, so the wait goes on serving its events. Returns the answer's first value.
QVariant ask(const QString& service, const QString& path, const QString& interface,
             const QString& method, const QVariantList& arguments = {}) {
    static QDBusConnection reader = [] {
        const QDBusMessage address =
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
        return QDBusConnection::connectToBus(address.arguments().value(0).toString(), "reader");
    }();
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = reader.call(message, QDBus::BlockWithGui);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0);
}

// The (bus name, object path) pairs an answer lists.
using Elements = QList<std::pair<QString, QDBusObjectPath>>;

// What a screen reader reads of an element and of everything shown below it, one line each:
// the role, the name, the description after a dash, and "[checked]" when it is.
void readAloud(const QString& service, const QDBusObjectPath& element,
               std::vector<std::string>& lines) {
    const QString path = element.path();
    const QString accessible = "org.a11y.atspi.Accessible";
    const auto states = qdbus_cast<QList<uint>>(ask(service, path, accessible, "GetState"));
    // The SHOWING and CHECKED states, in the first word of the set.
    constexpr uint kShowing = 1u << 25, kChecked = 1u << 4;
    if (states.isEmpty() || !(states[0] & kShowing)) {
        return;
    }
    const auto property = [&](const QString& name) {
        return qdbus_cast<QDBusVariant>(
                   ask(service, path, "org.freedesktop.DBus.Properties", "Get", {accessible, name}))
            .variant()
            .toString();
    };
    QString line =
        ask(service, path, accessible, "GetRoleName").toString() + ": " + property("Name");
    if (const QString description = property("Description"); !description.isEmpty()) {
        line += " — " + description;
    }
    lines.push_back((states[0] & kChecked ? line + " [checked]" : line).toStdString());
    for (const auto& [childService, childPath] :
         qdbus_cast<Elements>(ask(service, path, accessible, "GetChildren"))) {
        readAloud(childService, childPath, lines);
    }
}

// Every program the registry knows, read whole.
std::vector<std::string> readDesktop() {
    const QString root = "/org/a11y/atspi/accessible/root";
    Elements programs;
    // The program joins the registry once its views are first published.
    testing::waitFor([&] {
        programs = qdbus_cast<Elements>(
            ask("org.a11y.atspi.Registry", root, "org.a11y.atspi.Accessible", "GetChildren"));
        return !programs.isEmpty();
    });
    std::vector<std::string> lines;
    for (const auto& [service, path] : programs) {
        readAloud(service, path, lines);
    }
    return lines;
}

PreviewSummary build(int pullRequest) {
    PreviewSummary summary = testing::makeSummary("p-" + std::to_string(pullRequest), "Demo");
    summary.pullRequest = pullRequest;
    return summary;
}

struct Situation {
    const char* name;
    const char* view;
    std::function<void(StateDriver&, LaunchHUD& panel)> bringAbout;
    std::vector<std::string> heard;  // among the lines readAloud gives
};

const PreviewManifest kManifest = testing::makeManifest("Demo", "0123456789abcdef");

const Situation kSituations[] = {
    {"a failed launch over watched pull requests",
     "ContentView",
     [](StateDriver& driver, LaunchHUD&) {
         driver.loadBuilds({build(7), build(8)});
         driver.state().watcher().setWatched("octo/app", 42, true);
         driver.state().watcher().setWatched("octo/app", 7, true);
         driver.state().watcher().setOpenAutomatically("octo/app", 7, true);
         driver.holdRemoteLaunchAt(LaunchStage::verifying, kManifest);
         driver.failHeldLaunch("The archive is damaged.");
     },
     {"alert message: Couldn’t open this build, The archive is damaged.", "label: Demo",
      "label: octo/app · PR #42 · 0123456", "check box: Watch octo/app pull request 42 [checked]",
      "check box: Open octo/app pull request 7 automatically [checked]",
      "check box: Watch octo/app pull request 8"}},
    {"a download under way",
     "ContentView",
     [](StateDriver& driver, LaunchHUD& panel) {
         driver.holdRemoteLaunchAt(LaunchStage::downloading, kManifest,
                                   {{49'000'000}, 126'000'000});
         panel.show();
     },
     {"progress bar: Launch progress — Getting the build, step 2 of 5",
      "label: Opening Demo in Simulator, 49 MB of 126 MB — Getting the build, step 2 of 5",
      "label: Find, complete", "label: Get, current: 49 MB of 126 MB", "label: Ready, pending"}},
    {"the settings",
     "SettingsTab",
     [](StateDriver&, LaunchHUD&) {},
     {"heading: Settings", "heading: iOS Simulator", "heading: GitHub account"}},
};

TEST(ScreenReaderTest, EachSituationIsReadWithItsTextAndStates) {
    for (const Situation& situation : kSituations) {
        SCOPED_TRACE(situation.name);
        View view(situation.view);
        QmlWindowMaker windows;
        LaunchHUD panel(view.driver.state().launch(), view.driver.state().account(), windows);
        situation.bringAbout(view.driver, panel);
        EXPECT_THAT(readDesktop(), ::testing::IsSupersetOf(situation.heard));
    }
}

}  // namespace
}  // namespace quaylet
