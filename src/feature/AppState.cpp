#include "feature/AppState.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QPromise>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <utility>
#include <variant>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/support/InternetDateTime.h"
#include "core/support/Redaction.h"
#include "feature/CorePreviewService.h"
#include "feature/CoreSimulatorService.h"
#include "feature/CoreTokenStore.h"
#include "feature/DiagnosticsBundle.h"
#include "feature/IncomingLink.h"
#include "feature/RecordVariants.h"

namespace quaylet {
namespace {

const std::string kPullRequestBuild = "Pull request build";
const std::string kSignInPrompt = "Sign in once to open this private build";
const std::string kFinishingSignIn = "Finishing GitHub sign-in";
const std::string kSignedIn = "Signed in with GitHub";
const std::string kSignInFailed = "GitHub sign-in failed";
const std::string kSignInLinkExpired =
    "This sign-in link has expired. Choose Sign in with GitHub, then try again.";
const std::string kSignedOut = "Signed out";
const std::string kSignOutFailed = "GitHub sign-out failed";
const std::string kCacheCleared = "Downloaded builds cleared";
const std::string kBuildCanceled = "Build canceled";
const std::string kTestingLocalBuild = "Testing a local iOS build";
const std::string kRunningIn = "Running in ";
const std::string kOpeningIn = "Opening in ";

QFuture<void> finishedFuture() {
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

QVariant optionalText(const std::optional<std::string>& value) {
    return value ? QVariant(QString::fromStdString(*value)) : QVariant();
}

bool isAuthenticationRequired(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const QuayletError& quayletError) {
        return quayletError.as<QuayletError::AuthenticationRequired>() != nullptr;
    } catch (...) {
        return false;
    }
}

std::optional<std::string> udidOrAutomatic(std::string udid) {
    return udid.empty() ? std::nullopt : std::optional(std::move(udid));
}

// "Demo" for …/Demo.app, also when the URL ends in a slash.
std::string nameWithoutExtension(std::filesystem::path app) {
    if (!app.has_filename()) {
        app = app.parent_path();
    }
    return app.stem().string();
}

}  // namespace

AppState::Collaborators AppState::Collaborators::forThisHost(const QUrl& apiBaseURL,
                                                             std::stop_token stop) {
    return {
        std::make_shared<CorePreviewService>(
            RemotePreviewLauncher(apiBaseURL.toString().toStdString()), stop),
        std::make_shared<CoreSimulatorService>(CoreSimulatorService::forThisHost(stop)),
        std::make_shared<CoreTokenStore>(),
        Settings(Settings::defaultFile()),
        PendingSignIn(PendingSignIn::defaultFile()),
        LaunchHistory(LaunchHistory::defaultFile()),
    };
}

AppState::AppState(const QUrl& apiBaseURL, QObject* parent)
    : AppState(apiBaseURL, Collaborators::forThisHost(apiBaseURL), parent) {}

AppState::AppState(QUrl apiBaseURL, Collaborators collaborators, QObject* parent)
    : QObject(parent),
      apiBaseURL_(std::move(apiBaseURL)),
      previewService_(std::move(collaborators.previewService)),
      simulatorService_(std::move(collaborators.simulatorService)),
      tokenStore_(std::move(collaborators.tokenStore)),
      settings_(std::move(collaborators.settings)),
      pendingSignIn_(std::move(collaborators.pendingSignIn)),
      launchHistory_(std::move(collaborators.launchHistory)),
      watcher_(*this, previewService_, tokenStore_, settings_) {}

bool AppState::isSignedIn() const {
    if (!isSignedIn_) {
        isSignedIn_ = tokenStore_->readToken().has_value();
    }
    return *isSignedIn_;
}

bool AppState::isLaunchInProgress() const {
    return stage_ != LaunchStage::idle && stage_ != LaunchStage::running;
}

QUrl AppState::signInURL() const {
    return apiBaseURL_.resolved(QUrl(QStringLiteral("/api/v1/auth/github?client=mac")));
}

QUrl AppState::beginSignIn() {
    try {
        pendingSignIn_.record();
    } catch (...) {
        assign(errorMessage_, userMessage(std::current_exception()),
               &AppState::errorMessageChanged);
        return {};
    }
    return signInURL();
}

QFuture<void> AppState::receive(const QUrl& url) {
    return receive(url, LaunchTargets());
}

QFuture<void> AppState::receive(const QUrl& url, const LaunchTargets& targets) {
    const IncomingLink link = parseIncomingLink(url);
    if (const auto* signIn = std::get_if<SignInReturnLink>(&link)) {
        // A code that arrives without a sign-in of ours pending came from someone else, or
        // too late: either way nothing is exchanged, and the way on is a fresh sign-in.
        if (!pendingSignIn_.consume()) {
            assign(errorMessage_, std::optional(kSignInLinkExpired),
                   &AppState::errorMessageChanged);
            return finishedFuture();
        }
        assign(activeDetail_, std::optional(kFinishingSignIn), &AppState::activeDetailChanged);
        return completeAuthentication(signIn->code);
    }
    if (const auto* preview = std::get_if<PreviewLink>(&link)) {
        assign(receivedFrom_, QStringLiteral("link"), &AppState::receivedFromChanged);
        assign(receivedPreviewID_, std::optional(preview->previewID),
               &AppState::receivedPreviewIDChanged);
        assign(activeAppName_, std::optional(kPullRequestBuild), &AppState::activeAppNameChanged);
        if (!isSignedIn()) {
            assign(activeDetail_, std::optional(kSignInPrompt), &AppState::activeDetailChanged);
            return finishedFuture();
        }
        return beginRemotePreview(preview->previewID, targets);
    }
    assign(errorMessage_, std::optional(QuayletError::invalidDeepLink().errorDescription()),
           &AppState::errorMessageChanged);
    return finishedFuture();
}

QFuture<void> AppState::open(const QString& previewID, const QString& from) {
    const std::string id = previewID.toStdString();
    assign(receivedFrom_, from, &AppState::receivedFromChanged);
    assign(receivedPreviewID_, std::optional(id), &AppState::receivedPreviewIDChanged);
    std::string name = kPullRequestBuild;
    for (const auto& build : builds_) {
        if (build.previewId == id) {
            name = build.displayName;
            break;
        }
    }
    assign(activeAppName_, std::optional(name), &AppState::activeAppNameChanged);
    if (!isSignedIn()) {
        assign(activeDetail_, std::optional(kSignInPrompt), &AppState::activeDetailChanged);
        return finishedFuture();
    }
    return beginRemotePreview(id, LaunchTargets());
}

QFuture<void> AppState::runReceivedPreview() {
    if (!receivedPreviewID_) {
        return finishedFuture();
    }
    return beginRemotePreview(*receivedPreviewID_, LaunchTargets());
}

void AppState::cancelLaunch() {
    if (launchSource_ != LaunchSource::remote || !isLaunchInProgress()) {
        return;
    }
    stopLaunchTask();
    assign(activeDetail_, std::optional(kBuildCanceled), &AppState::activeDetailChanged);
}

void AppState::stopLaunchTask() {
    if (!launchTask_) {
        return;
    }
    launchTask_->request_stop();
    launchTask_.reset();
    // A stopped task writes nothing more, so the stage it reached is taken back here.
    if (launchSource_ == LaunchSource::remote && isLaunchInProgress()) {
        setStage(LaunchStage::idle);
    }
}

QFuture<void> AppState::beginRemotePreview(const std::string& previewID,
                                           const LaunchTargets& targets) {
    const std::optional<std::string> token = tokenStore_->readToken();
    if (!token) {
        stopLaunchTask();
        assign(isSignedIn_, std::optional(false), &AppState::isSignedInChanged);
        assign(activeDetail_, std::optional(kSignInPrompt), &AppState::activeDetailChanged);
        return finishedFuture();
    }
    // The earlier launch is silenced; the new one takes over the stage at once below.
    if (launchTask_) {
        launchTask_->request_stop();
    }
    launchTask_.emplace(work_.task());
    const std::stop_token task = launchTask_->get_token();

    assign(report_, std::optional<SelfTestReport>(), &AppState::reportChanged);
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    assign(bootDetail_, std::optional<std::string>(), &AppState::bootDetailChanged);
    deviceOutcomes_.clear();
    assign(activePreview_, std::optional<PreviewManifest>(), &AppState::activePreviewChanged);
    assign(launchSource_, LaunchSource::remote, &AppState::launchSourceChanged);
    assign(activeAppName_, std::optional(kPullRequestBuild), &AppState::activeAppNameChanged);
    setStage(LaunchStage::fetching);

    const std::shared_ptr<LaunchTimeline> timeline = startTimeline();
    const QPointer<AppState> self(this);
    BackgroundWork* const work = &work_;
    // Called for every piece of the download on the launching thread; only some of them are
    // worth a trip to the main thread, and none of them waits for it.
    auto pacer = std::make_shared<DownloadPacer>();
    const RemoteLaunchRequest request{
        .previewID = previewID,
        .token = *token,
        .preferredSimulatorUDID = udidOrAutomatic(settings_.preferredSimulatorUDID()),
        .activateSimulator = settings_.activateSimulator(),
        .targets = targets,
        .downloadProgress =
            [self, work, task, pacer](std::int64_t received, std::int64_t expected) {
                const auto now = ProgressClock::now();
                if (!pacer->shouldReport(received, expected, now)) {
                    return;
                }
                work->post([self, task, received, expected, now] {
                    if (self && !task.stop_requested()) {
                        self->showDownloadProgress(received, expected, now);
                    }
                });
            },
        .cacheLimitBytes = settings_.cacheLimitBytes(),
        .repairs = repairSettings(task),
        .bootEarly = settings_.startSimulatorWhileDownloading() && !targets.noEarlyBoot,
        .earlyBootProgress =
            [self, work, task](const std::string& line) {
                work->apply(
                    [self, task, line] {
                        if (self && !task.stop_requested()) {
                            self->assign(self->bootDetail_, std::optional(line),
                                         &AppState::bootDetailChanged);
                        }
                    },
                    task);
            },
        .timeline = timeline.get()};

    PreviewService::ManifestCallback onManifest = [self, work,
                                                   task](const PreviewManifest& manifest) {
        work->apply(
            [self, task, manifest] {
                if (self && !task.stop_requested()) {
                    self->showManifest(manifest);
                }
            },
            task);
    };
    launchFinished_ = inBackground(
        [this, service = previewService_, request, onManifest, timeline, token,
         onProgress = stageReporter(task, LaunchSource::remote), task]() -> MainThreadStep {
            std::vector<DeviceOutcome> outcomes =
                service->launch(request, onManifest, onProgress, task);
            return [this, task, timeline, token, outcomes = std::move(outcomes)] {
                if (!task.stop_requested()) {
                    showOutcomes(outcomes);
                }
                finishTimeline(timeline, token, task.stop_requested());
            };
        },
        [this, task, timeline, token](const std::exception_ptr& error) {
            if (!task.stop_requested()) {  // whoever stopped it has said what happened
                showLaunchFailure(error);
            }
            finishTimeline(timeline, token, task.stop_requested() || isCancellation(error));
        },
        BackgroundWork::Reach::network);
    return launchFinished_;
}

QFuture<void> AppState::runLocalApplication(const QUrl& appURL,
                                            const QString& preferredSimulatorUDID,
                                            bool activateSimulator) {
    return runLocalApplication(appURL, preferredSimulatorUDID, activateSimulator, LaunchTargets());
}

QFuture<void> AppState::runLocalApplication(const QUrl& appURL,
                                            const QString& preferredSimulatorUDID,
                                            bool activateSimulator, const LaunchTargets& targets) {
    const std::filesystem::path app = appURL.toLocalFile().toStdString();
    assign(report_, std::optional<SelfTestReport>(), &AppState::reportChanged);
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    deviceOutcomes_.clear();
    assign(receivedPreviewID_, std::optional<std::string>(), &AppState::receivedPreviewIDChanged);
    assign(activePreview_, std::optional<PreviewManifest>(), &AppState::activePreviewChanged);
    assign(launchSource_, LaunchSource::local, &AppState::launchSourceChanged);
    assign(activeAppName_, std::optional(nameWithoutExtension(app)),
           &AppState::activeAppNameChanged);
    assign(activeDetail_, std::optional(kTestingLocalBuild), &AppState::activeDetailChanged);
    setStage(LaunchStage::inspecting);
    setStage(LaunchStage::selecting);

    const std::shared_ptr<LaunchTimeline> timeline = startTimeline();
    // Nobody cancels a local launch; quitting stops it.
    const std::stop_token quit = work_.task().get_token();
    return inBackground(
        [this, service = simulatorService_, app,
         udid = udidOrAutomatic(preferredSimulatorUDID.toStdString()), activateSimulator, targets,
         timeline, repairs = repairSettings(quit),
         onProgress = stageReporter(quit, LaunchSource::local), quit]() -> MainThreadStep {
            std::vector<DeviceOutcome> outcomes = service->runLocalApplication(
                app, udid, activateSimulator, targets, timeline.get(), repairs, onProgress, quit);
            return [this, timeline, outcomes = std::move(outcomes)] {
                showOutcomes(outcomes);
                finishTimeline(timeline, std::nullopt, false);
            };
        },
        [this, timeline](const std::exception_ptr& error) {
            showLaunchFailure(error);
            finishTimeline(timeline, std::nullopt, isCancellation(error));
        });
}

QFuture<void> AppState::runOnSimulator(const QString& udid) {
    if (!report_ || isLaunchInProgress()) {
        return finishedFuture();
    }
    const std::filesystem::path app = report_->app.appURL;
    const std::string device = udid.toStdString();
    // A pull-request build stays one: cancellable, and stopped by whatever stops its launches.
    // Quitting stops either.
    const std::stop_source run = work_.task();
    if (launchSource_ == LaunchSource::remote) {
        stopLaunchTask();
        launchTask_ = run;
    }
    const std::stop_token task = run.get_token();
    std::string deviceName = device;
    if (environment_ && environment_->inventory) {
        const auto& devices = environment_->inventory->devices;
        if (const auto found = std::ranges::find(devices, device, &SimulatorDevice::udid);
            found != devices.end()) {
            deviceName = found->name;
        }
    }
    assign(report_, std::optional<SelfTestReport>(), &AppState::reportChanged);
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    deviceOutcomes_.clear();
    assign(activeDetail_, std::optional(kOpeningIn + deviceName), &AppState::activeDetailChanged);
    setStage(LaunchStage::selecting);

    const LaunchTargets targets{.simulatorUDIDs = {device}};
    const std::shared_ptr<LaunchTimeline> timeline = startTimeline();
    // A pull-request build run again is a launch of that build: the service hears of it and
    // the cache counts it as used, as after the launch that unpacked it.
    std::optional<RemoteLaunchRequest> relaunch;
    const std::optional<std::string> token =
        launchSource_ == LaunchSource::remote ? tokenStore_->readToken() : std::nullopt;
    if (token && receivedPreviewID_ && activePreview_) {
        relaunch = RemoteLaunchRequest{.previewID = *receivedPreviewID_,
                                       .token = *token,
                                       .activateSimulator = settings_.activateSimulator(),
                                       .targets = targets,
                                       .cacheLimitBytes = settings_.cacheLimitBytes(),
                                       .repairs = repairSettings(task),
                                       .timeline = timeline.get()};
    }
    return inBackground(
        [this, service = simulatorService_, previews = previewService_, app, targets, relaunch,
         manifest = activePreview_, activateSimulator = settings_.activateSimulator(), timeline,
         repairs = repairSettings(task), onProgress = stageReporter(task, launchSource_),
         task]() -> MainThreadStep {
            std::vector<DeviceOutcome> outcomes =
                relaunch
                    ? previews->relaunch(*relaunch, *manifest, app, onProgress, task)
                    : service->runLocalApplication(app, std::nullopt, activateSimulator, targets,
                                                   timeline.get(), repairs, onProgress, task);
            return [this, task, timeline, outcomes = std::move(outcomes)] {
                if (!task.stop_requested()) {
                    showOutcomes(outcomes);
                }
                finishTimeline(timeline, std::nullopt, task.stop_requested());
            };
        },
        [this, task, timeline](const std::exception_ptr& error) {
            if (!task.stop_requested()) {
                showLaunchFailure(error);
            }
            finishTimeline(timeline, std::nullopt, task.stop_requested() || isCancellation(error));
        },
        relaunch ? BackgroundWork::Reach::network : BackgroundWork::Reach::host);
}

QFuture<void> AppState::openURLInApp(const QString& url) {
    if (!report_) {
        return finishedFuture();
    }
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    return inBackground(
        [this, service = simulatorService_, udid = report_->simulator.udid,
         device = QString::fromStdString(report_->simulator.name),
         url = url.toStdString()]() -> MainThreadStep {
            service->openURL(udid, url);
            return [this, device] { emit linkOpened(device); };
        },
        [this](const std::exception_ptr& error) {
            assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
        });
}

void AppState::dismissError() {
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
}

QFuture<void> AppState::completeAuthentication(const std::string& code) {
    auto finished = std::make_shared<QPromise<void>>();
    finished->start();
    inBackground(
        [this, service = previewService_, code, finished]() -> MainThreadStep {
            std::string token = service->exchangeAuthenticationCode(code);
            return [this, token = std::move(token), finished] {
                if (!storeToken(token)) {
                    finished->finish();
                    return;
                }
                if (receivedPreviewID_) {
                    beginRemotePreview(*receivedPreviewID_, LaunchTargets());
                }
                refreshBuilds().then([finished] { finished->finish(); });
            };
        },
        [this, finished](const std::exception_ptr& error) {
            showSignInFailure(error);
            finished->finish();
        },
        BackgroundWork::Reach::network);
    return finished->future();
}

bool AppState::storeToken(const std::string& token) {
    try {
        tokenStore_->saveToken(token);
    } catch (...) {
        showSignInFailure(std::current_exception());
        return false;
    }
    assign(isSignedIn_, std::optional(true), &AppState::isSignedInChanged);
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    assign(activeDetail_, std::optional(kSignedIn), &AppState::activeDetailChanged);
    return true;
}

void AppState::showSignInFailure(const std::exception_ptr& error) {
    assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
    assign(activeDetail_, std::optional(kSignInFailed), &AppState::activeDetailChanged);
}

QFuture<void> AppState::signOut() {
    stopLaunchTask();
    const std::optional<std::string> token = tokenStore_->readToken();
    if (!token) {
        assign(isSignedIn_, std::optional(false), &AppState::isSignedInChanged);
        setStage(LaunchStage::idle);
        // A deliberate sign-out is not a link waiting for a sign-in.
        assign(receivedPreviewID_, std::optional<std::string>(),
               &AppState::receivedPreviewIDChanged);
        assign(activeDetail_, std::optional(kSignedOut), &AppState::activeDetailChanged);
        return finishedFuture();
    }
    return inBackground(
        [this, service = previewService_, token = *token]() -> MainThreadStep {
            service->revokeAuthentication(token);
            return [this] {
                tokenStore_->removeToken();
                assign(receivedPreviewID_, std::optional<std::string>(),
                       &AppState::receivedPreviewIDChanged);
                assign(isSignedIn_, std::optional(false), &AppState::isSignedInChanged);
                setStage(LaunchStage::idle);
                assign(report_, std::optional<SelfTestReport>(), &AppState::reportChanged);
                assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
                assign(activeDetail_, std::optional(kSignedOut), &AppState::activeDetailChanged);
            };
        },
        [this](const std::exception_ptr& error) {
            // The token stays, so the user can try again.
            assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
            assign(activeDetail_, std::optional(kSignOutFailed), &AppState::activeDetailChanged);
        },
        BackgroundWork::Reach::network);
}

QFuture<void> AppState::refreshBuilds() {
    const std::optional<std::string> token = tokenStore_->readToken();
    if (!token) {
        assign(builds_, std::vector<PreviewSummary>(), &AppState::buildsChanged);
        return finishedFuture();
    }
    assign(isLoadingBuilds_, true, &AppState::isLoadingBuildsChanged);
    return inBackground(
        [this, service = previewService_, token = *token]() -> MainThreadStep {
            std::vector<PreviewSummary> builds = service->availablePreviews(token);
            return [this, builds = std::move(builds)] {
                removeWithdrawnBuilds(builds);
                assign(builds_, builds, &AppState::buildsChanged);
                assign(buildsError_, std::optional<std::string>(), &AppState::buildsErrorChanged);
                assign(isLoadingBuilds_, false, &AppState::isLoadingBuildsChanged);
            };
        },
        [this](const std::exception_ptr& error) {
            assign(buildsError_, userMessage(error), &AppState::buildsErrorChanged);
            if (isAuthenticationRequired(error)) {
                signOutAfterRefusal();
            }
            assign(isLoadingBuilds_, false, &AppState::isLoadingBuildsChanged);
        },
        BackgroundWork::Reach::network);
}

void AppState::signOutAfterRefusal() {
    tokenStore_->removeToken();
    assign(isSignedIn_, std::optional(false), &AppState::isSignedInChanged);
}

QFuture<void> AppState::clearDownloadCache() {
    stopLaunchTask();
    return inBackground(
        [this, service = previewService_,
         stoppedLaunch = launchFinished_]() mutable -> MainThreadStep {
            // A stopped launch may go on writing into the cache until it notices the stop;
            // clearing after it has ended is what leaves the cache empty.
            stoppedLaunch.waitForFinished();
            service->clearCache();
            return [this] {
                assign(report_, std::optional<SelfTestReport>(), &AppState::reportChanged);
                setStage(LaunchStage::idle);
                assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
                assign(activeDetail_, std::optional(kCacheCleared), &AppState::activeDetailChanged);
                if (!isCacheCounted_ || !cachedBuilds_.empty()) {
                    isCacheCounted_ = true;
                    cachedBuilds_.clear();
                    emit cachedBuildsChanged();
                }
            };
        },
        [this](const std::exception_ptr& error) {
            assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
        });
}

void AppState::removeWithdrawnBuilds(const std::vector<PreviewSummary>& builds) {
    std::vector<std::string> withdrawn;
    for (const PreviewSummary& build : builds) {
        if (build.status == "expired" || build.status == "deleted" || build.status == "failed") {
            withdrawn.push_back(build.previewId);
        }
    }
    if (!withdrawn.empty()) {
        changeCache(
            [withdrawn](PreviewService& service) { service.removeCachedPreviews(withdrawn); });
    }
}

QFuture<void> AppState::refreshCacheUsage() {
    return changeCache([](PreviewService&) {});
}

QFuture<void> AppState::pruneCache() {
    return changeCache([limit = settings_.cacheLimitBytes()](PreviewService& service) {
        service.trimCache(limit);
    });
}

QFuture<void> AppState::setCacheLimit(double gigabytes) {
    const double previous = settings_.cacheLimitGB();
    try {
        settings_.setCacheLimitGB(gigabytes);
    } catch (const std::invalid_argument& refused) {
        assign(errorMessage_, std::optional<std::string>(refused.what()),
               &AppState::errorMessageChanged);
        return finishedFuture();
    } catch (const std::filesystem::filesystem_error&) {
        assign(errorMessage_, std::optional<std::string>(Settings::kCannotSaveMessage),
               &AppState::errorMessageChanged);
        return finishedFuture();
    }
    if (gigabytes != previous) {
        emit cacheLimitGBChanged();
    }
    const bool lowered = gigabytes != 0 && (previous == 0 || gigabytes < previous);
    return lowered ? pruneCache() : finishedFuture();
}

QFuture<void> AppState::changeCache(std::function<void(PreviewService&)> work) {
    return inBackground(
        [this, service = previewService_, work = std::move(work),
         launch = launchFinished_]() mutable -> MainThreadStep {
            // Nothing is removed under a launch that is still unpacking or installing it.
            launch.waitForFinished();
            work(*service);
            std::vector<CachedBuildUsage> builds = service->cachedBuilds();
            return [this, builds = std::move(builds)] {
                if (!isCacheCounted_ || cachedBuilds_ != builds) {
                    isCacheCounted_ = true;
                    cachedBuilds_ = builds;
                    emit cachedBuildsChanged();
                }
            };
        },
        [this](const std::exception_ptr& error) {
            assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
        });
}

void AppState::showDownloadProgress(std::int64_t received, std::int64_t expected,
                                    ProgressClock::time_point at) {
    if (stage_ != LaunchStage::downloading) {
        return;
    }
    estimate_.record(received, expected, at);
    if (downloadedBytes_ == received && expectedBytes_ == expected &&
        secondsLeft_ == estimate_.secondsLeft()) {
        return;
    }
    downloadedBytes_ = received;
    expectedBytes_ = expected;
    secondsLeft_ = estimate_.secondsLeft();
    emit downloadProgressChanged();
    updateLaunchProgress();
}

void AppState::updateLaunchProgress() {
    double fraction = quaylet::launchProgress(stage_, downloadedBytes_, expectedBytes_);
    // A download that starts over (the service kept nothing of the part on disk) counts its
    // bytes again from zero; the bar waits where it was rather than going back.
    if (stage_ == LaunchStage::downloading) {
        fraction = std::max(fraction, launchProgress_);
    }
    assign(launchProgress_, fraction, &AppState::launchProgressChanged);
}

void AppState::resetDownloadProgress() {
    estimate_ = TransferEstimate();
    if (downloadedBytes_ == 0 && expectedBytes_ == 0 && !secondsLeft_) {
        return;
    }
    downloadedBytes_ = 0;
    expectedBytes_ = 0;
    secondsLeft_.reset();
    emit downloadProgressChanged();
}

std::optional<std::string> AppState::downloadDetail() const {
    if (stage_ != LaunchStage::downloading || expectedBytes_ == 0) {
        return std::nullopt;
    }
    return formatDownloadProgress(downloadedBytes_, expectedBytes_, secondsLeft_);
}

std::optional<std::uintmax_t> AppState::cacheSize() const {
    if (!isCacheCounted_) {
        return std::nullopt;
    }
    std::uintmax_t total = 0;
    for (const CachedBuildUsage& build : cachedBuilds_) {
        total += build.allocatedBytes;
    }
    return total;
}

QFuture<void> AppState::runDiagnostics() {
    assign(isCheckingEnvironment_, true, &AppState::isCheckingEnvironmentChanged);
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    return inBackground(
        [this, service = simulatorService_]() -> MainThreadStep {
            EnvironmentSnapshot snapshot = service->environment();
            return [this, snapshot = std::move(snapshot)] {
                assign(environment_, std::optional(snapshot), &AppState::environmentChanged);
                assign(isCheckingEnvironment_, false, &AppState::isCheckingEnvironmentChanged);
            };
        },
        [this](const std::exception_ptr& error) {
            // The snapshot lists problems instead of failing; should it fail all the same,
            // the check must not look as if it were still running.
            assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
            assign(isCheckingEnvironment_, false, &AppState::isCheckingEnvironmentChanged);
        });
}

void AppState::showManifest(const PreviewManifest& manifest) {
    assign(activePreview_, std::optional(manifest), &AppState::activePreviewChanged);
    assign(activeAppName_, std::optional(manifest.displayName), &AppState::activeAppNameChanged);
    const std::string detail = manifest.repository + " \u00B7 PR #" +
                               std::to_string(manifest.pullRequest) + " \u00B7 " +
                               manifest.commitSha.substr(0, 7);
    assign(activeDetail_, std::optional(detail), &AppState::activeDetailChanged);
}

void AppState::showReportedStage(RemoteLaunchStage reported, LaunchSource source) {
    if (const auto stage = launchStage(reported, source)) {
        setStage(*stage);
    }
}

AppState::ProgressCallback AppState::stageReporter(std::stop_token task, LaunchSource source) {
    return
        [self = QPointer<AppState>(this), work = &work_, task, source](RemoteLaunchStage reported) {
            work->apply(
                [self, task, source, reported] {
                    if (self && !task.stop_requested()) {
                        self->showReportedStage(reported, source);
                    }
                },
                task);
        };
}

RepairSettings AppState::repairSettings(std::stop_token task) {
    const auto onRepair = [self = QPointer<AppState>(this), work = &work_,
                           task](const std::string& detail) {
        work->apply(
            [self, task, detail] {
                if (self && !task.stop_requested()) {
                    self->assign(self->repairDetail_, std::optional(detail),
                                 &AppState::repairDetailChanged);
                }
            },
            task);
    };
    return {.bootTimeout = settings_.bootTimeout(), .onRepair = onRepair};
}

void AppState::showOutcomes(const std::vector<DeviceOutcome>& outcomes) {
    deviceOutcomes_ = outcomes;
    const auto ran = std::ranges::find_if(
        outcomes, [](const DeviceOutcome& outcome) { return outcome.report.has_value(); });
    if (ran != outcomes.end()) {
        setStage(LaunchStage::running);  // for a pull request, the core has said so already
        showSuccess(*ran->report);
        return;
    }
    setStage(LaunchStage::idle);
    const auto failed = std::ranges::find_if(
        outcomes, [](const DeviceOutcome& outcome) { return outcome.failure.has_value(); });
    if (failed != outcomes.end()) {
        assign(errorMessage_, failed->failure, &AppState::errorMessageChanged);
    }
}

void AppState::showLaunchFailure(const std::exception_ptr& error) {
    setStage(LaunchStage::idle);
    if (isCancellation(error)) {
        return;
    }
    assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
    try {
        std::rethrow_exception(error);
    } catch (const std::filesystem::filesystem_error& failure) {
        errorDetail_ = failure.what();
    } catch (...) {
        // Every other failure's sentence is already all there is to say.
    }
    if (isAuthenticationRequired(error)) {
        signOutAfterRefusal();
    }
}

void AppState::showSuccess(const SelfTestReport& report) {
    assign(report_, std::optional(report), &AppState::reportChanged);
    assign(activeAppName_, std::optional(report.app.displayName), &AppState::activeAppNameChanged);
    assign(activeDetail_, std::optional(kRunningIn + report.simulator.name),
           &AppState::activeDetailChanged);
}

std::shared_ptr<LaunchTimeline> AppState::startTimeline() {
    timeline_ = std::make_shared<LaunchTimeline>();
    errorDetail_.reset();
    if (timelineSummary_ || !timelineStop_.stoppedAt.empty()) {
        timelineSummary_.reset();
        timelineStop_ = {};
        emit timelineChanged();
    }
    return timeline_;
}

void AppState::finishTimeline(const std::shared_ptr<LaunchTimeline>& timeline,
                              const std::optional<std::string>& token, bool stopped) {
    // A launch that another one replaced was stopped, and what the state shows is not its.
    const bool shown = timeline == timeline_;
    const bool ran = shown && !stopped && report_.has_value();
    nlohmann::ordered_json launch{
        {"time", formatInternetDateTime(std::chrono::system_clock::now())},
        {"source", launchSourceValue().toStdString()},
        {"outcome", stopped ? "cancelled"
                    : ran   ? "running"
                            : "failed"},
        {"message", shown && !stopped && errorMessage_ ? nlohmann::ordered_json(*errorMessage_)
                                                       : nlohmann::ordered_json()},
    };
    if (launchSource_ == LaunchSource::remote && receivedPreviewID_) {
        launch["previewId"] = *receivedPreviewID_;
    }
    if (ran) {
        launch["app"] = {{"name", report_->app.displayName},
                         {"bundleIdentifier", report_->app.bundleIdentifier}};
    }
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const DeviceOutcome& outcome : shown ? deviceOutcomes_ : std::vector<DeviceOutcome>()) {
        devices.push_back({{"udid", outcome.udid},
                           {"name", outcome.deviceName},
                           {"outcome", outcome.report ? "running" : "failed"},
                           {"failure", outcome.failure ? nlohmann::ordered_json(*outcome.failure)
                                                       : nlohmann::ordered_json()}});
    }
    launch["devices"] = std::move(devices);
    nlohmann::ordered_json recorded = timeline->toJson();
    launch["steps"] = std::move(recorded["steps"]);

    if (shown) {
        lastLaunch_ = launch;
        const std::vector<TimelineEntry> entries = timeline->entries();
        if (ran) {
            // Absent rather than empty when nothing was recorded.
            if (std::string line = quaylet::timelineSummary(entries); !line.empty()) {
                timelineSummary_ = std::move(line);
            }
        } else if (!stopped) {
            timelineStop_ = quaylet::timelineStop(entries);
        }
        emit timelineChanged();
    }
    if (launchHistory_) {
        launch["commands"] = std::move(recorded["commands"]);
        if (shown && !stopped && errorDetail_) {
            launch["detail"] = *errorDetail_;
        }
        const Redaction redaction(token ? std::vector{*token} : std::vector<std::string>(), {});
        try {
            launchHistory_->append(redaction.apply(launch.dump()));
        } catch (const std::exception&) {
            // The history is for a later look; failing to keep it changes nothing about the
            // launch, which the state has already shown.
        }
    }
}

QFuture<void> AppState::saveDiagnostics(const QUrl& file) {
    assign(errorMessage_, std::optional<std::string>(), &AppState::errorMessageChanged);
    assign(savedDiagnostics_, std::optional<std::string>(), &AppState::savedDiagnosticsChanged);
    std::optional<std::string> token;
    try {
        token = tokenStore_->readToken();
    } catch (const std::exception&) {
        // Without the token there is nothing of it to take out: it is only ever kept there.
    }
    QFile settingsFile(QString::fromStdString(settings_.file().string()));
    const std::string settings =
        settingsFile.open(QIODevice::ReadOnly) ? settingsFile.readAll().toStdString() : "";
    DiagnosticsSources sources{
        .environment = {},
        .launches = launchHistory_ ? launchHistory_->lines() : std::vector<std::string>(),
        .settings = settings,
        .version = QCoreApplication::applicationVersion().toStdString(),
        .token = std::move(token)};
    const std::filesystem::path path = file.toLocalFile().toStdString();
    return inBackground(
        [this, service = simulatorService_, sources = std::move(sources),
         path]() mutable -> MainThreadStep {
            sources.environment = service->environment();
            writeDiagnosticsBundle(path, sources);
            return [this, path] {
                assign(savedDiagnostics_, std::optional(path.string()),
                       &AppState::savedDiagnosticsChanged);
            };
        },
        [this](const std::exception_ptr& error) {
            assign(errorMessage_, userMessage(error), &AppState::errorMessageChanged);
        });
}

QFuture<void> AppState::inBackground(std::function<MainThreadStep()> work,
                                     std::function<void(std::exception_ptr)> onFailure,
                                     BackgroundWork::Reach reach) {
    return work_.run(
        this,
        [work = std::move(work), onFailure = std::move(onFailure)]() -> MainThreadStep {
            try {
                return work();
            } catch (...) {
                return [onFailure, error = std::current_exception()] { onFailure(error); };
            }
        },
        reach);
}

template <typename T>
void AppState::assign(T& field, T value, void (AppState::*changed)()) {
    if (field == value) {
        return;
    }
    field = std::move(value);
    (this->*changed)();
}

void AppState::setStage(LaunchStage stage) {
    const bool wasInProgress = isLaunchInProgress();
    std::optional<std::string> endedRepair;
    if (stage != stage_) {
        resetDownloadProgress();
        // Cleared with its stage, so that no observer sees that stage without it.
        endedRepair = std::exchange(repairDetail_, std::nullopt);
    }
    assign(stage_, stage, &AppState::stageChanged);
    if (endedRepair) {
        emit repairDetailChanged();
    }
    updateLaunchProgress();
    if (isLaunchInProgress() != wasInProgress) {
        emit isLaunchInProgressChanged();
    }
}

QVariant AppState::environmentValue() const {
    return environment_ ? QVariant(toVariantMap(*environment_)) : QVariant();
}

QString AppState::stageValue() const {
    return QString::fromUtf8(rawValue(stage_));
}

QVariant AppState::activeAppNameValue() const {
    return optionalText(activeAppName_);
}

QVariant AppState::activeDetailValue() const {
    return optionalText(activeDetail_);
}

QVariant AppState::reportValue() const {
    return report_ ? QVariant(toVariantMap(*report_)) : QVariant();
}

QVariant AppState::errorMessageValue() const {
    return optionalText(errorMessage_);
}

QVariant AppState::receivedPreviewIDValue() const {
    return optionalText(receivedPreviewID_);
}

QVariant AppState::activePreviewValue() const {
    return activePreview_ ? QVariant(toVariantMap(*activePreview_)) : QVariant();
}

QString AppState::launchSourceValue() const {
    switch (launchSource_) {
        case LaunchSource::none:
            return QStringLiteral("none");
        case LaunchSource::local:
            return QStringLiteral("local");
        case LaunchSource::remote:
            return QStringLiteral("remote");
    }
    return QStringLiteral("none");
}

QVariantList AppState::buildsValue() const {
    QVariantList builds;
    for (const auto& build : builds_) {
        builds.append(toVariantMap(build));
    }
    return builds;
}

QVariant AppState::buildsErrorValue() const {
    return optionalText(buildsError_);
}

QVariant AppState::secondsLeftValue() const {
    return secondsLeft_ ? QVariant(*secondsLeft_) : QVariant();
}

QVariant AppState::repairDetailValue() const {
    return optionalText(repairDetail_);
}

QVariant AppState::bootDetailValue() const {
    return optionalText(bootDetail_);
}

QVariant AppState::downloadDetailValue() const {
    return optionalText(downloadDetail());
}

QVariant AppState::timelineSummaryValue() const {
    return optionalText(timelineSummary_);
}

QVariant AppState::timelineStopValue() const {
    if (timelineStop_.stoppedAt.empty()) {
        return {};
    }
    return QVariantMap{{"stoppedAt", QString::fromStdString(timelineStop_.stoppedAt)},
                       {"stepsBefore", QString::fromStdString(timelineStop_.stepsBefore)}};
}

QVariant AppState::savedDiagnosticsValue() const {
    return optionalText(savedDiagnostics_);
}

QVariant AppState::cacheSizeValue() const {
    const auto size = cacheSize();
    return size ? QVariant(QString::fromStdString(formatByteCount(*size))) : QVariant();
}

}  // namespace quaylet
