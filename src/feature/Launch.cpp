#include "feature/Launch.h"

#include <QPointer>
#include <QPromise>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <variant>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/support/InternetDateTime.h"
#include "core/support/Redaction.h"
#include "feature/IncomingLink.h"
#include "feature/MainThread.h"
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
const std::string kTestingLocalIOSBuild = "Testing a local iOS build";
const std::string kTestingLocalAndroidBuild = "Testing a local Android build";
const std::string kRunningIn = "Running in ";
const std::string kOpeningIn = "Opening in ";

QVariant optionalText(const std::optional<std::string>& value) {
    return value ? QVariant(QString::fromStdString(*value)) : QVariant();
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

Launch::Launch(BackgroundWork& work, Account& account, BuildsList& builds,
               const Diagnostics& diagnostics, std::shared_ptr<PreviewService> previewService,
               std::shared_ptr<SimulatorService> simulatorService, Settings settings,
               std::optional<LaunchHistory> launchHistory, QObject* parent)
    : QObject(parent),
      work_(work),
      account_(account),
      builds_(builds),
      diagnostics_(diagnostics),
      previewService_(std::move(previewService)),
      simulatorService_(std::move(simulatorService)),
      settings_(std::move(settings)),
      launchHistory_(std::move(launchHistory)) {
    connect(&account_, &Account::failed, this, &Launch::showError);
    connect(&account_, &Account::signedIn, this, [this] {
        showError(std::nullopt);
        assign(this, activeDetail_, std::optional(kSignedIn), &Launch::activeDetailChanged);
    });
    connect(&account_, &Account::signInFailed, this, [this](const auto& message) {
        showError(message);
        assign(this, activeDetail_, std::optional(kSignInFailed), &Launch::activeDetailChanged);
    });
    connect(&account_, &Account::signingOut, this, &Launch::stopLaunchTask);
    connect(&account_, &Account::signedOut, this, &Launch::showSignedOut);
    connect(&account_, &Account::signOutFailed, this, [this](const auto& message) {
        showError(message);
        assign(this, activeDetail_, std::optional(kSignOutFailed), &Launch::activeDetailChanged);
    });
    connect(&diagnostics_, &Diagnostics::errorReported, this, &Launch::showError);
}

bool Launch::isLaunchInProgress() const {
    return stage_ != LaunchStage::idle && stage_ != LaunchStage::running;
}

QFuture<void> Launch::receive(const QUrl& url) {
    return receive(url, LaunchTargets());
}

QFuture<void> Launch::receive(const QUrl& url, const LaunchTargets& targets) {
    const IncomingLink link = parseIncomingLink(url);
    if (const auto* signIn = std::get_if<SignInReturnLink>(&link)) {
        // A code that arrives without a sign-in of ours pending came from someone else, or
        // too late: either way nothing is exchanged, and the way on is a fresh sign-in.
        if (!account_.consumePendingSignIn()) {
            assign(this, errorMessage_, std::optional(kSignInLinkExpired),
                   &Launch::errorMessageChanged);
            return finishedFuture();
        }
        assign(this, activeDetail_, std::optional(kFinishingSignIn), &Launch::activeDetailChanged);
        return completeAuthentication(signIn->code);
    }
    if (const auto* preview = std::get_if<PreviewLink>(&link)) {
        assign(this, receivedFrom_, QStringLiteral("link"), &Launch::receivedFromChanged);
        assign(this, receivedPreviewID_, std::optional(preview->previewID),
               &Launch::receivedPreviewIDChanged);
        assign(this, activeAppName_, std::optional(kPullRequestBuild),
               &Launch::activeAppNameChanged);
        if (!account_.isSignedIn()) {
            assign(this, activeDetail_, std::optional(kSignInPrompt), &Launch::activeDetailChanged);
            return finishedFuture();
        }
        return beginRemotePreview(preview->previewID, targets);
    }
    assign(this, errorMessage_, std::optional(QuayletError::invalidDeepLink().errorDescription()),
           &Launch::errorMessageChanged);
    return finishedFuture();
}

QFuture<void> Launch::open(const QString& previewID, const QString& from) {
    const std::string id = previewID.toStdString();
    assign(this, receivedFrom_, from, &Launch::receivedFromChanged);
    assign(this, receivedPreviewID_, std::optional(id), &Launch::receivedPreviewIDChanged);
    std::string name = kPullRequestBuild;
    for (const auto& build : builds_.builds()) {
        if (build.previewID == id) {
            name = build.displayName;
            break;
        }
    }
    assign(this, activeAppName_, std::optional(name), &Launch::activeAppNameChanged);
    if (!account_.isSignedIn()) {
        assign(this, activeDetail_, std::optional(kSignInPrompt), &Launch::activeDetailChanged);
        return finishedFuture();
    }
    return beginRemotePreview(id, LaunchTargets());
}

QFuture<void> Launch::runReceivedPreview() {
    if (!receivedPreviewID_) {
        return finishedFuture();
    }
    return beginRemotePreview(*receivedPreviewID_, LaunchTargets());
}

void Launch::cancelLaunch() {
    if (launchSource_ != LaunchSource::remote || !isLaunchInProgress()) {
        return;
    }
    stopLaunchTask();
    assign(this, activeDetail_, std::optional(kBuildCanceled), &Launch::activeDetailChanged);
}

void Launch::stopLaunchTask() {
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

QFuture<void> Launch::beginRemotePreview(const std::string& previewID,
                                         const LaunchTargets& targets) {
    const std::optional<std::string> token = account_.token();
    if (!token) {
        stopLaunchTask();
        account_.markSignedOut();
        assign(this, activeDetail_, std::optional(kSignInPrompt), &Launch::activeDetailChanged);
        return finishedFuture();
    }
    // The earlier launch is silenced; the new one takes over the stage at once below.
    if (launchTask_) {
        launchTask_->request_stop();
    }
    launchTask_.emplace(work_.task());
    const std::stop_token task = launchTask_->get_token();

    assign(this, report_, std::optional<SelfTestReport>(), &Launch::reportChanged);
    assign(this, errorMessage_, std::optional<std::string>(), &Launch::errorMessageChanged);
    assign(this, bootDetail_, std::optional<std::string>(), &Launch::bootDetailChanged);
    deviceOutcomes_.clear();
    assign(this, activePreview_, std::optional<PreviewManifest>(), &Launch::activePreviewChanged);
    assign(this, launchSource_, LaunchSource::remote, &Launch::launchSourceChanged);
    assign(this, platform_, BuildPlatform::iosSimulator, &Launch::platformChanged);
    assign(this, activeAppName_, std::optional(kPullRequestBuild), &Launch::activeAppNameChanged);
    setStage(LaunchStage::fetching);

    const std::shared_ptr<LaunchTimeline> timeline = startTimeline();
    const QPointer<Launch> self(this);
    BackgroundWork* const work = &work_;
    // Called for every piece of the download on the launching thread; only some of them are
    // worth a trip to the main thread, and none of them waits for it.
    auto pacer = std::make_shared<DownloadPacer>();
    const RemoteLaunchRequest request{
        .previewID = previewID,
        .token = *token,
        .preferredSimulatorUDID = udidOrAutomatic(settings_.preferredSimulatorUDID()),
        .preferredEmulator = udidOrAutomatic(settings_.preferredEmulator()),
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
                            assign(self.data(), self->bootDetail_, std::optional(line),
                                   &Launch::bootDetailChanged);
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
    launchFinished_ = work_.run(
        this,
        [this, service = previewService_, request, onManifest, timeline, token,
         onProgress = stageReporter(task, LaunchSource::remote), task]() -> BackgroundWork::Step {
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

QFuture<void> Launch::runLocalApplication(const QUrl& appURL, const QString& preferredSimulatorUDID,
                                          bool activateSimulator) {
    return runLocalApplication(appURL, preferredSimulatorUDID, activateSimulator, LaunchTargets());
}

QFuture<void> Launch::runLocalApplication(const QUrl& appURL, const QString& preferredSimulatorUDID,
                                          bool activateSimulator, const LaunchTargets& targets) {
    const std::filesystem::path app = appURL.toLocalFile().toStdString();
    assign(this, report_, std::optional<SelfTestReport>(), &Launch::reportChanged);
    assign(this, errorMessage_, std::optional<std::string>(), &Launch::errorMessageChanged);
    deviceOutcomes_.clear();
    assign(this, receivedPreviewID_, std::optional<std::string>(),
           &Launch::receivedPreviewIDChanged);
    assign(this, activePreview_, std::optional<PreviewManifest>(), &Launch::activePreviewChanged);
    assign(this, launchSource_, LaunchSource::local, &Launch::launchSourceChanged);
    assign(this, activeAppName_, std::optional(nameWithoutExtension(app)),
           &Launch::activeAppNameChanged);
    const BuildPlatform platform = localBuildPlatform(app);
    assign(this, platform_, platform, &Launch::platformChanged);
    assign(this, activeDetail_,
           std::optional(platform == BuildPlatform::android ? kTestingLocalAndroidBuild
                                                            : kTestingLocalIOSBuild),
           &Launch::activeDetailChanged);
    setStage(LaunchStage::inspecting);
    setStage(LaunchStage::selecting);

    const std::shared_ptr<LaunchTimeline> timeline = startTimeline();
    // Nobody cancels a local launch; quitting stops it.
    const std::stop_token quit = work_.task().get_token();
    return work_.run(
        this,
        [this, service = simulatorService_, app,
         udid = udidOrAutomatic(preferredSimulatorUDID.toStdString()),
         emulator = udidOrAutomatic(settings_.preferredEmulator()), activateSimulator, targets,
         timeline, repairs = repairSettings(quit),
         onProgress = stageReporter(quit, LaunchSource::local), quit]() -> BackgroundWork::Step {
            std::vector<DeviceOutcome> outcomes =
                service->runLocalApplication(app, udid, emulator, activateSimulator, targets,
                                             timeline.get(), repairs, onProgress, quit);
            return [this, timeline, outcomes = std::move(outcomes)] {
                showOutcomes(outcomes);
                finishTimeline(timeline, std::nullopt, false);
            };
        },
        [this, timeline](const std::exception_ptr& error) {
            showLaunchFailure(error);
            finishTimeline(timeline, std::nullopt, isCancellation(error));
        },
        BackgroundWork::Reach::host);
}

QFuture<void> Launch::runOnSimulator(const QString& udid) {
    if (!report_ || isLaunchInProgress() || isAndroid()) {
        return finishedFuture();
    }
    const std::filesystem::path app = report_->app.appPath;
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
    if (const auto& environment = diagnostics_.environment();
        environment && environment->inventory) {
        const auto& devices = environment->inventory->devices;
        if (const auto found = std::ranges::find(devices, device, &SimulatorDevice::udid);
            found != devices.end()) {
            deviceName = found->name;
        }
    }
    assign(this, report_, std::optional<SelfTestReport>(), &Launch::reportChanged);
    assign(this, errorMessage_, std::optional<std::string>(), &Launch::errorMessageChanged);
    deviceOutcomes_.clear();
    assign(this, activeDetail_, std::optional(kOpeningIn + deviceName),
           &Launch::activeDetailChanged);
    setStage(LaunchStage::selecting);

    const LaunchTargets targets{.simulatorUDIDs = {device}};
    const std::shared_ptr<LaunchTimeline> timeline = startTimeline();
    // A pull-request build run again is a launch of that build: the service hears of it and
    // the cache counts it as used, as after the launch that unpacked it.
    std::optional<RemoteLaunchRequest> relaunch;
    const std::optional<std::string> token =
        launchSource_ == LaunchSource::remote ? account_.token() : std::nullopt;
    if (token && receivedPreviewID_ && activePreview_) {
        relaunch = RemoteLaunchRequest{.previewID = *receivedPreviewID_,
                                       .token = *token,
                                       .activateSimulator = settings_.activateSimulator(),
                                       .targets = targets,
                                       .cacheLimitBytes = settings_.cacheLimitBytes(),
                                       .repairs = repairSettings(task),
                                       .timeline = timeline.get()};
    }
    return work_.run(
        this,
        [this, service = simulatorService_, previews = previewService_, app, targets, relaunch,
         manifest = activePreview_, activateSimulator = settings_.activateSimulator(), timeline,
         repairs = repairSettings(task), onProgress = stageReporter(task, launchSource_),
         task]() -> BackgroundWork::Step {
            std::vector<DeviceOutcome> outcomes =
                relaunch ? previews->relaunch(*relaunch, *manifest, app, onProgress, task)
                         : service->runLocalApplication(app, std::nullopt, std::nullopt,
                                                        activateSimulator, targets, timeline.get(),
                                                        repairs, onProgress, task);
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

QFuture<void> Launch::openURLInApp(const QString& url) {
    if (!report_) {
        return finishedFuture();
    }
    assign(this, errorMessage_, std::optional<std::string>(), &Launch::errorMessageChanged);
    return work_.run(
        this,
        [this, service = simulatorService_, android = isAndroid(), udid = report_->simulator.udid,
         package = report_->app.bundleIdentifier,
         device = QString::fromStdString(report_->simulator.name),
         url = url.toStdString()]() -> BackgroundWork::Step {
            if (android) {
                service->openURLInEmulator(udid, package, url);
            } else {
                service->openURL(udid, url);
            }
            return [this, device] { emit linkOpened(device); };
        },
        [this](const std::exception_ptr& error) {
            assign(this, errorMessage_, userMessage(error), &Launch::errorMessageChanged);
        },
        BackgroundWork::Reach::host);
}

void Launch::dismissError() {
    assign(this, errorMessage_, std::optional<std::string>(), &Launch::errorMessageChanged);
}

void Launch::showDownloadProgress(std::int64_t received, std::int64_t expected,
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

void Launch::updateLaunchProgress() {
    double fraction = quaylet::launchProgress(stage_, downloadedBytes_, expectedBytes_);
    // A download that starts over (the service kept nothing of the part on disk) counts its
    // bytes again from zero; the bar waits where it was rather than going back.
    if (stage_ == LaunchStage::downloading) {
        fraction = std::max(fraction, launchProgress_);
    }
    assign(this, launchProgress_, fraction, &Launch::launchProgressChanged);
}

void Launch::resetDownloadProgress() {
    estimate_ = TransferEstimate();
    if (downloadedBytes_ == 0 && expectedBytes_ == 0 && !secondsLeft_) {
        return;
    }
    downloadedBytes_ = 0;
    expectedBytes_ = 0;
    secondsLeft_.reset();
    emit downloadProgressChanged();
}

std::optional<std::string> Launch::downloadDetail() const {
    if (stage_ != LaunchStage::downloading || expectedBytes_ == 0) {
        return std::nullopt;
    }
    return formatDownloadProgress(downloadedBytes_, expectedBytes_, secondsLeft_);
}

void Launch::showManifest(const PreviewManifest& manifest) {
    assign(this, activePreview_, std::optional(manifest), &Launch::activePreviewChanged);
    // The launcher refuses a platform it cannot open before anything reaches a device.
    assign(this, platform_,
           buildPlatformFromString(manifest.platform).value_or(BuildPlatform::iosSimulator),
           &Launch::platformChanged);
    assign(this, activeAppName_, std::optional(manifest.displayName),
           &Launch::activeAppNameChanged);
    const std::string detail = manifest.repository + " \u00B7 PR #" +
                               std::to_string(manifest.pullRequest) + " \u00B7 " +
                               manifest.commitSha.substr(0, 7);
    assign(this, activeDetail_, std::optional(detail), &Launch::activeDetailChanged);
}

void Launch::showReportedStage(RemoteLaunchStage reported, LaunchSource source) {
    if (const auto stage = launchStage(reported, source)) {
        setStage(*stage);
    }
}

Launch::ProgressCallback Launch::stageReporter(std::stop_token task, LaunchSource source) {
    return
        [self = QPointer<Launch>(this), work = &work_, task, source](RemoteLaunchStage reported) {
            work->apply(
                [self, task, source, reported] {
                    if (self && !task.stop_requested()) {
                        self->showReportedStage(reported, source);
                    }
                },
                task);
        };
}

RepairSettings Launch::repairSettings(std::stop_token task) {
    const auto onRepair = [self = QPointer<Launch>(this), work = &work_,
                           task](const std::string& detail) {
        work->apply(
            [self, task, detail] {
                if (self && !task.stop_requested()) {
                    assign(self.data(), self->repairDetail_, std::optional(detail),
                           &Launch::repairDetailChanged);
                }
            },
            task);
    };
    return {.bootTimeout = settings_.bootTimeout(), .onRepair = onRepair};
}

void Launch::showOutcomes(const std::vector<DeviceOutcome>& outcomes) {
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
        assign(this, errorMessage_, failed->failure, &Launch::errorMessageChanged);
    }
}

void Launch::showLaunchFailure(const std::exception_ptr& error) {
    setStage(LaunchStage::idle);
    if (isCancellation(error)) {
        return;
    }
    assign(this, errorMessage_, userMessage(error), &Launch::errorMessageChanged);
    try {
        std::rethrow_exception(error);
    } catch (const std::filesystem::filesystem_error& failure) {
        errorDetail_ = failure.what();
    } catch (...) {
        // Every other failure's sentence is already all there is to say.
    }
    if (isAuthenticationRequired(error)) {
        account_.forgetToken();
    }
}

void Launch::showSuccess(const SelfTestReport& report) {
    assign(this, report_, std::optional(report), &Launch::reportChanged);
    assign(this, activeAppName_, std::optional(report.app.displayName),
           &Launch::activeAppNameChanged);
    assign(this, activeDetail_, std::optional(kRunningIn + report.simulator.name),
           &Launch::activeDetailChanged);
}

std::shared_ptr<LaunchTimeline> Launch::startTimeline() {
    timeline_ = std::make_shared<LaunchTimeline>();
    errorDetail_.reset();
    if (timelineSummary_ || !timelineStop_.stoppedAt.empty()) {
        timelineSummary_.reset();
        timelineStop_ = {};
        emit timelineChanged();
    }
    return timeline_;
}

void Launch::finishTimeline(const std::shared_ptr<LaunchTimeline>& timeline,
                            const std::optional<std::string>& token, bool stopped) {
    // A launch that another one replaced was stopped, and what the state shows is not its.
    const bool shown = timeline == timeline_;
    const bool ran = shown && !stopped && report_.has_value();
    nlohmann::ordered_json launch{
        {"time", formatInternetDateTime(std::chrono::system_clock::now())},
        {"source", rawValue(launchSource_)},
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

void Launch::setStage(LaunchStage stage) {
    const bool wasInProgress = isLaunchInProgress();
    std::optional<std::string> endedRepair;
    if (stage != stage_) {
        resetDownloadProgress();
        // Cleared with its stage, so that no observer sees that stage without it.
        endedRepair = std::exchange(repairDetail_, std::nullopt);
    }
    assign(this, stage_, stage, &Launch::stageChanged);
    if (endedRepair) {
        emit repairDetailChanged();
    }
    updateLaunchProgress();
    if (isLaunchInProgress() != wasInProgress) {
        emit isLaunchInProgressChanged();
    }
}

QVariant Launch::activeAppNameValue() const {
    return optionalText(activeAppName_);
}

QVariant Launch::activeDetailValue() const {
    return optionalText(activeDetail_);
}

QVariant Launch::reportValue() const {
    return report_ ? QVariant(toVariantMap(*report_)) : QVariant();
}

QVariant Launch::errorMessageValue() const {
    return optionalText(errorMessage_);
}

QVariant Launch::receivedPreviewIDValue() const {
    return optionalText(receivedPreviewID_);
}

QVariant Launch::activePreviewValue() const {
    return activePreview_ ? QVariant(toVariantMap(*activePreview_)) : QVariant();
}

QVariant Launch::secondsLeftValue() const {
    return secondsLeft_ ? QVariant(*secondsLeft_) : QVariant();
}

QVariant Launch::repairDetailValue() const {
    return optionalText(repairDetail_);
}

QVariant Launch::bootDetailValue() const {
    return optionalText(bootDetail_);
}

QVariant Launch::downloadDetailValue() const {
    return optionalText(downloadDetail());
}

QVariant Launch::timelineSummaryValue() const {
    return optionalText(timelineSummary_);
}

QVariant Launch::timelineStopValue() const {
    if (timelineStop_.stoppedAt.empty()) {
        return {};
    }
    return QVariantMap{{"stoppedAt", QString::fromStdString(timelineStop_.stoppedAt)},
                       {"stepsBefore", QString::fromStdString(timelineStop_.stepsBefore)}};
}

QFuture<void> Launch::completeAuthentication(const std::string& code) {
    auto finished = std::make_shared<QPromise<void>>();
    finished->start();
    // The account's future ends on the main thread (BackgroundWork::run).
    account_.completeAuthentication(code).then(
        [self = QPointer<Launch>(this), finished](bool signedIn) {
            if (!self || !signedIn) {
                finished->finish();
                return;
            }
            if (self->receivedPreviewID_) {
                self->beginRemotePreview(*self->receivedPreviewID_, LaunchTargets());
            }
            self->builds_.refreshBuilds().then([finished] { finished->finish(); });
        });
    return finished->future();
}

void Launch::showError(const std::optional<std::string>& message) {
    assign(this, errorMessage_, message, &Launch::errorMessageChanged);
}

void Launch::showCacheCleared() {
    assign(this, report_, std::optional<SelfTestReport>(), &Launch::reportChanged);
    setStage(LaunchStage::idle);
    showError(std::nullopt);
    assign(this, activeDetail_, std::optional(kCacheCleared), &Launch::activeDetailChanged);
}

void Launch::showSignedOut(bool revoked) {
    // A deliberate sign-out is not a link waiting for a sign-in.
    assign(this, receivedPreviewID_, std::optional<std::string>(),
           &Launch::receivedPreviewIDChanged);
    setStage(LaunchStage::idle);
    if (revoked) {
        assign(this, report_, std::optional<SelfTestReport>(), &Launch::reportChanged);
        showError(std::nullopt);
    }
    assign(this, activeDetail_, std::optional(kSignedOut), &Launch::activeDetailChanged);
}

}  // namespace quaylet
