#pragma once

#include <QObject>
#include <QPointer>

#include "feature/BuildsList.h"
#include "feature/Diagnostics.h"

namespace quaylet {

// What the main window does each time it comes up: run the diagnostics, then reload the
// builds list. Dismissing the window first cancels the second step.
class StartUpTask : public QObject {
    Q_OBJECT
    // Set once, by the window that starts the task.
    Q_PROPERTY(quaylet::Diagnostics* diagnostics READ diagnostics WRITE setDiagnostics)
    Q_PROPERTY(quaylet::BuildsList* buildsList READ buildsList WRITE setBuildsList)

  public:
    explicit StartUpTask(QObject* parent = nullptr) : QObject(parent) {}

    Diagnostics* diagnostics() const { return diagnostics_; }
    void setDiagnostics(Diagnostics* diagnostics) { diagnostics_ = diagnostics; }
    BuildsList* buildsList() const { return buildsList_; }
    void setBuildsList(BuildsList* buildsList) { buildsList_ = buildsList; }

    Q_INVOKABLE void start();
    Q_INVOKABLE void cancel();

  private:
    QPointer<Diagnostics> diagnostics_;
    QPointer<BuildsList> buildsList_;
    // Each start() gets a new run number; a run whose number is no longer current is over.
    quint64 currentRun_ = 0;
};

}  // namespace quaylet
