#pragma once

#include <QObject>
#include <QUrl>

#include <memory>
#include <optional>
#include <stop_token>

#include "feature/Account.h"
#include "feature/BackgroundWork.h"
#include "feature/BuildsList.h"
#include "feature/Diagnostics.h"
#include "feature/DownloadCache.h"
#include "feature/Launch.h"
#include "feature/LaunchHistory.h"
#include "feature/PendingSignIn.h"
#include "feature/PreviewService.h"
#include "feature/PullRequestWatcher.h"
#include "feature/Settings.h"
#include "feature/SimulatorService.h"
#include "feature/TokenStore.h"

namespace quaylet {

// The state the interface observes and drives, built over the core's services: the account,
// the builds list, the launch, the download cache, diagnostics and the pull-request watches,
// each its own object. They live on the main thread; every property is written there and
// notifies only when a write changes its value. Long work runs on worker threads and comes
// back through the main thread's event loop. Operations that start work return a future that
// ends once the state shows the outcome; none of them throws, failures become messages.
//
// For QML, optional values are QVariant (null when absent) and records are QVariantMaps;
// C++ callers use the typed accessors.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(quaylet::Account* account READ accountObject CONSTANT)
    Q_PROPERTY(quaylet::BuildsList* buildsList READ buildsListObject CONSTANT)
    Q_PROPERTY(quaylet::DownloadCache* cache READ cacheObject CONSTANT)
    Q_PROPERTY(quaylet::Diagnostics* diagnostics READ diagnosticsObject CONSTANT)
    Q_PROPERTY(quaylet::Launch* launch READ launchObject CONSTANT)
    Q_PROPERTY(quaylet::PullRequestWatcher* watcher READ watcherObject CONSTANT)

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
        // Stopping stop ends all of the services' work in progress (an interrupt, a quit).
        static Collaborators forThisHost(const QUrl& apiBaseURL, std::stop_token stop);
    };

    // Reads nothing and contacts neither the service nor the simulator.
    AppState(const QUrl& apiBaseURL, Collaborators collaborators, QObject* parent = nullptr);
    ~AppState() override;

    Account& account() { return account_; }
    const Account& account() const { return account_; }
    BuildsList& buildsList() { return buildsList_; }
    const BuildsList& buildsList() const { return buildsList_; }
    DownloadCache& cache() { return cache_; }
    const DownloadCache& cache() const { return cache_; }
    Diagnostics& diagnostics() { return diagnostics_; }
    const Diagnostics& diagnostics() const { return diagnostics_; }
    Launch& launch() { return launch_; }
    const Launch& launch() const { return launch_; }
    // The watched pull requests, kept in the settings file; idle until the shell starts it.
    PullRequestWatcher& watcher() { return watcher_; }
    const PullRequestWatcher& watcher() const { return watcher_; }

  private:
    Account* accountObject() { return &account_; }
    BuildsList* buildsListObject() { return &buildsList_; }
    DownloadCache* cacheObject() { return &cache_; }
    Diagnostics* diagnosticsObject() { return &diagnostics_; }
    Launch* launchObject() { return &launch_; }
    PullRequestWatcher* watcherObject() { return &watcher_; }

    // The sub-objects' long work. Constructed before them and closed in the destructor before
    // any of them goes, so no job outlives what it uses.
    BackgroundWork work_;
    // In the order they depend on each other: each listens to those before it.
    Account account_;
    BuildsList buildsList_;
    Diagnostics diagnostics_;
    Launch launch_;
    DownloadCache cache_;
    PullRequestWatcher watcher_;
};

}  // namespace quaylet
