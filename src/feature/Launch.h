#pragma once

#include <QFuture>
#include <QObject>
#include <QUrl>
#include <QVariant>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/service/PreviewRecords.h"
#include "core/simulator/LaunchOptions.h"
#include "core/simulator/SelfTestReport.h"
#include "core/support/LaunchTimeline.h"
#include "feature/Account.h"
#include "feature/BackgroundWork.h"
#include "feature/BuildsList.h"
#include "feature/Diagnostics.h"
#include "feature/DownloadProgress.h"
#include "feature/LaunchHistory.h"
#include "feature/LaunchStage.h"
#include "feature/PreviewService.h"
#include "feature/Settings.h"
#include "feature/SimulatorService.h"
#include "feature/TimelineText.h"

namespace quaylet {

// The build being launched or running, and the panel's lines about it: its name, a line of
// detail and the message a user reads after a failure (also the account's, the cache's and
// the diagnostics'). Links, the builds list and local builds start launches here.
class Launch : public QObject {
    Q_OBJECT
    Q_PROPERTY(quaylet::LaunchStageKeys::Key stage READ stageKey NOTIFY stageChanged)
    Q_PROPERTY(QVariant activeAppName READ activeAppNameValue NOTIFY activeAppNameChanged)
    Q_PROPERTY(QVariant activeDetail READ activeDetailValue NOTIFY activeDetailChanged)
    Q_PROPERTY(QVariant report READ reportValue NOTIFY reportChanged)
    Q_PROPERTY(QVariant errorMessage READ errorMessageValue NOTIFY errorMessageChanged)
    Q_PROPERTY(
        QVariant receivedPreviewID READ receivedPreviewIDValue NOTIFY receivedPreviewIDChanged)
    Q_PROPERTY(QVariant activePreview READ activePreviewValue NOTIFY activePreviewChanged)
    Q_PROPERTY(bool isAndroid READ isAndroid NOTIFY platformChanged)
    // How receivedPreviewID came: "link", "list", "notification" or "watch" (opened
    // automatically for a watched pull request); empty without one.
    Q_PROPERTY(QString receivedFrom READ receivedFrom NOTIFY receivedFromChanged)
    Q_PROPERTY(
        quaylet::LaunchSourceKeys::Key launchSource READ launchSourceKey NOTIFY launchSourceChanged)
    Q_PROPERTY(bool isLaunchInProgress READ isLaunchInProgress NOTIFY isLaunchInProgressChanged)
    Q_PROPERTY(qint64 downloadedBytes READ downloadedBytes NOTIFY downloadProgressChanged)
    Q_PROPERTY(qint64 expectedBytes READ expectedBytes NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant secondsLeft READ secondsLeftValue NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant downloadDetail READ downloadDetailValue NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant repairDetail READ repairDetailValue NOTIFY repairDetailChanged)
    Q_PROPERTY(double launchProgress READ launchProgress NOTIFY launchProgressChanged)
    // The early boot's line while the build downloads: "Starting iPhone 16 Pro…", then
    // "iPhone 16 Pro is ready"; null when no simulator started early.
    Q_PROPERTY(QVariant bootDetail READ bootDetailValue NOTIFY bootDetailChanged)
    Q_PROPERTY(QVariant timelineSummary READ timelineSummaryValue NOTIFY timelineChanged)
    Q_PROPERTY(QVariant timelineStop READ timelineStopValue NOTIFY timelineChanged)

  public:
    Launch(BackgroundWork& work, Account& account, BuildsList& builds,
           const Diagnostics& diagnostics, std::shared_ptr<PreviewService> previewService,
           std::shared_ptr<SimulatorService> simulatorService, Settings settings,
           std::optional<LaunchHistory> launchHistory, QObject* parent = nullptr);

    LaunchStage stage() const { return stage_; }
    const std::optional<std::string>& activeAppName() const { return activeAppName_; }
    const std::optional<std::string>& activeDetail() const { return activeDetail_; }
    const std::optional<SelfTestReport>& report() const { return report_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    const std::optional<std::string>& receivedPreviewID() const { return receivedPreviewID_; }
    const QString& receivedFrom() const { return receivedFrom_; }
    const std::optional<PreviewManifest>& activePreview() const { return activePreview_; }
    LaunchSource launchSource() const { return launchSource_; }
    // What the build launched or running is for: a pull-request build's manifest says, a
    // build from disk is an Android one by its .apk. iOS until a manifest says otherwise.
    BuildPlatform platform() const { return platform_; }
    bool isAndroid() const { return platform_ == BuildPlatform::android; }
    // How the last launch fared on each device it was asked to use, or on the one it chose.
    const std::vector<DeviceOutcome>& deviceOutcomes() const { return deviceOutcomes_; }

    // The last launch's steps as one line once it runs ("Downloaded 1.1 GB in 24 s · Prepared
    // in 2.1 s · …"), and where it stopped when it failed; absent and empty otherwise.
    const std::optional<std::string>& timelineSummary() const { return timelineSummary_; }
    const TimelineStop& timelineStop() const { return timelineStop_; }
    // The last finished launch as one document: "outcome" ("running", "failed" or
    // "cancelled"), "message", "app", "devices" and every step. Absent before the first.
    const std::optional<nlohmann::ordered_json>& lastLaunch() const { return lastLaunch_; }

    // While downloading: the bytes on disk, the bytes expected (the answer's length, else the
    // manifest's size), a smoothed estimate of the time left, and all of it as one line
    // ("312 MB of 1.1 GB · 24 s left"). Zero and absent at any other stage.
    qint64 downloadedBytes() const { return downloadedBytes_; }
    qint64 expectedBytes() const { return expectedBytes_; }
    std::optional<double> secondsLeft() const { return secondsLeft_; }
    std::optional<std::string> downloadDetail() const;
    // The repair the current step is making ("Restarting iPhone 16 Pro after a stuck
    // start…"); absent once the stage changes.
    const std::optional<std::string>& repairDetail() const { return repairDetail_; }
    // How far the launch has come, from 0 to 1, with the download's bytes (launchProgress in
    // LaunchStage.h); within one launch it never goes back, also when a download starts over.
    double launchProgress() const { return launchProgress_; }
    const std::optional<std::string>& bootDetail() const { return bootDetail_; }

    // True while a launch runs: the stage is neither idle nor running.
    bool isLaunchInProgress() const;
    // Ends when the running or last pull-request launch has ended, stopped or not.
    const QFuture<void>& launchFinished() const { return launchFinished_; }

    // An incoming quaylet:// link. The future ends with the launch or sign-in it started.
    Q_INVOKABLE QFuture<void> receive(const QUrl& url);
    // As receive, a pull-request build running on the targets. They never come from the link.
    QFuture<void> receive(const QUrl& url, const LaunchTargets& targets);
    // A build chosen in the builds list, or opened from elsewhere (see receivedFrom).
    Q_INVOKABLE QFuture<void> open(const QString& previewID, const QString& from = "list");
    // Starts receivedPreviewID again, if there is one.
    Q_INVOKABLE QFuture<void> runReceivedPreview();
    // Cancels a pull-request launch in progress; nothing else can be cancelled.
    Q_INVOKABLE void cancelLaunch();
    // Runs a build from disk. An empty UDID means the simulator is chosen automatically.
    Q_INVOKABLE QFuture<void> runLocalApplication(const QUrl& appURL,
                                                  const QString& preferredSimulatorUDID,
                                                  bool activateSimulator);
    QFuture<void> runLocalApplication(const QUrl& appURL, const QString& preferredSimulatorUDID,
                                      bool activateSimulator, const LaunchTargets& targets);
    // Installs and launches the running build again on exactly this device, from the unpacked
    // copy: nothing is downloaded or unpacked again. Nothing happens without a running build
    // or while a launch is in progress, nor for an Android build.
    Q_INVOKABLE QFuture<void> runOnSimulator(const QString& udid);
    // Opens an absolute URL in the device the build runs on; a failure becomes errorMessage.
    // Announced with linkOpened. Nothing happens for an Android build.
    Q_INVOKABLE QFuture<void> openURLInApp(const QString& url);
    // The person has read the error message: it goes.
    Q_INVOKABLE void dismissError();

    // Exchanges a sign-in code for a token, resumes a build asked for while signed out and
    // reloads the builds list. Nothing cancels it.
    QFuture<void> completeAuthentication(const std::string& code);
    // Silences the pull-request launch in progress for good.
    void stopLaunchTask();
    // The message a user reads now; absent: the earlier one goes.
    void showError(const std::optional<std::string>& message);
    // The downloaded builds are gone, and with them the running one.
    void showCacheCleared();

  signals:
    void stageChanged();
    void activeAppNameChanged();
    void activeDetailChanged();
    void reportChanged();
    void errorMessageChanged();
    void receivedPreviewIDChanged();
    void receivedFromChanged();
    void activePreviewChanged();
    void launchSourceChanged();
    void platformChanged();
    void isLaunchInProgressChanged();
    void downloadProgressChanged();
    void repairDetailChanged();
    void launchProgressChanged();
    void bootDetailChanged();
    // openURLInApp delivered its URL to the device.
    void linkOpened(const QString& deviceName);
    void timelineChanged();

  private:
    using ProgressCallback = std::function<void(RemoteLaunchStage)>;

    LaunchStageKeys::Key stageKey() const { return LaunchStageKeys::Key(stage_); }
    QVariant activeAppNameValue() const;
    QVariant activeDetailValue() const;
    QVariant reportValue() const;
    QVariant errorMessageValue() const;
    QVariant receivedPreviewIDValue() const;
    QVariant activePreviewValue() const;
    LaunchSourceKeys::Key launchSourceKey() const { return LaunchSourceKeys::Key(launchSource_); }
    QVariant secondsLeftValue() const;
    QVariant downloadDetailValue() const;
    QVariant repairDetailValue() const;
    QVariant bootDetailValue() const;
    QVariant timelineSummaryValue() const;
    QVariant timelineStopValue() const;

    QFuture<void> beginRemotePreview(const std::string& previewID, const LaunchTargets& targets);
    // Shows each core stage of a launch as a LaunchStage, until the task is stopped.
    ProgressCallback stageReporter(std::stop_token task, LaunchSource source);
    // The user's boot time limit, and each repair shown as repairDetail until the task stops.
    RepairSettings repairSettings(std::stop_token task);
    void showOutcomes(const std::vector<DeviceOutcome>& outcomes);
    void showLaunchFailure(const std::exception_ptr& error);
    void showManifest(const PreviewManifest& manifest);
    void showReportedStage(RemoteLaunchStage reported, LaunchSource source);
    void showSuccess(const SelfTestReport& report);
    void showSignedOut(bool revoked);
    // A timeline for a launch starting now, shown from then on.
    std::shared_ptr<LaunchTimeline> startTimeline();
    // Shows how the launch went when it is still the one shown, and keeps it in the history
    // with the token (when given) taken out.
    void finishTimeline(const std::shared_ptr<LaunchTimeline>& timeline,
                        const std::optional<std::string>& token, bool stopped);
    void showDownloadProgress(std::int64_t received, std::int64_t expected,
                              ProgressClock::time_point at);
    void resetDownloadProgress();
    void updateLaunchProgress();
    void setStage(LaunchStage stage);

    BackgroundWork& work_;
    Account& account_;
    BuildsList& builds_;
    const Diagnostics& diagnostics_;
    std::shared_ptr<PreviewService> previewService_;
    std::shared_ptr<SimulatorService> simulatorService_;
    Settings settings_;
    std::optional<LaunchHistory> launchHistory_;
    // The running or last pull-request launch; stopping it silences it for good.
    std::optional<std::stop_source> launchTask_;
    QFuture<void> launchFinished_;

    LaunchStage stage_ = LaunchStage::idle;
    std::optional<std::string> activeAppName_;
    std::optional<std::string> activeDetail_;
    std::optional<std::string> repairDetail_;
    std::optional<std::string> bootDetail_;
    std::optional<SelfTestReport> report_;
    std::optional<std::string> errorMessage_;
    // A file-system failure's own words with its paths, kept for the diagnostics only.
    std::optional<std::string> errorDetail_;
    std::optional<std::string> receivedPreviewID_;
    QString receivedFrom_;
    std::optional<PreviewManifest> activePreview_;
    LaunchSource launchSource_ = LaunchSource::none;
    BuildPlatform platform_ = BuildPlatform::iosSimulator;
    std::vector<DeviceOutcome> deviceOutcomes_;
    qint64 downloadedBytes_ = 0;
    qint64 expectedBytes_ = 0;
    std::optional<double> secondsLeft_;
    TransferEstimate estimate_;
    double launchProgress_ = 0;
    std::shared_ptr<LaunchTimeline> timeline_;
    std::optional<std::string> timelineSummary_;
    TimelineStop timelineStop_;
    std::optional<nlohmann::ordered_json> lastLaunch_;
};

}  // namespace quaylet
