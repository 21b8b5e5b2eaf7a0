#include "feature/AppState.h"

#include "feature/CorePreviewService.h"
#include "feature/CoreSimulatorService.h"
#include "feature/CoreTokenStore.h"

namespace quaylet {

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

AppState::AppState(const QUrl& apiBaseURL, Collaborators collaborators, QObject* parent)
    : QObject(parent),
      // Enough threads for a launch, a few cache changes waiting for it, and the list.
      work_(collaborators.previewService, 8),
      account_(work_, apiBaseURL, collaborators.previewService, collaborators.tokenStore,
               std::move(collaborators.pendingSignIn)),
      buildsList_(work_, account_, collaborators.previewService),
      diagnostics_(work_, account_, collaborators.simulatorService, collaborators.settings,
                   collaborators.launchHistory),
      launch_(work_, account_, buildsList_, diagnostics_, collaborators.previewService,
              collaborators.simulatorService, collaborators.settings, collaborators.launchHistory),
      cache_(work_, launch_, buildsList_, collaborators.previewService, collaborators.settings),
      watcher_(account_, buildsList_, launch_, cache_, collaborators.previewService,
               collaborators.settings) {
    const auto showWatches = [this] { buildsList_.showWatches(watcher_.watches()); };
    connect(&watcher_, &PullRequestWatcher::watchesChanged, &buildsList_, showWatches);
    showWatches();
}

AppState::~AppState() {
    work_.close();
}

}  // namespace quaylet
