#include "app/StartUpTask.h"

namespace quaylet {

void StartUpTask::start() {
    if (!diagnostics_) {
        return;
    }
    const quint64 run = ++currentRun_;
    // The future ends on the main thread; the task is held weakly (BackgroundWork::run).
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
