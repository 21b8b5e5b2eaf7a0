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
    // The future ends on the main thread; the task is held weakly (BackgroundWork::run).
    state_->runDiagnostics().then([self = QPointer<StartUpTask>(this), run] {
        if (self && run == self->currentRun_ && self->state_) {
            self->state_->refreshBuilds();
        }
    });
}

void StartUpTask::cancel() {
    ++currentRun_;
}

}  // namespace quaylet
