#pragma once

#include <QObject>
#include <QPointer>

namespace quaylet {

class AppState;

// What the main window does each time it comes up: run the diagnostics, then reload the
// builds list. Dismissing the window first cancels the second step.
class StartUpTask : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* appState READ appState WRITE setAppState NOTIFY appStateChanged)

  public:
    explicit StartUpTask(QObject* parent = nullptr) : QObject(parent) {}

    QObject* appState() const;
    void setAppState(QObject* state);

    Q_INVOKABLE void start();
    Q_INVOKABLE void cancel();

  signals:
    void appStateChanged();

  private:
    QPointer<AppState> state_;
    // Each start() gets a new run number; a run whose number is no longer current is over.
    quint64 currentRun_ = 0;
};

}  // namespace quaylet
