#include "app/StartUpTask.h"

namespace quaylet {

void StartUpTask::start() {
    if (!diagnostics_) {
        return;
    }
    const quint64 run = ++currentRun_;
    // The future ends on the main thread. The task is held weakly rather than as the
    // continuation's context: Qt 6.4 asserts on a context that has gone.
    diagnostics_->runDiagnostics().then([self = QPointer<StartUpTask>(this), run] {
        if (self && run == self->currentRun_ && self->buildsList_) {
            self->buildsList_->refreshBuilds();
        }
    });
}

void StartUpTask::cancel() {
    ++currentRun_;
}

}  // namespace quaylet
