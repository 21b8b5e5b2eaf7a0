#include "feature/PullRequestWatcher.h"

#include <QPointer>

#include <algorithm>

#include "core/errors/CancellationError.h"
#include "core/errors/UserMessage.h"
#include "feature/RecordVariants.h"

namespace quaylet {
namespace {

// How finely a watch's last sighting of its pull request is kept, so that a look every minute
// does not rewrite the settings file every minute.
constexpr std::chrono::hours kSightingResolution{1};

QStringList references(const std::vector<PullRequestWatch>& watches, bool onlyOpening) {
    QStringList list;
    for (const auto& watch : watches) {
        if (!onlyOpening || watch.openAutomatically) {
            list.append(QString::fromStdString(watch.reference()));
        }
    }
    return list;
}

}  // namespace

PullRequestWatcher::PullRequestWatcher(const Account& account, BuildsList& builds, Launch& launch,
                                       const DownloadCache& cache,
                                       std::shared_ptr<PreviewService> service,
                                       std::optional<Settings> settings)
    : PullRequestWatcher(account, builds, launch, cache, std::move(service), std::move(settings),
                         Options()) {}

PullRequestWatcher::PullRequestWatcher(const Account& account, BuildsList& builds, Launch& launch,
                                       const DownloadCache& cache,
                                       std::shared_ptr<PreviewService> service,
                                       std::optional<Settings> settings, Options options)
    : account_(account),
      builds_(builds),
      launch_(launch),
      cache_(cache),
      service_(std::move(service)),
      settings_(std::move(settings)),
      options_(std::move(options)),
      timer_(this) {
    if (settings_) {
        for (const QJsonValue& stored : settings_->watches()) {
            if (auto watch = PullRequestWatch::fromJson(stored.toObject())) {
                watches_.push_back(std::move(*watch));
            }
        }
    }
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PullRequestWatcher::poll);
    connect(&account_, &Account::isSignedInChanged, this, &PullRequestWatcher::updatePolling);
    connect(&launch_, &Launch::isLaunchInProgressChanged, this,
            &PullRequestWatcher::launchStartedOrEnded);
    connect(&launch_, &Launch::receivedPreviewIDChanged, this, [this] {
        if (launch_.receivedPreviewID()) {
            forgetOpenedBuild(*launch_.receivedPreviewID());
        }
    });
}

PullRequestWatcher::~PullRequestWatcher() {
    stopPrefetches();
}

void PullRequestWatcher::start(std::shared_ptr<BuildNotifier> notifier) {
    notifier_ = std::move(notifier);
    if (notifier_) {
        connect(notifier_.get(), &BuildNotifier::openRequested, this,
                [this](const QString& previewID) {
                    launch_.open(previewID, QStringLiteral("notification"));
                });
    }
    started_ = true;
    updatePolling();
}

void PullRequestWatcher::watch(PullRequestWatch watch) {
    watch.lastActivity = toMilliseconds(options_.now());
    if (PullRequestWatch* existing = find(watch.repository, watch.pullRequest)) {
        *existing = std::move(watch);
    } else {
        watches_.push_back(std::move(watch));
    }
    save();
    emit watchesChanged();
    updatePolling();
}

void PullRequestWatcher::setWatched(const QString& repository, qint64 pullRequest, bool watched) {
    const auto reference =
        parsePullRequestReference(repository.toStdString() + "#" + std::to_string(pullRequest));
    if (!reference || (find(reference->repository, pullRequest) != nullptr) == watched) {
        return;
    }
    if (!watched) {
        std::erase_if(watches_, [&](const PullRequestWatch& watch) {
            return watch.repository == reference->repository && watch.pullRequest == pullRequest;
        });
        std::erase_if(pending_,
                      [&](const PreviewSummary& build) { return reference->isFor(build); });
        save();
        emit watchesChanged();
        updatePolling();
        return;
    }
    PullRequestWatch started = *reference;
    // What the list already shows is known to the user; only later builds are news.
    for (const PreviewSummary& build : builds_.builds()) {
        if (started.isFor(build) && build.isReady() && started.isNewer(build)) {
            started.lastSeenBuild = toMilliseconds(build.createdAt);
        }
    }
    watch(std::move(started));
}

void PullRequestWatcher::setOpenAutomatically(const QString& repository, qint64 pullRequest,
                                              bool openAutomatically) {
    PullRequestWatch* watch = find(repository.toStdString(), pullRequest);
    if (watch == nullptr || watch->openAutomatically == openAutomatically) {
        return;
    }
    watch->openAutomatically = openAutomatically;
    save();
    emit watchesChanged();
}

bool PullRequestWatcher::shouldPoll() const {
    return started_ && !watches_.empty() && account_.isSignedIn();
}

void PullRequestWatcher::updatePolling() {
    if (!shouldPoll()) {
        timer_.stop();
        failures_ = 0;
        pending_.clear();
        stopPrefetches();
        return;
    }
    if (!isPolling()) {
        poll();
    }
}

void PullRequestWatcher::poll() {
    if (!shouldPoll()) {
        return;
    }
    isListing_ = true;
    // The builds list's own reload: the list the user sees stays current, and a refused token signs
    // the user out there, which ends the polling through isSignedInChanged. The list's futures
    // end on the main thread (BackgroundWork::run).
    builds_.refreshBuilds().then([self = QPointer<PullRequestWatcher>(this)] {
        if (self) {
            self->listed();
        }
    });
}

void PullRequestWatcher::listed() {
    isListing_ = false;
    if (!shouldPoll()) {
        return;
    }
    if (builds_.buildsError()) {
        ++failures_;
    } else {
        failures_ = 0;
        review(builds_.builds());
        if (!shouldPoll()) {
            updatePolling();  // every watch has ended
            return;
        }
    }
    timer_.start(delayAfter(failures_, options_));
}

std::chrono::milliseconds PullRequestWatcher::delayAfter(int failures, const Options& options) {
    auto wait = options.interval;
    for (int failure = 0; failure < failures && wait < options.longestInterval; ++failure) {
        wait *= 2;
    }
    return std::min(wait, options.longestInterval);
}

void PullRequestWatcher::review(const std::vector<PreviewSummary>& builds) {
    const auto now = toMilliseconds(options_.now());
    bool changed = false;
    for (PullRequestWatch& watch : watches_) {
        const PreviewSummary* newest = nullptr;
        bool listed = false;
        for (const PreviewSummary& build : builds) {
            if (!watch.isFor(build)) {
                continue;
            }
            listed = true;
            if (build.isReady() && watch.isNewer(build) &&
                (newest == nullptr || build.createdAt > newest->createdAt)) {
                newest = &build;
            }
        }
        if (listed && now - watch.lastActivity >= kSightingResolution) {
            watch.lastActivity = now;
            changed = true;
        }
        const auto queued = [&](const PreviewSummary& build) {
            return build.previewID == newest->previewID;
        };
        if (newest != nullptr && std::none_of(pending_.begin(), pending_.end(), queued) &&
            !(prefetch_ && queued(prefetch_->build))) {
            pending_.push_back(*newest);
        }
    }
    const auto quiet = [&](const PullRequestWatch& watch) {
        return now - watch.lastActivity > kQuietLimit;
    };
    if (std::any_of(watches_.begin(), watches_.end(), quiet)) {
        std::erase_if(watches_, quiet);
        changed = true;
    }
    if (changed) {
        save();
        emit watchesChanged();
    }
    startNextPrefetch();
}

void PullRequestWatcher::startNextPrefetch() {
    if (prefetch_ || pending_.empty() || launch_.isLaunchInProgress()) {
        return;
    }
    const std::optional<std::string> token = account_.token();
    if (!token) {
        return;
    }
    prefetch_.emplace(Prefetch{pending_.front(), {}});
    pending_.pop_front();
    work_.run(
        this,
        [this, service = service_, token = *token, limit = cache_.cacheLimitBytes(),
         build = prefetch_->build, stop = prefetch_->stop.get_token()]() -> BackgroundWork::Step {
            service->prefetch(build.previewID, token, limit, stop);
            return [this, build, stop] {
                if (!stop.stop_requested()) {
                    finishPrefetch(build, nullptr);
                }
            };
        },
        [this, build = prefetch_->build,
         stop = prefetch_->stop.get_token()](const std::exception_ptr& error) {
            if (!stop.stop_requested()) {
                finishPrefetch(build, error);
            }
        },
        BackgroundWork::Reach::network);
}

void PullRequestWatcher::finishPrefetch(const PreviewSummary& build, std::exception_ptr error) {
    prefetch_.reset();
    PullRequestWatch* watch = find(build.repository, build.pullRequest);
    if (watch != nullptr && !isCancellation(error)) {
        // A build that fails its prefetch is not tried again every minute; the list still
        // offers it, and opening it shows why it fails.
        watch->lastSeenBuild = std::max(watch->lastSeenBuild.value_or(std::chrono::milliseconds(0)),
                                        toMilliseconds(build.createdAt));
        save();
        if (!error) {
            emit prefetched(build);
            if (watch->openAutomatically && !launch_.isLaunchInProgress()) {
                launch_.open(QString::fromStdString(build.previewID), QStringLiteral("watch"));
            } else if (!notifier_ || !notifier_->announce(build)) {
                readyBuilds_.push_back(build);
                emit readyBuildsChanged();
            }
        } else {
            const std::string message = userMessage(error).value_or("");
            unfetchedBuilds_[build.previewID] = message;
            emit unfetchedBuildsChanged();
            emit prefetchFailed(build, message);
        }
    }
    startNextPrefetch();
}

void PullRequestWatcher::launchStartedOrEnded() {
    if (!launch_.isLaunchInProgress()) {
        startNextPrefetch();
        return;
    }
    // A launch of the build being prefetched waits for it in the core; any other prefetch
    // gives way and runs again after the launch.
    if (prefetch_ && launch_.receivedPreviewID() != prefetch_->build.previewID) {
        pending_.push_front(prefetch_->build);
        prefetch_->stop.request_stop();
        prefetch_.reset();
    }
}

void PullRequestWatcher::stopPrefetches() {
    if (prefetch_) {
        prefetch_->stop.request_stop();
        prefetch_.reset();
    }
}

void PullRequestWatcher::forgetOpenedBuild(const std::string& previewID) {
    if (std::erase_if(readyBuilds_, [&](const PreviewSummary& build) {
            return build.previewID == previewID;
        }) > 0) {
        emit readyBuildsChanged();
    }
    if (unfetchedBuilds_.erase(previewID) > 0) {
        emit unfetchedBuildsChanged();
    }
}

PullRequestWatch* PullRequestWatcher::find(const std::string& repository,
                                           std::int64_t pullRequest) {
    const auto found = std::find_if(watches_.begin(), watches_.end(), [&](const auto& watch) {
        return watch.repository == repository && watch.pullRequest == pullRequest;
    });
    return found == watches_.end() ? nullptr : &*found;
}

void PullRequestWatcher::save() {
    if (!settings_) {
        return;
    }
    QJsonArray stored;
    for (const PullRequestWatch& watch : watches_) {
        stored.append(watch.toJson());
    }
    // A settings file that cannot be written leaves the watches working for this session.
    try {
        settings_->setWatches(stored);
    } catch (const std::filesystem::filesystem_error&) {
    }
}

QString PullRequestWatcher::reference(const QString& repository, qint64 pullRequest) {
    return QString::fromStdString(
        PullRequestWatch{.repository = repository.toStdString(), .pullRequest = pullRequest}
            .reference());
}

QStringList PullRequestWatcher::watchedValue() const {
    return references(watches_, false);
}

QStringList PullRequestWatcher::openingAutomaticallyValue() const {
    return references(watches_, true);
}

QVariantMap PullRequestWatcher::unfetchedBuildsValue() const {
    QVariantMap builds;
    for (const auto& [previewID, message] : unfetchedBuilds_) {
        builds.insert(QString::fromStdString(previewID), QString::fromStdString(message));
    }
    return builds;
}

QVariantList PullRequestWatcher::readyBuildsValue() const {
    QVariantList builds;
    for (const PreviewSummary& build : readyBuilds_) {
        builds.append(toVariantMap(build));
    }
    return builds;
}

}  // namespace quaylet
