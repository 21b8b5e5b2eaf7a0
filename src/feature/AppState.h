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
#include "core/simulator/EnvironmentSnapshot.h"
#include "core/simulator/LaunchOptions.h"
#include "core/simulator/SelfTestReport.h"
#include "core/support/LaunchTimeline.h"
#include "feature/BackgroundWork.h"
#include "feature/DownloadProgress.h"
#include "feature/LaunchHistory.h"
#include "feature/LaunchStage.h"
#include "feature/PendingSignIn.h"
#include "feature/PreviewService.h"
#include "feature/PullRequestWatcher.h"
#include "feature/Settings.h"
#include "feature/SimulatorService.h"
#include "feature/TimelineText.h"
#include "feature/TokenStore.h"

namespace quaylet {

// The one object the interface observes and drives. It lives on the main thread; every
// property is written there and notifies only when a write changes its value. Long work
// runs on worker threads and comes back through the main thread's event loop. Operations
// that start work return a future that ends once the state shows the outcome; none of them
// throws, failures become messages.
//
// For QML, optional values are QVariant (null when absent) and records are QVariantMaps;
// C++ callers use the typed accessors.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant environment READ environmentValue NOTIFY environmentChanged)
    Q_PROPERTY(
        bool isCheckingEnvironment READ isCheckingEnvironment NOTIFY isCheckingEnvironmentChanged)
    Q_PROPERTY(QString stage READ stageValue NOTIFY stageChanged)
    Q_PROPERTY(QVariant activeAppName READ activeAppNameValue NOTIFY activeAppNameChanged)
    Q_PROPERTY(QVariant activeDetail READ activeDetailValue NOTIFY activeDetailChanged)
    Q_PROPERTY(QVariant report READ reportValue NOTIFY reportChanged)
    Q_PROPERTY(QVariant errorMessage READ errorMessageValue NOTIFY errorMessageChanged)
    Q_PROPERTY(
        QVariant receivedPreviewID READ receivedPreviewIDValue NOTIFY receivedPreviewIDChanged)
    Q_PROPERTY(QVariant activePreview READ activePreviewValue NOTIFY activePreviewChanged)
    // How receivedPreviewID came: "link", "list", "notification" or "watch" (opened
    // automatically for a watched pull request); empty without one.
    Q_PROPERTY(QString receivedFrom READ receivedFrom NOTIFY receivedFromChanged)
    Q_PROPERTY(QString launchSource READ launchSourceValue NOTIFY launchSourceChanged)
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(QVariantList builds READ buildsValue NOTIFY buildsChanged)
    Q_PROPERTY(bool isLoadingBuilds READ isLoadingBuilds NOTIFY isLoadingBuildsChanged)
    Q_PROPERTY(QVariant buildsError READ buildsErrorValue NOTIFY buildsErrorChanged)
    Q_PROPERTY(bool isLaunchInProgress READ isLaunchInProgress NOTIFY isLaunchInProgressChanged)
    Q_PROPERTY(QUrl signInURL READ signInURL CONSTANT)
    Q_PROPERTY(QObject* watcher READ watcherObject CONSTANT)
    Q_PROPERTY(qint64 downloadedBytes READ downloadedBytes NOTIFY downloadProgressChanged)
    Q_PROPERTY(qint64 expectedBytes READ expectedBytes NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant secondsLeft READ secondsLeftValue NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant downloadDetail READ downloadDetailValue NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant repairDetail READ repairDetailValue NOTIFY repairDetailChanged)
    Q_PROPERTY(double launchProgress READ launchProgress NOTIFY launchProgressChanged)
    // The early boot's line while the build downloads: "Starting iPhone 16 Pro…", then
    // "iPhone 16 Pro is ready"; null when no simulator started early.
    Q_PROPERTY(QVariant bootDetail READ bootDetailValue NOTIFY bootDetailChanged)
    Q_PROPERTY(QVariant cacheSize READ cacheSizeValue NOTIFY cachedBuildsChanged)
    Q_PROPERTY(double cacheLimitGB READ cacheLimitGB NOTIFY cacheLimitGBChanged)
    Q_PROPERTY(QVariant timelineSummary READ timelineSummaryValue NOTIFY timelineChanged)
    Q_PROPERTY(QVariant timelineStop READ timelineStopValue NOTIFY timelineChanged)
    Q_PROPERTY(QVariant savedDiagnostics READ savedDiagnosticsValue NOTIFY savedDiagnosticsChanged)

  public:
    struct Collaborators {
        std::shared_ptr<PreviewService> previewService;
        std::shared_ptr<SimulatorService> simulatorService;
        std::shared_ptr<TokenStore> tokenStore;
        Settings settings;
        PendingSignIn pendingSignIn;
        // Where finished launches are kept; absent: nowhere.
        std::optional<LaunchHistory> launchHistory = std::nullopt;

        // The core's services on this host, the user's settings file and sign-in mark.
        // Stopping stop ends all of the services' work in progress (a program's interrupt).
        static Collaborators forThisHost(const QUrl& apiBaseURL, std::stop_token stop = {});
    };

    // Reads nothing and contacts neither the service nor the simulator.
    AppState(QUrl apiBaseURL, Collaborators collaborators, QObject* parent = nullptr);
    explicit AppState(const QUrl& apiBaseURL, QObject* parent = nullptr);

    const std::optional<EnvironmentSnapshot>& environment() const { return environment_; }
    bool isCheckingEnvironment() const { return isCheckingEnvironment_; }
    LaunchStage stage() const { return stage_; }
    const std::optional<std::string>& activeAppName() const { return activeAppName_; }
    const std::optional<std::string>& activeDetail() const { return activeDetail_; }
    const std::optional<SelfTestReport>& report() const { return report_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    const std::optional<std::string>& receivedPreviewID() const { return receivedPreviewID_; }
    const QString& receivedFrom() const { return receivedFrom_; }
    const std::optional<PreviewManifest>& activePreview() const { return activePreview_; }
    LaunchSource launchSource() const { return launchSource_; }
    // Whether a token is stored; the store is read the first time this is asked.
    bool isSignedIn() const;
    const std::vector<PreviewSummary>& builds() const { return builds_; }
    bool isLoadingBuilds() const { return isLoadingBuilds_; }
    const std::optional<std::string>& buildsError() const { return buildsError_; }
    // How the last launch fared on each device it was asked to use, or on the one it chose.
    const std::vector<DeviceOutcome>& deviceOutcomes() const { return deviceOutcomes_; }

    // The last launch's steps as one line once it runs ("Downloaded 1.1 GB in 24 s · Prepared
    // in 2.1 s · …"), and where it stopped when it failed; absent and empty otherwise.
    const std::optional<std::string>& timelineSummary() const { return timelineSummary_; }
    const TimelineStop& timelineStop() const { return timelineStop_; }
    // The last finished launch as one document: "outcome" ("running", "failed" or
    // "cancelled"), "message", "app", "devices" and every step. Absent before the first.
    const std::optional<nlohmann::ordered_json>& lastLaunch() const { return lastLaunch_; }
    // The diagnostics bundle saveDiagnostics wrote last.
    const std::optional<std::string>& savedDiagnostics() const { return savedDiagnostics_; }

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

    // The cached builds, least recently launched first, as last counted by
    // refreshCacheUsage(); their total on disk, absent until counted.
    const std::vector<CachedBuildUsage>& cachedBuilds() const { return cachedBuilds_; }
    std::optional<std::uintmax_t> cacheSize() const;
    double cacheLimitGB() const { return settings_.cacheLimitGB(); }
    std::uintmax_t cacheLimitBytes() const { return settings_.cacheLimitBytes(); }

    // True while a launch runs: the stage is neither idle nor running.
    bool isLaunchInProgress() const;

    // The service's browser sign-in page.
    QUrl signInURL() const;

    // The watched pull requests, kept in the settings file; idle until the shell starts it.
    PullRequestWatcher& watcher() { return watcher_; }
    const PullRequestWatcher& watcher() const { return watcher_; }

    // Records that a sign-in is pending and gives the page to open in the browser. Only a
    // sign-in started here can be completed by a sign-in link. When the record cannot be
    // written, errorMessage says why and the result is empty.
    Q_INVOKABLE QUrl beginSignIn();

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
    // or while a launch is in progress.
    Q_INVOKABLE QFuture<void> runOnSimulator(const QString& udid);
    // Opens an absolute URL in the device the build runs on; a failure becomes errorMessage.
    // Announced with linkOpened.
    Q_INVOKABLE QFuture<void> openURLInApp(const QString& url);
    // The person has read the error message: it goes.
    Q_INVOKABLE void dismissError();

    // Exchanges a sign-in code for a token, stores it, resumes a build asked for while
    // signed out and reloads the builds list. Nothing cancels it.
    QFuture<void> completeAuthentication(const std::string& code);
    Q_INVOKABLE QFuture<void> signOut();
    Q_INVOKABLE QFuture<void> refreshBuilds();
    Q_INVOKABLE QFuture<void> clearDownloadCache();
    // Counts the cached builds on disk, in the background.
    Q_INVOKABLE QFuture<void> refreshCacheUsage();
    // Removes builds, least recently launched first, until the cache fits the limit; after
    // the launch in progress, if any, has ended.
    Q_INVOKABLE QFuture<void> pruneCache();
    // Stores the limit; a lower one is applied at once. A limit that
    // Settings::isValidCacheLimitGB refuses, or one that cannot be stored, is refused with
    // errorMessage.
    Q_INVOKABLE QFuture<void> setCacheLimit(double gigabytes);
    // The window checks a typed limit with the command line's rule, and says it in its words.
    Q_INVOKABLE bool isValidCacheLimit(double gigabytes) const {
        return Settings::isValidCacheLimitGB(gigabytes);
    }
    Q_INVOKABLE QString cacheLimitRange() const { return Settings::kCacheLimitRange; }
    Q_INVOKABLE QFuture<void> runDiagnostics();
    // Writes the diagnostics bundle (DiagnosticsBundle.h) to the local file: a fresh
    // environment snapshot, the kept launches and the settings, with the token, queries and
    // home folder taken out. savedDiagnostics names the file after it, errorMessage says why not.
    Q_INVOKABLE QFuture<void> saveDiagnostics(const QUrl& file);

  signals:
    void environmentChanged();
    void isCheckingEnvironmentChanged();
    void stageChanged();
    void activeAppNameChanged();
    void activeDetailChanged();
    void reportChanged();
    void errorMessageChanged();
    void receivedPreviewIDChanged();
    void receivedFromChanged();
    void activePreviewChanged();
    void launchSourceChanged();
    void isSignedInChanged();
    void buildsChanged();
    void isLoadingBuildsChanged();
    void buildsErrorChanged();
    void isLaunchInProgressChanged();
    void downloadProgressChanged();
    void repairDetailChanged();
    void launchProgressChanged();
    void bootDetailChanged();
    void cachedBuildsChanged();
    void cacheLimitGBChanged();
    // openURLInApp delivered its URL to the device.
    void linkOpened(const QString& deviceName);
    void timelineChanged();
    void savedDiagnosticsChanged();

  private:
    using MainThreadStep = BackgroundWork::Step;
    using ProgressCallback = std::function<void(RemoteLaunchStage)>;

    QVariant environmentValue() const;
    QString stageValue() const;
    QVariant activeAppNameValue() const;
    QVariant activeDetailValue() const;
    QVariant reportValue() const;
    QVariant errorMessageValue() const;
    QVariant receivedPreviewIDValue() const;
    QVariant activePreviewValue() const;
    QString launchSourceValue() const;
    QVariantList buildsValue() const;
    QVariant buildsErrorValue() const;
    QVariant secondsLeftValue() const;
    QVariant downloadDetailValue() const;
    QVariant repairDetailValue() const;
    QVariant bootDetailValue() const;
    QVariant cacheSizeValue() const;
    QVariant timelineSummaryValue() const;
    QVariant timelineStopValue() const;
    QVariant savedDiagnosticsValue() const;
    QObject* watcherObject() { return &watcher_; }

    QFuture<void> beginRemotePreview(const std::string& previewID, const LaunchTargets& targets);
    // Shows each core stage of a launch as a LaunchStage, until the task is stopped.
    ProgressCallback stageReporter(std::stop_token task, LaunchSource source);
    // The user's boot time limit, and each repair shown as repairDetail until the task stops.
    RepairSettings repairSettings(std::stop_token task);
    void showOutcomes(const std::vector<DeviceOutcome>& outcomes);
    void showLaunchFailure(const std::exception_ptr& error);
    void stopLaunchTask();
    void showManifest(const PreviewManifest& manifest);
    void showReportedStage(RemoteLaunchStage reported, LaunchSource source);
    void showSuccess(const SelfTestReport& report);
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
    // Removes the cached builds of previews the service lists as expired, deleted or failed.
    void removeWithdrawnBuilds(const std::vector<PreviewSummary>& builds);
    // Runs work on the cache once the launch in progress, if any, has ended, then counts it.
    QFuture<void> changeCache(std::function<void(PreviewService&)> work);
    void showSignInFailure(const std::exception_ptr& error);
    bool storeToken(const std::string& token);
    void signOutAfterRefusal();

    // Runs work on a worker thread, then on the main thread (while this state exists) the
    // step it returned, or onFailure with what it threw.
    QFuture<void> inBackground(std::function<MainThreadStep()> work,
                               std::function<void(std::exception_ptr)> onFailure,
                               BackgroundWork::Reach reach = BackgroundWork::Reach::host);

    template <typename T>
    void assign(T& field, T value, void (AppState::*changed)());
    void setStage(LaunchStage stage);

    QUrl apiBaseURL_;
    std::shared_ptr<PreviewService> previewService_;
    std::shared_ptr<SimulatorService> simulatorService_;
    std::shared_ptr<TokenStore> tokenStore_;
    Settings settings_;
    PendingSignIn pendingSignIn_;
    std::optional<LaunchHistory> launchHistory_;
    // The running or last pull-request launch; stopping it silences it for good.
    std::optional<std::stop_source> launchTask_;
    // Ends when the running or last pull-request launch has ended, stopped or not.
    QFuture<void> launchFinished_;

    std::optional<EnvironmentSnapshot> environment_;
    bool isCheckingEnvironment_ = false;
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
    // Absent until first asked: a program idling in the tray never opens the secret store.
    mutable std::optional<bool> isSignedIn_;
    std::vector<PreviewSummary> builds_;
    bool isLoadingBuilds_ = false;
    std::optional<std::string> buildsError_;
    std::vector<DeviceOutcome> deviceOutcomes_;
    qint64 downloadedBytes_ = 0;
    qint64 expectedBytes_ = 0;
    std::optional<double> secondsLeft_;
    TransferEstimate estimate_;
    double launchProgress_ = 0;
    bool isCacheCounted_ = false;
    std::vector<CachedBuildUsage> cachedBuilds_;
    std::shared_ptr<LaunchTimeline> timeline_;
    std::optional<std::string> timelineSummary_;
    TimelineStop timelineStop_;
    std::optional<nlohmann::ordered_json> lastLaunch_;
    std::optional<std::string> savedDiagnostics_;
    // Enough threads for a launch, a few cache changes waiting for it, and the list.
    BackgroundWork work_{previewService_, 8};
    // Last: it reads the state from its construction on.
    PullRequestWatcher watcher_;
};

}  // namespace quaylet
