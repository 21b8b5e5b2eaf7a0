#include "app/StartUpTask.h"

#include "feature/AppState.h"

namespace quaylet {

QObject* StartUpTask::appState() const {
    return state_;
}

void StartUpTask::setAppState(QObject* state) {
    auto* appState = qobject_cast<AppState*>(state);
    if (appState != state_) {
        state_ = appState;
        emit appStateChanged();
    }
}

void StartUpTask::start() {
    if (!state_) {
        return;
    }
    const quint64 run = ++currentRun_;
    state_->runDiagnostics().then(this, [this, run] {
        if (run == currentRun_ && state_) {
            state_->refreshBuilds();
        }
    });
}

void StartUpTask::cancel() {
    ++currentRun_;
}

}  // namespace quaylet
