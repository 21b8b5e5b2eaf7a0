#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "feature/Account.h"
#include "feature/BackgroundWork.h"
#include "feature/BuildNotifier.h"
#include "feature/BuildsList.h"
#include "feature/DownloadCache.h"
#include "feature/Launch.h"
#include "feature/PreviewService.h"
#include "feature/PullRequestWatch.h"
#include "feature/Settings.h"

namespace quaylet {

// Watches pull requests for new builds: while one is watched and the user is signed in, it
// reloads the builds list on a timer, fetches each new ready build of a watched pull
// request ahead into the cache, and announces it (or opens it, when the watch says so).
// Without a watch or a sign-in there is no timer at all. Prefetches run one at a time and
// never while a launch runs; a launch of the build being prefetched waits for it in the core.
// Lives on the main thread beside the account, the builds list and the launch, whose signals
// it follows; it reloads the list and opens builds in the launch.
class PullRequestWatcher : public QObject {
    Q_OBJECT
    // Every watch as "owner/name#42".
    Q_PROPERTY(QStringList watched READ watchedValue NOTIFY watchesChanged)
    // The watches among them that open new builds at once.
    Q_PROPERTY(
        QStringList openingAutomatically READ openingAutomaticallyValue NOTIFY watchesChanged)
    // Prefetched builds that no notification announced, newest last, as the builds list's
    // records; a build leaves when it is opened.
    Q_PROPERTY(QVariantList readyBuilds READ readyBuildsValue NOTIFY readyBuildsChanged)
    // New builds a watch could not fetch ahead, by preview identifier: the sentence saying why.
    // A build leaves when it is opened.
    Q_PROPERTY(QVariantMap unfetchedBuilds READ unfetchedBuildsValue NOTIFY unfetchedBuildsChanged)

  public:
    struct Options {
        std::chrono::milliseconds interval = std::chrono::seconds(60);
        std::chrono::milliseconds longestInterval = std::chrono::minutes(10);
        std::function<Timestamp()> now = [] { return std::chrono::system_clock::now(); };
    };

    // A watch ends after this long without its pull request in the builds list.
    static constexpr std::chrono::hours kQuietLimit{7 * 24};

    // With settings, the watches are read from and kept in the settings file; without, they
    // live as long as this object (as for a watch on the command line). Nothing runs before
    // start().
    PullRequestWatcher(const Account& account, BuildsList& builds, Launch& launch,
                       const DownloadCache& cache, std::shared_ptr<PreviewService> service,
                       std::optional<Settings> settings, Options options);
    PullRequestWatcher(const Account& account, BuildsList& builds, Launch& launch,
                       const DownloadCache& cache, std::shared_ptr<PreviewService> service,
                       std::optional<Settings> settings);
    ~PullRequestWatcher() override;

    // Begins watching: from now on the watches poll, prefetch and announce. Without a notifier
    // nothing is announced and every prefetched build is kept in readyBuilds.
    void start(std::shared_ptr<BuildNotifier> notifier);

    const std::vector<PullRequestWatch>& watches() const { return watches_; }
    const std::vector<PreviewSummary>& readyBuilds() const { return readyBuilds_; }
    // Whether a reload of the list is scheduled or running.
    bool isPolling() const { return timer_.isActive() || isListing_; }
    // The wait before the next reload after this many failed ones in a row: the interval,
    // doubled for each failure up to the longest interval.
    static std::chrono::milliseconds delayAfter(int failures, const Options& options);

    // Starts or replaces a watch as given, its quiet time counted from now.
    void watch(PullRequestWatch watch);
    // Starts a watch that counts only builds newer than those in the builds list, or ends
    // one. A repository that is not a plain "owner/name" is never watched.
    Q_INVOKABLE void setWatched(const QString& repository, qint64 pullRequest, bool watched);
    Q_INVOKABLE void setOpenAutomatically(const QString& repository, qint64 pullRequest,
                                          bool openAutomatically);
    // The pull request's watch as watched names it.
    Q_INVOKABLE static QString reference(const QString& repository, qint64 pullRequest);

  signals:
    void watchesChanged();
    void readyBuildsChanged();
    void unfetchedBuildsChanged();
    // A new build is verified in the cache; sent before it is announced or opened.
    void prefetched(const PreviewSummary& build);
    // A new build could not be fetched ahead; message is the sentence a user reads. The build
    // is not tried again by the watch.
    void prefetchFailed(const PreviewSummary& build, const std::string& message);

  private:
    struct Prefetch {
        PreviewSummary build;
        std::stop_source stop;
    };

    QStringList watchedValue() const;
    QStringList openingAutomaticallyValue() const;
    QVariantList readyBuildsValue() const;
    QVariantMap unfetchedBuildsValue() const;

    bool shouldPoll() const;
    void updatePolling();
    void poll();
    void listed();
    void review(const std::vector<PreviewSummary>& builds);
    void startNextPrefetch();
    void finishPrefetch(const PreviewSummary& build, std::exception_ptr error);
    void launchStartedOrEnded();
    void stopPrefetches();
    void forgetOpenedBuild(const std::string& previewID);
    PullRequestWatch* find(const std::string& repository, std::int64_t pullRequest);
    void save();

    const Account& account_;
    BuildsList& builds_;
    Launch& launch_;
    const DownloadCache& cache_;
    std::shared_ptr<PreviewService> service_;
    std::optional<Settings> settings_;
    std::shared_ptr<BuildNotifier> notifier_;
    Options options_;

    std::vector<PullRequestWatch> watches_;
    bool started_ = false;
    QTimer timer_;
    bool isListing_ = false;
    int failures_ = 0;  // list reloads that failed in a row
    std::deque<PreviewSummary> pending_;
    std::optional<Prefetch> prefetch_;
    std::vector<PreviewSummary> readyBuilds_;
    std::map<std::string, std::string> unfetchedBuilds_;
    // Prefetches run one at a time; destroying the watcher stops its prefetch and waits for it.
    BackgroundWork work_{service_, 1};
};

}  // namespace quaylet
