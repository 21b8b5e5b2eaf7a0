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

#include "core/service/PreviewRecords.h"
#include "core/simulator/EnvironmentSnapshot.h"
#include "core/simulator/SelfTestReport.h"
#include "feature/LaunchStage.h"
#include "feature/PendingSignIn.h"
#include "feature/PreviewService.h"
#include "feature/PullRequestWatcher.h"
#include "feature/Settings.h"
#include "feature/SimulatorService.h"
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
    Q_PROPERTY(QString launchSource READ launchSourceValue NOTIFY launchSourceChanged)
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(QVariantList builds READ buildsValue NOTIFY buildsChanged)
    Q_PROPERTY(bool isLoadingBuilds READ isLoadingBuilds NOTIFY isLoadingBuildsChanged)
    Q_PROPERTY(QVariant buildsError READ buildsErrorValue NOTIFY buildsErrorChanged)
    Q_PROPERTY(bool isLaunchInProgress READ isLaunchInProgress NOTIFY isLaunchInProgressChanged)
    Q_PROPERTY(QUrl signInURL READ signInURL CONSTANT)
    Q_PROPERTY(QObject* watcher READ watcherObject CONSTANT)

  public:
    struct Collaborators {
        std::shared_ptr<PreviewService> previewService;
        std::shared_ptr<SimulatorService> simulatorService;
        std::shared_ptr<TokenStore> tokenStore;
        Settings settings;
        PendingSignIn pendingSignIn;

        // The core's services on this host, the user's settings file and sign-in mark.
        static Collaborators forThisHost(const QUrl& apiBaseURL);
    };

    // Reads only whether a token is stored; contacts neither the service nor the simulator.
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
    const std::optional<PreviewManifest>& activePreview() const { return activePreview_; }
    LaunchSource launchSource() const { return launchSource_; }
    bool isSignedIn() const { return isSignedIn_; }
    const std::vector<PreviewSummary>& builds() const { return builds_; }
    bool isLoadingBuilds() const { return isLoadingBuilds_; }
    const std::optional<std::string>& buildsError() const { return buildsError_; }

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
    // A build chosen in the builds list.
    Q_INVOKABLE QFuture<void> open(const QString& previewID);
    // Starts receivedPreviewID again, if there is one.
    Q_INVOKABLE QFuture<void> runReceivedPreview();
    // Cancels a pull-request launch in progress; nothing else can be cancelled.
    Q_INVOKABLE void cancelLaunch();
    // Runs a build from disk. An empty UDID means the simulator is chosen automatically.
    Q_INVOKABLE QFuture<void> runLocalApplication(const QUrl& appURL,
                                                  const QString& preferredSimulatorUDID,
                                                  bool activateSimulator);

    // Exchanges a sign-in code for a token, stores it, resumes a build asked for while
    // signed out and reloads the builds list. Nothing cancels it.
    QFuture<void> completeAuthentication(const std::string& code);
    Q_INVOKABLE QFuture<void> signOut();
    Q_INVOKABLE QFuture<void> refreshBuilds();
    Q_INVOKABLE QFuture<void> clearDownloadCache();
    Q_INVOKABLE QFuture<void> runDiagnostics();

  signals:
    void environmentChanged();
    void isCheckingEnvironmentChanged();
    void stageChanged();
    void activeAppNameChanged();
    void activeDetailChanged();
    void reportChanged();
    void errorMessageChanged();
    void receivedPreviewIDChanged();
    void activePreviewChanged();
    void launchSourceChanged();
    void isSignedInChanged();
    void buildsChanged();
    void isLoadingBuildsChanged();
    void buildsErrorChanged();
    void isLaunchInProgressChanged();

  private:
    // What a worker hands back for the main thread to apply.
    using MainThreadStep = std::function<void()>;

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
    QObject* watcherObject() { return &watcher_; }

    QFuture<void> beginRemotePreview(const std::string& previewID);
    void stopLaunchTask();
    void showManifest(const PreviewManifest& manifest);
    void showReportedStage(RemoteLaunchStage reported, LaunchSource source);
    void showSuccess(const SelfTestReport& report);
    void showSignInFailure(const std::exception_ptr& error);
    bool storeToken(const std::string& token);
    void signOutAfterRefusal();

    // Runs work on a worker thread, then on the main thread (while this state exists) the
    // step it returned, or onFailure with what it threw.
    QFuture<void> inBackground(std::function<MainThreadStep()> work,
                               std::function<void(std::exception_ptr)> onFailure);

    template <typename T>
    void assign(T& field, T value, void (AppState::*changed)());
    void setStage(LaunchStage stage);

    QUrl apiBaseURL_;
    std::shared_ptr<PreviewService> previewService_;
    std::shared_ptr<SimulatorService> simulatorService_;
    std::shared_ptr<TokenStore> tokenStore_;
    Settings settings_;
    PendingSignIn pendingSignIn_;
    // The running or last pull-request launch; stopping it silences it for good.
    std::optional<std::stop_source> launchTask_;
    // Ends when the running or last pull-request launch has ended, stopped or not.
    QFuture<void> launchFinished_;

    std::optional<EnvironmentSnapshot> environment_;
    bool isCheckingEnvironment_ = false;
    LaunchStage stage_ = LaunchStage::idle;
    std::optional<std::string> activeAppName_;
    std::optional<std::string> activeDetail_;
    std::optional<SelfTestReport> report_;
    std::optional<std::string> errorMessage_;
    std::optional<std::string> receivedPreviewID_;
    std::optional<PreviewManifest> activePreview_;
    LaunchSource launchSource_ = LaunchSource::none;
    bool isSignedIn_ = false;
    std::vector<PreviewSummary> builds_;
    bool isLoadingBuilds_ = false;
    std::optional<std::string> buildsError_;
    // Last: it reads the state from its construction on.
    PullRequestWatcher watcher_;
};

}  // namespace quaylet
