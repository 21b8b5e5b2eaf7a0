#include "feature/PullRequestWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QJsonDocument>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <fstream>
#include <mutex>

#include "core/errors/QuayletError.h"
#include "core/support/InternetDateTime.h"
#include "feature/StateHarness.h"
#include "support/PrivateSessionBus.h"

namespace quaylet::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

// The desktop's notifier as a record of what it was asked to show.
class RecordingNotifier : public BuildNotifier {
  public:
    bool announce(const PreviewSummary& build) override {
        announced.push_back(readyAnnouncement(build).toStdString());
        return available;
    }

    std::vector<std::string> announced;
    bool available = true;
};

PreviewSummary build(const std::string& id, Clock::time_point created,
                     const std::string& status = "ready") {
    PreviewSummary summary = makeSummary(id, id);
    summary.repository = "acme/app";
    summary.pullRequest = 7;
    summary.pullRequestTitle = "Dark mode";
    summary.status = status;
    summary.createdAt = created;
    return summary;
}

class PullRequestWatcherTest : public StateHarness {
  protected:
    // Starts the state's watcher on this test's notifier and waits for its first look.
    PullRequestWatcher& start() {
        const int before = service->listCount();
        state->watcher().start(notifier);
        if (!state->watcher().watches().empty()) {
            EXPECT_TRUE(waitFor([&] {
                return service->listCount() > before && !state->buildsList().isLoadingBuilds();
            }));
        }
        return state->watcher();
    }

    std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>();
};

TEST_F(PullRequestWatcherTest, NothingPollsWithoutAStartedWatchAndASignIn) {
    AppState& app = makeState();
    PullRequestWatcher& watcher = start();
    EXPECT_FALSE(watcher.isPolling()) << "nothing is watched";

    watcher.setWatched("acme/app", 7, true);
    EXPECT_TRUE(
        waitFor([&] { return service->listCount() == 1 && !app.buildsList().isLoadingBuilds(); }));
    watcher.setWatched("acme/app", 7, false);
    EXPECT_FALSE(watcher.isPolling());

    watcher.setWatched("acme/app", 7, true);
    tokens->token.reset();
    EXPECT_TRUE(waitFor(app.account().signOut()));
    EXPECT_TRUE(waitFor([&] { return !watcher.isPolling(); })) << "signed out";

    watcher.setWatched("acme/app;rm", 8, true);
    EXPECT_EQ(watcher.watches().size(), 1u) << "only plain owner/name repositories";
}

TEST_F(PullRequestWatcherTest, TheNewestNewReadyBuildIsFetchedAheadThenAnnouncedOrOpened) {
    const auto now = Clock::now();
    const auto seen = build("seen", now - 2h);
    const std::vector<PreviewSummary> published = {seen, build("older", now - 1h),
                                                   build("new", now - 30min),
                                                   build("uploading", now, "uploading")};
    const std::vector<std::string> announcement = {"Build ready · Dark mode · acme/app #7"};
    struct Case {
        const char* name;
        bool openAutomatically;
        bool notificationService;
        std::vector<std::string> announced;
        std::vector<std::string> opened;
        std::size_t readyBuilds;
    };
    const Case cases[] = {
        {"announced, then opened from the notification", false, true, announcement, {}, 0},
        {"shown by the list", false, false, announcement, {}, 1},
        {"opened instead", true, true, {}, {"new"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(settingsFile);
        service = std::make_shared<FakePreviewService>();
        service->onLaunch = [](const LaunchCall&) { return makeReport("App", "iPhone"); };
        notifier = std::make_shared<RecordingNotifier>();
        notifier->available = c.notificationService;
        // The list shows the first build, and the pull request is watched from there.
        service->previews = {seen};
        ASSERT_TRUE(waitFor(makeState().buildsList().refreshBuilds()));
        state->watcher().setWatched("acme/app", 7, true);
        state->watcher().setOpenAutomatically("acme/app", 7, c.openAutomatically);
        service->previews = published;
        PullRequestWatcher& watcher = start();

        ASSERT_TRUE(waitFor(
            [&] { return notifier->announced.size() + service->launchedPreviews().size() > 0; }));
        EXPECT_EQ(service->prefetchedPreviews(), std::vector<std::string>{"new"});
        EXPECT_EQ(notifier->announced, c.announced);
        EXPECT_EQ(service->launchedPreviews(), c.opened);
        ASSERT_EQ(watcher.readyBuilds().size(), c.readyBuilds);
        if (c.readyBuilds > 0) {
            state->launch().open("new");
            EXPECT_TRUE(watcher.readyBuilds().empty()) << "an opened build is no longer news";
        } else if (!c.announced.empty()) {
            emit notifier->openRequested("new");
            EXPECT_TRUE(waitFor([&] { return !service->launchedPreviews().empty(); }));
        }
    }

    // Seen builds stay seen across a restart, to the millisecond.
    makeState();
    start();
    QCoreApplication::processEvents();
    EXPECT_EQ(service->prefetchedPreviews(), std::vector<std::string>{"new"});
}

// The quiet time counts from the last look that found the pull request in the list, or from
// the watch's start, never from a build's age.
TEST_F(PullRequestWatcherTest, AWatchEndsAfterSevenDaysWithoutItsPullRequestInTheList) {
    const auto now = Clock::now();
    struct Case {
        const char* name;
        std::chrono::hours lastSeen;
        std::optional<std::chrono::hours> listedBuildAge;
        bool kept;
    };
    const Case cases[] = {
        {"quiet for eight days", 8 * 24h, std::nullopt, false},
        {"quiet for six days", 6 * 24h, std::nullopt, true},
        {"listed, its build nine days old", 8 * 24h, 9 * 24h, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PullRequestWatch watch{.repository = "acme/app", .pullRequest = 7};
        watch.lastActivity = toMilliseconds(now - c.lastSeen);
        watch.lastSeenBuild = toMilliseconds(now);
        std::ofstream(settingsFile)
            << R"({"watches": [)" << QJsonDocument(watch.toJson()).toJson().toStdString() << "]}";
        service->previews.clear();
        if (c.listedBuildAge) {
            service->previews.push_back(build("b", now - *c.listedBuildAge, "failed"));
        }
        makeState();
        EXPECT_EQ(start().watches().size(), c.kept ? 1u : 0u);
        EXPECT_EQ(state->watcher().isPolling(), c.kept);
    }
}

// Real reloads that fail, one after the other, then one that works.
TEST_F(PullRequestWatcherTest, PollingBacksOffToTenMinutesAfterFailuresAndRecovers) {
    service->listFailure = std::make_exception_ptr(QuayletError::previewUnavailable("Down."));
    makeState().watcher().setWatched("acme/app", 7, true);
    auto* timer = start().findChild<QTimer*>();
    int reload = 0;
    for (const auto delay : {120s, 240s, 480s, 600s, 600s, 60s}) {
        ASSERT_TRUE(waitFor([&] { return timer->isActive(); }));
        EXPECT_EQ(timer->intervalAsDuration(), delay) << reload;
        if (++reload == 5) {
            service->listFailure = nullptr;
        }
        QTimerEvent due(timer->timerId());
        QCoreApplication::sendEvent(timer, &due);
    }
}

// The desktop's notification service on the test's own bus, answering on a thread of its own
// as another process would, since the notifier waits for the answer.
class NotificationService : public QDBusVirtualObject {
  public:
    NotificationService() {
        moveToThread(&thread_);
        thread_.start();
        bus_.registerVirtualObject(kPath, this);
        bus_.registerService("org.freedesktop.Notifications");
    }
    ~NotificationService() override {
        QDBusConnection::disconnectFromBus(bus_.name());
        thread_.quit();
        thread_.wait();
    }
    std::vector<QDBusMessage> calls() const {
        const std::lock_guard lock(mutex_);
        return calls_;
    }
    void invoke(uint id) {
        bus_.send(
            QDBusMessage::createSignal(kPath, "org.freedesktop.Notifications", "ActionInvoked")
            << id << "default");
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const std::lock_guard lock(mutex_);
        calls_.push_back(message);
        return connection.send(message.member() == "Notify" ? message.createReply(42u)
                                                            : message.createReply());
    }

  private:
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    QThread thread_;
    QDBusConnection bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "service");
    mutable std::mutex mutex_;
    std::vector<QDBusMessage> calls_;
};

TEST(BuildNotifierTest, AnnouncesOnTheNotificationServiceAndOpensOnceOnItsAction) {
    const PrivateSessionBus bus;
    PreviewSummary ready = build("b-1", Clock::now());
    ready.pullRequestTitle = "Fix %1 in logs\u2028\u202Eforged";
    EXPECT_FALSE(BuildNotifier::forThisHost()->announce(ready)) << "no service to show it";

    NotificationService service;
    const auto notifier = BuildNotifier::forThisHost();
    QStringList opened;
    QObject::connect(notifier.get(), &BuildNotifier::openRequested,
                     [&](const QString& previewID) { opened.append(previewID); });
    ASSERT_TRUE(notifier->announce(ready));
    EXPECT_EQ(service.calls().at(0).arguments().mid(2, 4),
              QVariantList({"dev.quaylet.Quaylet",
                            "Build ready · Fix %1 in logs\uFFFD\uFFFDforged · acme/app #7", "",
                            QStringList({"default", "Open"})}));
    service.invoke(41);  // another program's
    service.invoke(42);
    ASSERT_TRUE(waitFor([&] { return service.calls().size() == 2; }));
    EXPECT_EQ(service.calls().at(1).member(), "CloseNotification");
    EXPECT_EQ(service.calls().at(1).arguments(), QVariantList{42u});
    EXPECT_EQ(opened, QStringList{"b-1"});
}

}  // namespace
}  // namespace quaylet::testing
